#include "output/Event_Tables.h"

#include <algorithm>
#include <array>
#include <vector>

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

std::u16string Stored_Sql_Value(std::u16string_view value) {
    std::u16string stored = Escape_Sql_Value(value);
    platform::Replace(stored, u"''", u"'");
    return stored;
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

// The buffers that hold the bound texts until the statement has run; reused
// from row to row, so a row costs no allocation once they have grown.
struct Bound_Texts {
    std::vector<std::string> Narrow;
    std::vector<std::u16string> Wide;
};

// ASCII text (by far the most common) is bound as the same bytes in UTF-8,
// which spares SQLite its conversion; the ASCII stored form needs no more
// than the cut at a NUL and the comma turned into a slash. False when the text
// holds anything beyond ASCII.
bool Stored_Ascii(std::u16string_view value, std::string& narrow) {
    narrow.resize(value.size());
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char16_t c = value[i];
        if (c == u'\0') {
            narrow.resize(i);
            break;
        }
        if (c >= 0x80) return false;
        narrow[i] = c == u',' ? '/' : static_cast<char>(c);
    }
    return true;
}

bool Bind(sqlite3_stmt* statement, int index, std::u16string_view value, std::string& narrow, std::u16string& wide) {
    // data() is never null, so an empty text is bound as '' (not NULL), as the literal is.
    if (Stored_Ascii(value, narrow))
        return sqlite3_bind_text(statement, index, narrow.data(), static_cast<int>(narrow.size()), SQLITE_STATIC) ==
               SQLITE_OK;
    // Any other text is bound as UTF-16 in its stored form, which SQLite
    // converts exactly as it converts the text of a statement.
    wide = Stored_Sql_Value(value);
    return sqlite3_bind_text16(statement, index, wide.data(), static_cast<int>(wide.size() * sizeof(char16_t)),
                               SQLITE_STATIC) == SQLITE_OK;
}

}  // namespace

Bound_Run Run_Bound_Text(CppSQLite3DB& db, std::u16string_view statement, std::span<const std::u16string_view> values,
                         int* result) {
    sqlite3_stmt* prepared = db.Kept_Statement(statement);
    if (prepared == nullptr) return Bound_Run::Not_Prepared;
    static thread_local Bound_Texts texts;
    if (texts.Narrow.size() < values.size()) {
        texts.Narrow.resize(values.size());
        texts.Wide.resize(values.size());
    }
    bool bound = true;
    for (std::size_t i = 0; i < values.size() && bound; ++i)
        bound = Bind(prepared, static_cast<int>(i + 1), values[i], texts.Narrow[i], texts.Wide[i]);
    const int rc = bound ? sqlite3_step(prepared) : SQLITE_ERROR;
    sqlite3_reset(prepared);
    // The bound texts live in buffers that the next row overwrites.
    sqlite3_clear_bindings(prepared);
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
