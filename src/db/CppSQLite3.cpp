#include "db/CppSQLite3.h"

#include <algorithm>
#include <utility>

#include "platform/console.h"
#include "platform/text.h"

namespace {

std::u16string Error_Text(sqlite3* connection) {
    if (connection == nullptr) return {};
    const auto* text = static_cast<const char16_t*>(sqlite3_errmsg16(connection));
    return text == nullptr ? std::u16string() : std::u16string(text);
}

[[noreturn]] void Raise(int code, std::u16string_view message) { throw CppSQLite3Exception(code, message); }

[[noreturn]] void Raise_Wrapper(const char* message) { Raise(CPPSQLITE_ERROR, platform::Ascii(message)); }

// "file:<path>?immutable=1", every byte of the path that a URI would read
// otherwise written as %XX. An absolute path gets an empty authority, so
// that a path beginning with "//" is no host name.
std::string Immutable_Uri(const std::string& path) {
    static constexpr char Hex[] = "0123456789ABCDEF";
    std::string uri = !path.empty() && path[0] == '/' ? "file://" : "file:";
    for (const char c : path) {
        const auto b = static_cast<unsigned char>(c);
        if ((b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9') || c == '/' || c == '-' ||
            c == '.' || c == '_' || c == '~') {
            uri.push_back(c);
        } else {
            uri.push_back('%');
            uri.push_back(Hex[b >> 4]);
            uri.push_back(Hex[b & 0xF]);
        }
    }
    return uri + "?immutable=1";
}

}  // namespace

const char* Sqlite_Result_Code_Name(int code) {
    switch (code) {
    case SQLITE_OK: return "SQLITE_OK";
    case SQLITE_ERROR: return "SQLITE_ERROR";
    case SQLITE_INTERNAL: return "SQLITE_INTERNAL";
    case SQLITE_PERM: return "SQLITE_PERM";
    case SQLITE_ABORT: return "SQLITE_ABORT";
    case SQLITE_BUSY: return "SQLITE_BUSY";
    case SQLITE_LOCKED: return "SQLITE_LOCKED";
    case SQLITE_NOMEM: return "SQLITE_NOMEM";
    case SQLITE_READONLY: return "SQLITE_READONLY";
    case SQLITE_INTERRUPT: return "SQLITE_INTERRUPT";
    case SQLITE_IOERR: return "SQLITE_IOERR";
    case SQLITE_CORRUPT: return "SQLITE_CORRUPT";
    case SQLITE_NOTFOUND: return "SQLITE_NOTFOUND";
    case SQLITE_FULL: return "SQLITE_FULL";
    case SQLITE_CANTOPEN: return "SQLITE_CANTOPEN";
    case SQLITE_PROTOCOL: return "SQLITE_PROTOCOL";
    case SQLITE_EMPTY: return "SQLITE_EMPTY";
    case SQLITE_SCHEMA: return "SQLITE_SCHEMA";
    case SQLITE_TOOBIG: return "SQLITE_TOOBIG";
    case SQLITE_CONSTRAINT: return "SQLITE_CONSTRAINT";
    case SQLITE_MISMATCH: return "SQLITE_MISMATCH";
    case SQLITE_MISUSE: return "SQLITE_MISUSE";
    case SQLITE_NOLFS: return "SQLITE_NOLFS";
    case SQLITE_AUTH: return "SQLITE_AUTH";
    case SQLITE_FORMAT: return "SQLITE_FORMAT";
    case SQLITE_RANGE: return "SQLITE_RANGE";
    case SQLITE_ROW: return "SQLITE_ROW";
    case SQLITE_DONE: return "SQLITE_DONE";
    case CPPSQLITE_ERROR: return "CPPSQLITE_ERROR";
    default: return "UNKNOWN_ERROR";
    }
}

// ---------------------------------------------------------------- exception

CppSQLite3Exception::CppSQLite3Exception(int code, std::u16string_view message)
    : Code_(code),
      Message_(platform::Format(u"%s[%d]: %s", {platform::Ascii(Sqlite_Result_Code_Name(code)), code, message})) {}

CppSQLite3Exception::CppSQLite3Exception(const CppSQLite3Exception& other) = default;

CppSQLite3Exception::~CppSQLite3Exception() = default;

// ---------------------------------------------------------------- query

CppSQLite3Query::CppSQLite3Query(sqlite3* connection, sqlite3_stmt* statement, bool at_end, bool owns_statement)
    : Connection_(connection),
      Statement_(statement),
      At_End_(at_end),
      Column_Count_(statement == nullptr ? 0 : sqlite3_column_count(statement)),
      Owns_Statement_(owns_statement) {}

CppSQLite3Query::CppSQLite3Query(CppSQLite3Query&& other) noexcept
    : Connection_(other.Connection_),
      Statement_(other.Statement_),
      At_End_(other.At_End_),
      Column_Count_(other.Column_Count_),
      Owns_Statement_(other.Owns_Statement_) {
    other.Statement_ = nullptr;
}

CppSQLite3Query& CppSQLite3Query::operator=(CppSQLite3Query&& other) noexcept {
    if (this != &other) {
        Finalize_Quietly();
        Statement_ = other.Statement_;
        At_End_ = other.At_End_;
        Column_Count_ = other.Column_Count_;
        Owns_Statement_ = other.Owns_Statement_;
        other.Statement_ = nullptr;
    }
    return *this;
}

CppSQLite3Query::~CppSQLite3Query() { Finalize_Quietly(); }

void CppSQLite3Query::Finalize_Quietly() noexcept {
    if (Statement_ != nullptr && Owns_Statement_) sqlite3_finalize(Statement_);
    Statement_ = nullptr;
}

void CppSQLite3Query::Require_Statement() const {
    if (Statement_ == nullptr) Raise_Wrapper("Null Virtual Machine pointer");
}

void CppSQLite3Query::Check_Column(int column) const {
    if (column < 0 || column > Column_Count_ - 1) Raise_Wrapper("Invalid field index requested");
}

void CppSQLite3Query::Advance() {
    Require_Statement();
    const int rc = sqlite3_step(Statement_);
    if (rc == SQLITE_DONE) {
        At_End_ = true;
    } else if (rc == SQLITE_ROW) {
        At_End_ = false;
    } else {
        const int code = sqlite3_finalize(Statement_);
        Statement_ = nullptr;
        Raise(code, Error_Text(Connection_));
    }
}

int CppSQLite3Query::Type_At(int column) {
    Require_Statement();
    Check_Column(column);
    return sqlite3_column_type(Statement_, column);
}

int CppSQLite3Query::Int_At(int column) {
    Require_Statement();
    Check_Column(column);
    return sqlite3_column_int(Statement_, column);
}

const char* CppSQLite3Query::Text_At(int column) {
    Require_Statement();
    Check_Column(column);
    return reinterpret_cast<const char*>(sqlite3_column_text(Statement_, column));
}

const void* CppSQLite3Query::Blob_At(int column, int* length) {
    Require_Statement();
    Check_Column(column);
    const void* blob = sqlite3_column_blob(Statement_, column);
    if (length != nullptr) *length = sqlite3_column_bytes(Statement_, column);
    return blob;
}

void CppSQLite3Query::Release_Statement() {
    if (Statement_ == nullptr || !Owns_Statement_) return;
    const int code = sqlite3_finalize(Statement_);
    Statement_ = nullptr;
    if (code != SQLITE_OK) Raise(code, Error_Text(Connection_));
}

// ---------------------------------------------------------------- value

CppSQLite3Value& CppSQLite3Value::operator=(CppSQLite3Value&& other) noexcept {
    // The held value goes with the temporary; `other` is left empty.
    CppSQLite3Value taken(std::move(other));
    std::swap(Value_, taken.Value_);
    return *this;
}

CppSQLite3Value::~CppSQLite3Value() { sqlite3_value_free(Value_); }

// ---------------------------------------------------------------- statement

namespace {

int Prepare_Text(sqlite3* connection, const std::u16string& text, sqlite3_stmt** statement) {
    return sqlite3_prepare16_v2(connection, text.c_str(), -1, statement, nullptr);
}

int Prepare_Text(sqlite3* connection, const std::string& text, sqlite3_stmt** statement) {
    return sqlite3_prepare_v2(connection, text.c_str(), -1, statement, nullptr);
}

// The text must be NUL-terminated for the length -1 that SQLite is given.
template <typename Text>
sqlite3_stmt* Prepare_Or_Raise(CppSQLite3DB& db, const Text& text) {
    db.Require_Open();
    sqlite3_stmt* statement = nullptr;
    const int rc = Prepare_Text(db.Connection(), text, &statement);
    if (rc != SQLITE_OK) {
        sqlite3_finalize(statement);
        Raise(rc, Error_Text(db.Connection()));
    }
    return statement;
}

}  // namespace

CppSQLite3Statement::CppSQLite3Statement(CppSQLite3DB& db, std::u16string_view sql)
    : Statement_(Prepare_Or_Raise(db, std::u16string(sql))) {}

CppSQLite3Statement::CppSQLite3Statement(CppSQLite3DB& db, std::string_view sql)
    : Statement_(Prepare_Or_Raise(db, std::string(sql))) {}

CppSQLite3Statement CppSQLite3Statement::Try_Prepare(CppSQLite3DB& db, std::u16string_view sql) {
    try {
        return CppSQLite3Statement(db, sql);
    } catch (const CppSQLite3Exception&) {
        return {};
    }
}

CppSQLite3Statement CppSQLite3Statement::Try_Prepare(CppSQLite3DB& db, std::string_view sql) {
    try {
        return CppSQLite3Statement(db, sql);
    } catch (const CppSQLite3Exception&) {
        return {};
    }
}

CppSQLite3Statement& CppSQLite3Statement::operator=(CppSQLite3Statement&& other) noexcept {
    // The held statement is finalized with the temporary; `other` is left empty.
    CppSQLite3Statement taken(std::move(other));
    std::swap(Statement_, taken.Statement_);
    return *this;
}

CppSQLite3Statement::~CppSQLite3Statement() { sqlite3_finalize(Statement_); }

void CppSQLite3Statement::Raise_Failure(int code) const {
    if (Statement_ == nullptr) Raise_Wrapper("Null Virtual Machine pointer");
    Raise(code, Error_Text(sqlite3_db_handle(Statement_)));
}

void CppSQLite3Statement::Check_Bind(int code) const {
    if (code != SQLITE_OK) Raise_Failure(code);
}

void CppSQLite3Statement::Bind_Int64(int index, std::int64_t value) {
    Check_Bind(sqlite3_bind_int64(Statement_, index, value));
}

void CppSQLite3Statement::Bind_Null(int index) { Check_Bind(sqlite3_bind_null(Statement_, index)); }

void CppSQLite3Statement::Bind_Text(int index, std::string_view text) {
    Check_Bind(sqlite3_bind_text(Statement_, index, text.data(), static_cast<int>(text.size()), SQLITE_STATIC));
}

void CppSQLite3Statement::Bind_Text16(int index, std::u16string_view text) {
    Check_Bind(sqlite3_bind_text16(Statement_, index, text.data(), static_cast<int>(text.size() * sizeof(char16_t)),
                                   SQLITE_STATIC));
}

void CppSQLite3Statement::Bind_Blob(int index, std::span<const std::uint8_t> blob) {
    Check_Bind(sqlite3_bind_blob(Statement_, index, blob.data(), static_cast<int>(blob.size()), SQLITE_STATIC));
}

void CppSQLite3Statement::Bind_Value(int index, const CppSQLite3Value& value) {
    Check_Bind(sqlite3_bind_value(Statement_, index, value.Value_));
}

bool CppSQLite3Statement::Step() {
    const int rc = Step_Code();
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    Raise_Failure(rc);
}

int CppSQLite3Statement::Step_Code() noexcept {
    return Statement_ == nullptr ? SQLITE_MISUSE : sqlite3_step(Statement_);
}

void CppSQLite3Statement::Reset() noexcept { sqlite3_reset(Statement_); }

void CppSQLite3Statement::Clear_Bindings() noexcept { sqlite3_clear_bindings(Statement_); }

int CppSQLite3Statement::Column_Type(int column) const { return sqlite3_column_type(Statement_, column); }

std::int64_t CppSQLite3Statement::Column_Int64(int column) const { return sqlite3_column_int64(Statement_, column); }

std::string_view CppSQLite3Statement::Column_Text(int column) const {
    // The text first: asking for it may convert the value, which sets its length.
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(Statement_, column));
    if (text == nullptr) return {};
    return std::string_view(text, static_cast<std::size_t>(sqlite3_column_bytes(Statement_, column)));
}

