#include "output/UsnJrnl_Row_Inserter.h"

#include <algorithm>

#include "output/Event_Tables.h"
#include "platform/text.h"

namespace {

constexpr char16_t Insert_Columns[] =
    u"into UsnJrnl (TimeStamp, USN, FileName, FullPath,  Event, SourceInfo, FileAttr, CarvingFlag, "
    u"FileReferenceNumber, ParentFileReferenceNumber) values";
constexpr char16_t Row_Parameters[] = u"(?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";

// Inserts of Group_Rows rows in one statement. A row whose USN is already
// stored is refused by itself, as one statement per row refuses it: "or
// ignore" leaves that row out and goes on with the statement's next row,
// where a plain insert would end the whole statement. The key is the only
// constraint of the table, so nothing else is ignored.
std::u16string Group_Statement(std::size_t rows) {
    std::u16string sql = std::u16string(u"insert or ignore ") + Insert_Columns;
    for (std::size_t i = 0; i < rows; ++i) sql.append(i == 0 ? u"" : u", ").append(Row_Parameters);
    return sql;
}

// Writes `c` in UTF-8 at `out`; returns the end.
char* Put_Utf8(char32_t c, char* out) {
    if (c < 0x80) {
        *out++ = static_cast<char>(c);
    } else if (c < 0x800) {
        *out++ = static_cast<char>(0xC0 | (c >> 6));
        *out++ = static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        *out++ = static_cast<char>(0xE0 | (c >> 12));
        *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (c & 0x3F));
    } else {
        *out++ = static_cast<char>(0xF0 | (c >> 18));
        *out++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (c & 0x3F));
    }
    return out;
}

// Stored_Sql_Value(value) in UTF-8, in one pass: the literal's doubled quotes
// stand for the quotes themselves, so only a NUL (the end), a "," and an
// unpaired surrogate change.
void Append_Stored_Value(std::u16string_view value, std::string& out) {
    const std::size_t start = out.size();
    // No unit takes more than three bytes (a surrogate pair takes four for two).
    out.resize(start + 3 * value.size());
    char* p = out.data() + start;
    for (std::size_t i = 0; i < value.size(); ++i) {
        char32_t c = value[i];
        if (c < 0x80) {
            if (c == 0) break;
            *p++ = c == u',' ? '/' : static_cast<char>(c);
            continue;
        }
        const bool high = c >= 0xD800 && c <= 0xDBFF;
        const bool low = c >= 0xDC00 && c <= 0xDFFF;
        if (high && i + 1 < value.size() && value[i + 1] >= 0xDC00 && value[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (value[i + 1] - 0xDC00);
            ++i;
        } else if (high || low) {
            c = 0xFFFD;
        }
        p = Put_Utf8(c, p);
    }
    out.resize(static_cast<std::size_t>(p - out.data()));
}

}  // namespace

void Stored_UsnJrnl_Rows::Add(const _USNJRNLINFO& row) {
    if (!Is_Plain_Decimal(row.USN)) inline_rows_.emplace_back(rows_, row);
    const std::u16string* values[Values_Per_Row] = {
        &row.TimeStamp, &row.USN,      &row.FileName,    &row.FullPath,
        &row.Event,     &row.SourceInfo, &row.FileAttr, &row.CarvingFlag,
        &row.FileReferenceNumber, &row.ParentFileReferenceNumber};
    for (const std::u16string* value : values) {
        Append_Stored_Value(*value, bytes_);
        value_ends_.push_back(bytes_.size());
    }
    ++rows_;
}

void Stored_UsnJrnl_Rows::Clear() {
    rows_ = 0;
    bytes_.clear();
    value_ends_.clear();
    inline_rows_.clear();
}

void Stored_UsnJrnl_Rows::Reserve(std::size_t rows) {
    // About what a journal row of a name in a few folders takes.
    bytes_.reserve(rows * 256);
    value_ends_.reserve(rows * Values_Per_Row);
}

std::string_view Stored_UsnJrnl_Rows::Value(std::size_t row, std::size_t column) const {
    const std::size_t at = row * Values_Per_Row + column;
    const std::size_t begin = at == 0 ? 0 : value_ends_[at - 1];
    return std::string_view(bytes_.data() + begin, value_ends_[at] - begin);
}

const _USNJRNLINFO* Stored_UsnJrnl_Rows::Inline_Row(std::size_t row) const {
    if (inline_rows_.empty()) return nullptr;
    const auto found = std::lower_bound(inline_rows_.begin(), inline_rows_.end(), row,
                                        [](const auto& entry, std::size_t r) { return entry.first < r; });
    return found != inline_rows_.end() && found->first == row ? &found->second : nullptr;
}

