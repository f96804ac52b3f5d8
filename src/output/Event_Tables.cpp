#include "output/Event_Tables.h"

#include "platform/text.h"

using platform::Format;

std::u16string Escape_Sql_Value(std::u16string_view value) {
    std::u16string out(platform::Cut_At_Nul(value));
    // An unpaired surrogate (NTFS names may hold one) would swallow the closing
    // quote when SQLite converts the statement, and the row would be lost.
    for (std::size_t i = 0; i < out.size(); ++i) {
        const char16_t c = out[i];
        const bool high = c >= 0xD800 && c <= 0xDBFF;
        const bool low = c >= 0xDC00 && c <= 0xDFFF;
        if (high && i + 1 < out.size() && out[i + 1] >= 0xDC00 && out[i + 1] <= 0xDFFF) {
            ++i;
        } else if (high || low) {
            out[i] = u'\uFFFD';
        }
    }
    platform::Replace(out, u"'", u"''");
    platform::Replace(out, u",", u"/");
    return out;
}

namespace {

int Run_Insert(CppSQLite3DB& db, const std::u16string& statement) {
    try {
        db.Run_Query(statement);
        return 0;
    } catch (...) {
        return 1;
    }
}

}  // namespace

int Insert_LogFile_Row(CppSQLite3DB& db, const _log_info& r) {
    const std::u16string cluster_index = Format(u"%I64u", {r.MFT_ClusterIndex});
    const auto e = Escape_Sql_Value;
    return Run_Insert(db, Format(Event_Table_Sql::Insert_LogFile,
                                 {e(r.LSN), e(r.EventTime), e(r.Event), e(r.Detail), e(r.FileName), e(r.FullPath),
                                  e(r.CreateTime), e(r.ModifiedTime), e(r.MFT_ModifiedTime), e(r.AccessTime),
                                  e(r.RedoInfo), e(r.TargetVCN), e(cluster_index)}));
}

int Insert_UsnJrnl_Row(CppSQLite3DB& db, const _USNJRNLINFO& r) {
    const auto e = Escape_Sql_Value;
    return Run_Insert(db, Format(Event_Table_Sql::Insert_UsnJrnl,
                                 {e(r.TimeStamp), e(r.USN), e(r.FileName), e(r.FullPath), e(r.Event), e(r.SourceInfo),
                                  e(r.FileAttr), e(r.CarvingFlag), e(r.FileReferenceNumber),
                                  e(r.ParentFileReferenceNumber)}));
}
