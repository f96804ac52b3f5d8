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

UsnJrnl_Row_Inserter::UsnJrnl_Row_Inserter(CppSQLite3DB& db)
    : db_(db),
      statement_(CppSQLite3Statement::Try_Prepare(db, std::u16string(u"insert ") + Insert_Columns + Row_Parameters)) {}

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
    const int rc = statement_.Step_Once([&](CppSQLite3Statement& s) {
        // An empty text is bound as '' (not NULL), as the literal is.
        for (std::size_t c = 0; c < Stored_UsnJrnl_Rows::Values_Per_Row; ++c)
            s.Bind_Text(static_cast<int>(c + 1), rows.Value(row, c));
    });
    if (rc == SQLITE_DONE) return 0;
    if (rc == SQLITE_CONSTRAINT) ++db_.Refused_Keys().UsnJrnl;
    return 1;
}

bool UsnJrnl_Row_Inserter::Prepare_Group() {
    if (group_statement_.Is_Prepared()) return true;
    if (group_prepare_failed_) return false;
    group_statement_ = CppSQLite3Statement::Try_Prepare(db_, Group_Statement(Group_Rows));
    group_prepare_failed_ = !group_statement_.Is_Prepared();
    return !group_prepare_failed_;
}

void UsnJrnl_Row_Inserter::Insert_Group(const Stored_UsnJrnl_Rows& rows, std::size_t first) {
    const int rc = group_statement_.Step_Once([&](CppSQLite3Statement& s) {
        int parameter = 1;
        for (std::size_t row = first; row < first + Group_Rows; ++row)
            for (std::size_t c = 0; c < Stored_UsnJrnl_Rows::Values_Per_Row; ++c)
                s.Bind_Text(parameter++, rows.Value(row, c));
    });
    // Anything but a refused key (a full disk, say) ends the whole statement:
    // each row then gets its own, which is what it would have had.
    if (rc != SQLITE_DONE) {
        for (std::size_t row = first; row < first + Group_Rows; ++row) Insert_One(rows, row);
        return;
    }
    // The rows left out are those whose key was already stored.
    const auto stored = static_cast<std::uint64_t>(db_.Changes());
    if (stored < Group_Rows) db_.Refused_Keys().UsnJrnl += Group_Rows - stored;
}