CppSQLite3Value CppSQLite3Statement::Column_Value(int column) const {
    return CppSQLite3Value(sqlite3_value_dup(sqlite3_column_value(Statement_, column)));
}

// ---------------------------------------------------------------- table

CppSQLite3Table::CppSQLite3Table(char** results, int rows, int columns)
    : Column_Count_(columns), Row_Count_(rows), Current_Row_(0), Results_(results) {}

CppSQLite3Table::CppSQLite3Table(CppSQLite3Table&& other) noexcept
    : Column_Count_(other.Column_Count_),
      Row_Count_(other.Row_Count_),
      Current_Row_(other.Current_Row_),
      Results_(other.Results_) {
    other.Results_ = nullptr;
}

CppSQLite3Table& CppSQLite3Table::operator=(CppSQLite3Table&& other) noexcept {
    if (this != &other) {
        Release();
        Results_ = other.Results_;
        Row_Count_ = other.Row_Count_;
        Column_Count_ = other.Column_Count_;
        Current_Row_ = other.Current_Row_;
        other.Results_ = nullptr;
    }
    return *this;
}

CppSQLite3Table::~CppSQLite3Table() { Release(); }

void CppSQLite3Table::Release() noexcept {
    if (Results_ != nullptr) sqlite3_free_table(Results_);
    Results_ = nullptr;
}

