#include "output/UsnJrnl_Row_Inserter.h"

#include <algorithm>

#include "output/Event_Tables.h"
#include "platform/text.h"

namespace {

// The columns in the order of Insert_UsnJrnl_Row's statement.
constexpr char16_t Insert_UsnJrnl_Bound[] =
    u"insert into UsnJrnl (TimeStamp, USN, FileName, FullPath,  Event, SourceInfo, FileAttr, CarvingFlag, "
    u"FileReferenceNumber, ParentFileReferenceNumber) values(?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";

// The inline statement carries the USN unquoted; bound as text it is stored
// the same way only when it is a plain run of digits (anything else makes the
// inline statement invalid, or a different expression).
bool Is_Decimal_Literal(std::u16string_view value) {
    return !value.empty() && std::all_of(value.begin(), value.end(), [](char16_t c) { return c >= u'0' && c <= u'9'; });
}

// One look at a value: whether escaping changes it (a NUL, a "'" or a ","),
// and, when it is all ASCII, its bytes in `narrow`.
struct Value_Kind {
    bool Escaping_Changes = false;
    bool Ascii = true;
};

Value_Kind Classify(const std::u16string& value, std::string& narrow) {
    Value_Kind kind;
    narrow.resize(value.size());
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char16_t c = value[i];
        if (c == u'\0' || c == u'\'' || c == u',' || (c >= 0xD800 && c <= 0xDFFF)) kind.Escaping_Changes = true;
        if (c >= 0x80) kind.Ascii = false;
        narrow[i] = static_cast<char>(c);
    }
    return kind;
}

}  // namespace

std::u16string Stored_Sql_Value(std::u16string_view value) {
    std::u16string stored = Escape_Sql_Value(value);
    platform::Replace(stored, u"''", u"'");
    return stored;
}

UsnJrnl_Row_Inserter::UsnJrnl_Row_Inserter(CppSQLite3DB& db) : db_(db) {
    if (!db_.Is_Open()) return;
    if (sqlite3_prepare16_v2(db_.Connection(), Insert_UsnJrnl_Bound, -1, &statement_, nullptr) != SQLITE_OK) {
        sqlite3_finalize(statement_);
        statement_ = nullptr;
    }
}

UsnJrnl_Row_Inserter::~UsnJrnl_Row_Inserter() { sqlite3_finalize(statement_); }

int UsnJrnl_Row_Inserter::Insert(const _USNJRNLINFO& row) {
    if (statement_ == nullptr || !Is_Decimal_Literal(row.USN)) return Insert_UsnJrnl_Row(db_, row);
    const std::u16string* values[10] = {&row.TimeStamp, &row.USN,      &row.FileName,    &row.FullPath,
                                        &row.Event,     &row.SourceInfo, &row.FileAttr, &row.CarvingFlag,
                                        &row.FileReferenceNumber, &row.ParentFileReferenceNumber};
    for (int i = 0; i < 10; ++i) {
        Value_Kind kind = Classify(*values[i], narrow_[i]);
        const std::u16string* value = values[i];
        if (kind.Escaping_Changes) {
            escaped_[i] = Stored_Sql_Value(*value);
            value = &escaped_[i];
            kind = Classify(*value, narrow_[i]);
        }
        // ASCII text is bound as the same bytes in UTF-8, which spares SQLite
        // its conversion; any other text goes in as UTF-16 and SQLite converts
        // it exactly as it converts the inline statement. data() is never
        // null, so an empty text is bound as '' (not NULL), as the literal is.
        if (kind.Ascii) {
            sqlite3_bind_text(statement_, i + 1, narrow_[i].data(), static_cast<int>(narrow_[i].size()), SQLITE_STATIC);
        } else {
            sqlite3_bind_text16(statement_, i + 1, value->data(), static_cast<int>(value->size() * sizeof(char16_t)),
                                SQLITE_STATIC);
        }
    }
    const int rc = sqlite3_step(statement_);
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
    return rc == SQLITE_DONE ? 0 : 1;
}
