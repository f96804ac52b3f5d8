#include "output/Event_Tables.h"

#include <algorithm>
#include <array>
#include <vector>

#include "platform/text.h"

using platform::Format;

std::u16string Escape_Sql_Value(std::u16string_view value) {
    std::u16string out = Stored_Sql_Value(value);
    platform::Replace(out, u"'", u"''");
    return out;
}

bool Is_Plain_Decimal(std::u16string_view value) {
    return !value.empty() && std::all_of(value.begin(), value.end(), [](char16_t c) { return c >= u'0' && c <= u'9'; });
}

namespace {

// The statement's result code: SQLITE_OK when it ran.
int Run_Insert(CppSQLite3DB& db, const std::u16string& statement) {
    try {
        db.Run_Query(statement);
        return SQLITE_OK;
    } catch (const CppSQLite3Exception& e) {
        return e.Code();
    }
}

int Count_Refusal(int code, std::uint64_t& refused_keys) {
    if (code == SQLITE_OK) return 0;
    if (code == SQLITE_CONSTRAINT) ++refused_keys;
    return 1;
}

}  // namespace

Bound_Run Run_Bound_Text(CppSQLite3DB& db, std::u16string_view statement, std::span<const std::u16string_view> values,
                         int* result) {
    CppSQLite3Statement* prepared = db.Kept_Statement(statement);
    if (prepared == nullptr) return Bound_Run::Not_Prepared;
    // The bound texts, reused from row to row, so a row costs no allocation
    // once they have grown.
    static thread_local std::vector<std::string> texts;
    if (texts.size() < values.size()) texts.resize(values.size());
    const int rc = prepared->Step_Once([&](CppSQLite3Statement& s) {
        for (std::size_t i = 0; i < values.size(); ++i) {
            texts[i].clear();
            Append_Stored_Value(values[i], texts[i]);
            s.Bind_Text(static_cast<int>(i + 1), texts[i]);
        }
    });
    // The bound texts live in buffers that the next row overwrites.
    prepared->Clear_Bindings();
    if (result != nullptr) *result = rc;
    return rc == SQLITE_DONE ? Bound_Run::Done : Bound_Run::Refused;
}

int Insert_LogFile_Row(CppSQLite3DB& db, const _log_info& r) {
    if (Is_Plain_Decimal(r.LSN)) {
        const std::u16string cluster_index = platform::Unsigned_Decimal_Text(r.MFT_ClusterIndex);
        const std::array<std::u16string_view, 13> values = {
            r.LSN,        r.EventTime,        r.Event,      r.Detail,   r.FileName,  r.FullPath,   r.CreateTime,
            r.ModifiedTime, r.MFT_ModifiedTime, r.AccessTime, r.RedoInfo, r.TargetVCN, cluster_index};
        int code = SQLITE_OK;
        switch (Run_Bound_Text(db, Event_Table_Sql::Insert_LogFile_Bound, values, &code)) {
            case Bound_Run::Done: return 0;
            case Bound_Run::Refused: return Count_Refusal(code, db.Refused_Keys().LogFile);
            case Bound_Run::Not_Prepared: break;
        }
    }
    return Insert_LogFile_Row_As_Text(db, r);
}

int Insert_LogFile_Row_As_Text(CppSQLite3DB& db, const _log_info& r) {
    const std::u16string cluster_index = Format(u"%I64u", {r.MFT_ClusterIndex});
    const auto e = Escape_Sql_Value;
    const int code = Run_Insert(db, Format(Event_Table_Sql::Insert_LogFile,
                                           {e(r.LSN), e(r.EventTime), e(r.Event), e(r.Detail), e(r.FileName),
                                            e(r.FullPath), e(r.CreateTime), e(r.ModifiedTime), e(r.MFT_ModifiedTime),
                                            e(r.AccessTime), e(r.RedoInfo), e(r.TargetVCN), e(cluster_index)}));
    return Count_Refusal(code, db.Refused_Keys().LogFile);
}

int Insert_UsnJrnl_Row(CppSQLite3DB& db, const _USNJRNLINFO& r) {
    const auto e = Escape_Sql_Value;
    const int code = Run_Insert(db, Format(Event_Table_Sql::Insert_UsnJrnl,
                                           {e(r.TimeStamp), e(r.USN), e(r.FileName), e(r.FullPath), e(r.Event),
                                            e(r.SourceInfo), e(r.FileAttr), e(r.CarvingFlag),
                                            e(r.FileReferenceNumber), e(r.ParentFileReferenceNumber)}));
    return Count_Refusal(code, db.Refused_Keys().UsnJrnl);
}
