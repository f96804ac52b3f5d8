#include "ntfs/logfile/analysis/LogFile_Analysis_Update.h"

#include <array>

#include "output/Event_Tables.h"
#include "platform/text.h"

std::u16string Row_Update_Statement(Row_Update update, const Row_Update_Values& v) {
    const auto e = Escape_Sql_Value;
    switch (update) {
        case Row_Update::Event:
            return platform::Format(u"update LogFile set Event='%s' where LSN=%s", {e(v.Event), e(v.LSN)});
        case Row_Update::EventTime:
            return platform::Format(u"update LogFile set EventTime='%s' where LSN=%s", {e(v.EventTime), e(v.LSN)});
        case Row_Update::EventTime_Event_Detail:
            return platform::Format(u"update LogFile set EventTime='%s', Event='%s', Detail='%s' where LSN=%s",
                                    {e(v.EventTime), e(v.Event), e(v.Detail), e(v.LSN)});
    }
    return {};
}

bool Update_Earlier_Row_As_Text(CppSQLite3DB& db, Row_Update update, const Row_Update_Values& values) {
    try {
        db.Run_Query(Row_Update_Statement(update, values));
        return true;
    } catch (const CppSQLite3Exception&) {
        return false;
    }
}

namespace {

Bound_Run Run_Bound_Update(CppSQLite3DB& db, Row_Update update, const Row_Update_Values& v) {
    switch (update) {
        case Row_Update::Event: {
            const std::array<std::u16string_view, 2> values = {v.Event, v.LSN};
            return Run_Bound_Text(db, u"update LogFile set Event=? where LSN=?", values);
        }
        case Row_Update::EventTime: {
            const std::array<std::u16string_view, 2> values = {v.EventTime, v.LSN};
            return Run_Bound_Text(db, u"update LogFile set EventTime=? where LSN=?", values);
        }
        case Row_Update::EventTime_Event_Detail: {
            const std::array<std::u16string_view, 4> values = {v.EventTime, v.Event, v.Detail, v.LSN};
            return Run_Bound_Text(db, u"update LogFile set EventTime=?, Event=?, Detail=? where LSN=?", values);
        }
    }
    return Bound_Run::Not_Prepared;
}

}  // namespace

bool Update_Earlier_Row(CppSQLite3DB& db, Row_Update update, const Row_Update_Values& values) {
    if (Is_Plain_Decimal(values.LSN)) {
        switch (Run_Bound_Update(db, update, values)) {
            case Bound_Run::Done: return true;
            case Bound_Run::Refused: return false;
            case Bound_Run::Not_Prepared: break;
        }
    }
    return Update_Earlier_Row_As_Text(db, update, values);
}