UsnJrnl_Row_Inserter::UsnJrnl_Row_Inserter(CppSQLite3DB& db) : db_(db) {
    if (!db_.Is_Open()) return;
    const std::u16string single = std::u16string(u"insert ") + Insert_Columns + Row_Parameters;
    if (sqlite3_prepare16_v2(db_.Connection(), single.c_str(), -1, &statement_, nullptr) != SQLITE_OK) {
        sqlite3_finalize(statement_);
        statement_ = nullptr;
    }
}

UsnJrnl_Row_Inserter::~UsnJrnl_Row_Inserter() {
    sqlite3_finalize(statement_);
    sqlite3_finalize(group_statement_);
}

int UsnJrnl_Row_Inserter::Insert(const _USNJRNLINFO& row) {
    if (!Prepared() || !Is_Plain_Decimal(row.USN)) return Insert_UsnJrnl_Row(db_, row);
    one_.Clear();
    one_.Add(row);
    return Insert_One(one_, 0);
}

void UsnJrnl_Row_Inserter::Insert(const Stored_UsnJrnl_Rows& rows) {
    std::size_t next = 0;
    while (next < rows.Size()) {
        std::size_t run = 0;
        while (run < Group_Rows && next + run < rows.Size() && rows.Inline_Row(next + run) == nullptr) ++run;
        if (run == Group_Rows && Prepared() && Prepare_Group()) {
            Insert_Group(rows, next);
            next += run;
        } else {
            Insert_One(rows, next);
            ++next;
        }
    }
}

int UsnJrnl_Row_Inserter::Insert_One(const Stored_UsnJrnl_Rows& rows, std::size_t row) {
    if (const _USNJRNLINFO* as_given = rows.Inline_Row(row)) return Insert_UsnJrnl_Row(db_, *as_given);
    if (!Prepared()) {
        // The stored form read back stores itself again through the inline
        // statement: it holds no NUL and no ",", and its quotes are doubled
        // for the literal once more.
        _USNJRNLINFO r;
        std::u16string* values[Stored_UsnJrnl_Rows::Values_Per_Row] = {
            &r.TimeStamp, &r.USN,      &r.FileName,    &r.FullPath,
            &r.Event,     &r.SourceInfo, &r.FileAttr, &r.CarvingFlag,
            &r.FileReferenceNumber, &r.ParentFileReferenceNumber};
        for (std::size_t c = 0; c < Stored_UsnJrnl_Rows::Values_Per_Row; ++c)
            *values[c] = platform::Utf8_To_Utf16(rows.Value(row, c));
        return Insert_UsnJrnl_Row(db_, r);
    }
    for (std::size_t c = 0; c < Stored_UsnJrnl_Rows::Values_Per_Row; ++c) {
        // data() is never null, so an empty text is bound as '' (not NULL),
        // as the literal is.
        const std::string_view value = rows.Value(row, c);
        sqlite3_bind_text(statement_, static_cast<int>(c + 1), value.data(), static_cast<int>(value.size()),
                          SQLITE_STATIC);
    }
    const int rc = sqlite3_step(statement_);
    sqlite3_reset(statement_);
    if (rc == SQLITE_DONE) return 0;
    if (rc == SQLITE_CONSTRAINT) ++db_.Refused_Keys().UsnJrnl;
    return 1;
}

bool UsnJrnl_Row_Inserter::Prepare_Group() {
    if (group_statement_ != nullptr) return true;
    if (group_prepare_failed_) return false;
    const std::u16string group = Group_Statement(Group_Rows);
    if (sqlite3_prepare16_v2(db_.Connection(), group.c_str(), -1, &group_statement_, nullptr) != SQLITE_OK) {
        sqlite3_finalize(group_statement_);
        group_statement_ = nullptr;
        group_prepare_failed_ = true;
    }
    return group_statement_ != nullptr;
}

void UsnJrnl_Row_Inserter::Insert_Group(const Stored_UsnJrnl_Rows& rows, std::size_t first) {
    int parameter = 1;
    for (std::size_t row = first; row < first + Group_Rows; ++row) {
        for (std::size_t c = 0; c < Stored_UsnJrnl_Rows::Values_Per_Row; ++c) {
            const std::string_view value = rows.Value(row, c);
            sqlite3_bind_text(group_statement_, parameter++, value.data(), static_cast<int>(value.size()),
                              SQLITE_STATIC);
        }
    }
    const int rc = sqlite3_step(group_statement_);
    sqlite3_reset(group_statement_);
    // Anything but a refused key (a full disk, say) ends the whole statement:
    // each row then gets its own, which is what it would have had.
    if (rc != SQLITE_DONE) {
        for (std::size_t row = first; row < first + Group_Rows; ++row) Insert_One(rows, row);
        return;
    }
    // The rows left out are those whose key was already stored.
    const auto stored = static_cast<std::uint64_t>(sqlite3_changes64(db_.Connection()));
    if (stored < Group_Rows) db_.Refused_Keys().UsnJrnl += Group_Rows - stored;
}