void CppSQLite3Table::Require_Results() const {
    if (Results_ == nullptr) Raise_Wrapper("Null Results pointer");
}

void CppSQLite3Table::Select_Row(std::int64_t row) {
    Require_Results();
    if (row < 0 || row > Row_Count_ - 1) Raise_Wrapper("Invalid row index requested");
    Current_Row_ = static_cast<int>(row);
}

const char* CppSQLite3Table::Text_At(int column) {
    Require_Results();
    if (column < 0 || column > Column_Count_ - 1) Raise_Wrapper("Invalid field index requested");
    const std::int64_t index = (static_cast<std::int64_t>(Current_Row_) + 1) * Column_Count_ + column;
    return Results_[index];
}

std::u16string CppSQLite3Table::Wide_Text_At(int column) { return Wide_Field_Text(Text_At(column)); }

std::u16string Wide_Field_Text(const char* text) {
    if (text == nullptr) return {};
    std::u16string wide = platform::Utf8_To_Utf16(text);
    if (wide.size() > CppSQLite3Table::Max_Wide_Field) {
        // Never keep half of a surrogate pair at the cut.
        std::size_t keep = CppSQLite3Table::Max_Wide_Field;
        if (wide[keep - 1] >= 0xD800 && wide[keep - 1] <= 0xDBFF) --keep;
        wide.resize(keep);
    }
    return wide;
}

