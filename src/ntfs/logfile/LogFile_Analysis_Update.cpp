#include "ntfs/logfile/LogFile_Analysis_Update.h"

#include "output/Event_Tables.h"
#include "platform/text.h"

std::u16string Row_Update_Statement(Row_Update update, const _log_info& row) {
    const auto e = Escape_Sql_Value;
    switch (update) {
        case Row_Update::Event:
            return platform::Format(u"update LogFile set Event='%s' where LSN=%s", {e(row.Event), e(row.LSN)});
        case Row_Update::EventTime:
            return platform::Format(u"update LogFile set EventTime='%s' where LSN=%s", {e(row.EventTime), e(row.LSN)});
        case Row_Update::EventTime_Event_Detail:
            return platform::Format(u"update LogFile set EventTime='%s', Event='%s', Detail='%s' where LSN=%s",
                                    {e(row.EventTime), e(row.Event), e(row.Detail), e(row.LSN)});
    }
    return {};
}

bool Update_Earlier_Row(CppSQLite3DB& db, Row_Update update, const _log_info& row) {
    try {
        db.Run_Query(Row_Update_Statement(update, row));
        return true;
    } catch (...) {
        return false;
    }
}