// ---------------------------------------------------------------- connection

CppSQLite3DB::~CppSQLite3DB() {
    Finalize_Kept_Statements();
    if (Connection_ != nullptr) sqlite3_close(Connection_);
    Connection_ = nullptr;
}

int CppSQLite3DB::Open_With_Pragmas(const std::string& path, bool create) {
    if (Connection_ != nullptr) Close_Database();
    // A connection is never used by two threads at once, so SQLite's own
    // per-call locking would only cost time on every column read.
    const int rc = sqlite3_open_v2(path.c_str(), &Connection_,
                                   SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0) | SQLITE_OPEN_NOMUTEX,
                                   nullptr);
    if (rc != SQLITE_OK) {
        const std::u16string message = Error_Text(Connection_);
        // A failed open still hands out a handle that must be closed.
        sqlite3_close(Connection_);
        Connection_ = nullptr;
        Raise(rc, message);
    }
    sqlite3_busy_timeout(Connection_, Busy_Timeout_Ms_);
    sqlite3_busy_timeout(Connection_, 200);
    char* error = nullptr;
    const int pragmas = sqlite3_exec(Connection_,
                                     "PRAGMA synchronous=OFF;\t PRAGMA count_changes=OFF; PRAGMA temp_store=memory; "
                                     "PRAGMA journal_mode = OFF",
                                     nullptr, nullptr, &error);
    if (pragmas != SQLITE_OK) {
        sqlite3_free(error);
        platform::Message_Box(u"SQLITE ERROR");
        return 0;
    }
    return 1;
}

void CppSQLite3DB::Open_Read_Only(const std::string& path) {
    if (Connection_ != nullptr) Close_Database();
    // As immutable, SQLite also leaves the folder alone: a database in WAL
    // mode is read without the "-shm" and "-wal" files that a read-only
    // connection would otherwise create next to it.
    int rc = sqlite3_open_v2(Immutable_Uri(path).c_str(), &Connection_,
                             SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX, nullptr);
    // The open itself reads nothing: a file that is no database shows when
    // its schema is read.
    if (rc == SQLITE_OK) rc = sqlite3_exec(Connection_, "select 1 from sqlite_master limit 1", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        const std::u16string message = Error_Text(Connection_);
        sqlite3_close(Connection_);
        Connection_ = nullptr;
        Raise(rc, message);
    }
}

void CppSQLite3DB::Close_Database() {
    if (Connection_ == nullptr) return;
    Finalize_Kept_Statements();
    const int rc = sqlite3_close(Connection_);
    if (rc != SQLITE_OK) Raise(rc, Error_Text(Connection_));
    Connection_ = nullptr;
}

void CppSQLite3DB::Require_Open() const {
    if (Connection_ == nullptr) Raise_Wrapper("Database not open");
}

CppSQLite3Query CppSQLite3DB::Run_Query(std::u16string_view statement) {
    Require_Open();
    // The statement must be NUL-terminated for the length -1 that SQLite is given.
    const std::u16string text(statement);
    for (int round = 0;; ++round) {
        if (Connection_ == nullptr) Raise_Wrapper("Database not open");
        sqlite3_stmt* prepared = nullptr;
        const int rc = sqlite3_prepare16_v2(Connection_, text.c_str(), -1, &prepared, nullptr);
        if (rc != SQLITE_OK) Raise(rc, Error_Text(Connection_));
        const int step = sqlite3_step(prepared);
        if (step == SQLITE_DONE || step == SQLITE_ROW) return CppSQLite3Query(Connection_, prepared, step == SQLITE_DONE, true);
        const int code = sqlite3_finalize(prepared);
        if (code != SQLITE_SCHEMA || round + 1 >= Max_Schema_Retries) Raise(code, Error_Text(Connection_));
    }
}

CppSQLite3Statement* CppSQLite3DB::Kept_Statement(std::u16string_view statement) {
    if (Connection_ == nullptr) return nullptr;
    for (Kept& kept : Kept_)
        if (kept.Text == statement) return &kept.Statement;
    // prepare_v2 prepares the statement again by itself when the schema
    // changes (a table or trigger made after this call).
    CppSQLite3Statement prepared = CppSQLite3Statement::Try_Prepare(*this, statement);
    if (!prepared.Is_Prepared()) return nullptr;
    Kept_.push_back(Kept{std::u16string(statement), std::move(prepared)});
    return &Kept_.back().Statement;
}

void CppSQLite3DB::Finalize_Kept_Statements() noexcept { Kept_.clear(); }

std::int64_t CppSQLite3DB::Changes() const {
    return Connection_ == nullptr ? 0 : static_cast<std::int64_t>(sqlite3_changes64(Connection_));
}

void CppSQLite3DB::End_Statements_At(std::chrono::steady_clock::time_point deadline, int steps) {
    Require_Open();
    Deadline_ = deadline;
    sqlite3_progress_handler(
        Connection_, steps,
        [](void* end) {
            return std::chrono::steady_clock::now() >= *static_cast<const std::chrono::steady_clock::time_point*>(end)
                       ? 1
                       : 0;
        },
        &Deadline_);
}

CppSQLite3Table CppSQLite3DB::Fetch_Table(const std::string& statement) {
    Require_Open();
    char** results = nullptr;
    int rows = 0;
    int columns = 0;
    char* error = nullptr;
    const int rc = sqlite3_get_table(Connection_, statement.c_str(), &results, &rows, &columns, &error);
    sqlite3_free(error);
    if (rc != SQLITE_OK) {
        if (results != nullptr) sqlite3_free_table(results);
        return CppSQLite3Table();
    }
    return CppSQLite3Table(results, rows, columns);
}

bool Open_Database(CppSQLite3DB& db, const std::string& path, bool create) {
    try {
        return db.Open_With_Pragmas(path, create) == 1;
    } catch (const CppSQLite3Exception&) {
        return false;
    }
}
