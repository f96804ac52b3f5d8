// A thin object layer over SQLite through which every database access runs.
// Every library failure becomes a CppSQLite3Exception.
#pragma once

#include <sqlite3.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <span>
#include <string>
#include <string_view>

// The wrapper's own errors carry this code.
inline constexpr int CPPSQLITE_ERROR = 1000;

const char* Sqlite_Result_Code_Name(int code);

class CppSQLite3Exception {
public:
    // Message is "<code name>[<code>]: <message>".
    CppSQLite3Exception(int code, std::u16string_view message);
    CppSQLite3Exception(const CppSQLite3Exception& other);
    CppSQLite3Exception& operator=(const CppSQLite3Exception& other) = default;
    virtual ~CppSQLite3Exception();

    int Code() const { return Code_; }
    const std::u16string& Message() const { return Message_; }

private:
    int Code_;
    std::u16string Message_;
};

class CppSQLite3Query {
public:
    CppSQLite3Query() = default;
    CppSQLite3Query(sqlite3* connection, sqlite3_stmt* statement, bool at_end, bool owns_statement);
    CppSQLite3Query(const CppSQLite3Query&) = delete;
    CppSQLite3Query(CppSQLite3Query&& other) noexcept;
    // Taking over another query: the own statement is finalized (failure
    // swallowed) and the other's statement moves here.
    CppSQLite3Query& operator=(CppSQLite3Query&& other) noexcept;
    virtual ~CppSQLite3Query();

    bool At_End() const { return At_End_; }
    int Column_Count() const { return Column_Count_; }
    sqlite3_stmt* Statement() const { return Statement_; }

    void Advance();
    int Type_At(int column);
    int Int_At(int column);
    // The field as UTF-8; null for an SQL NULL.
    const char* Text_At(int column);
    const void* Blob_At(int column, int* length = nullptr);
    void Release_Statement();
    void Require_Statement() const;

private:
    void Check_Column(int column) const;
    void Finalize_Quietly() noexcept;

    sqlite3* Connection_ = nullptr;
    sqlite3_stmt* Statement_ = nullptr;
    bool At_End_ = true;
    int Column_Count_ = 0;
    bool Owns_Statement_ = false;
};

class CppSQLite3Table {
public:
    CppSQLite3Table() = default;
    CppSQLite3Table(char** results, int rows, int columns);
    CppSQLite3Table(const CppSQLite3Table&) = delete;
    CppSQLite3Table(CppSQLite3Table&& other) noexcept;
    CppSQLite3Table& operator=(CppSQLite3Table&& other) noexcept;
    virtual ~CppSQLite3Table();

    int Column_Count() const { return Column_Count_; }
    std::int64_t Row_Count() const { return Row_Count_; }
    bool Has_Results() const { return Results_ != nullptr; }

    void Select_Row(std::int64_t row);
    // The UTF-8 field of the current row; null for an SQL NULL.
    const char* Text_At(int column);
    // The field as UTF-16, at most Max_Wide_Field units; empty for NULL.
    std::u16string Wide_Text_At(int column);
    void Require_Results() const;

    static constexpr std::size_t Max_Wide_Field = 4096;

private:
    void Release() noexcept;

    int Column_Count_ = 0;
    std::int64_t Row_Count_ = 0;
    int Current_Row_ = 0;
    char** Results_ = nullptr;
};

// A result field as the whole-table reader gives it: UTF-8 turned into UTF-16
// and cut at CppSQLite3Table::Max_Wide_Field units; NULL gives "".
std::u16string Wide_Field_Text(const char* text);

class CppSQLite3DB;

// A copy of one result field that outlives its row (and its statement),
// to be bound again as it was: same type, same value.
class CppSQLite3Value {
public:
    CppSQLite3Value() = default;
    CppSQLite3Value(const CppSQLite3Value&) = delete;
    CppSQLite3Value& operator=(const CppSQLite3Value&) = delete;
    CppSQLite3Value(CppSQLite3Value&& other) noexcept : Value_(other.Value_) { other.Value_ = nullptr; }
    CppSQLite3Value& operator=(CppSQLite3Value&& other) noexcept;
    ~CppSQLite3Value();

    bool Empty() const { return Value_ == nullptr; }

private:
    friend class CppSQLite3Statement;
    explicit CppSQLite3Value(sqlite3_value* value) : Value_(value) {}

    sqlite3_value* Value_ = nullptr;
};

// One prepared statement: prepared once, then bound, stepped and reset as
// often as the caller needs, and finalized when it goes. A bound text or blob
// is not copied: it must stay as it is until the statement is reset and
// bound anew, or goes.
class CppSQLite3Statement {
public:
    CppSQLite3Statement() = default;
    // Raises the library's code and message when `sql` cannot be prepared.
    CppSQLite3Statement(CppSQLite3DB& db, std::u16string_view sql);
    CppSQLite3Statement(CppSQLite3DB& db, std::string_view sql);
    // The statement, or none (Is_Prepared false) when it cannot be prepared:
    // its table missing, the connection closed, a text without a statement.
    // Raises nothing but what the program cannot go on from (memory
    // exhausted).
    static CppSQLite3Statement Try_Prepare(CppSQLite3DB& db, std::u16string_view sql);
    static CppSQLite3Statement Try_Prepare(CppSQLite3DB& db, std::string_view sql);

    CppSQLite3Statement(const CppSQLite3Statement&) = delete;
    CppSQLite3Statement& operator=(const CppSQLite3Statement&) = delete;
    CppSQLite3Statement(CppSQLite3Statement&& other) noexcept : Statement_(other.Statement_) {
        other.Statement_ = nullptr;
    }
    CppSQLite3Statement& operator=(CppSQLite3Statement&& other) noexcept;
    ~CppSQLite3Statement();

    bool Is_Prepared() const { return Statement_ != nullptr; }

    // Parameters count from 1. A failing bind raises the library's code and
    // message.
    void Bind_Int64(int index, std::int64_t value);
    void Bind_Null(int index);
    // UTF-8; data() is never null for a view of a string, so an empty text is
    // bound as '' (not NULL).
    void Bind_Text(int index, std::string_view text);
    void Bind_Text16(int index, std::u16string_view text);
    void Bind_Blob(int index, std::span<const std::uint8_t> blob);
    void Bind_Value(int index, const CppSQLite3Value& value);

    // True at a result row, false at the end; raises the library's code and
    // message otherwise.
    bool Step();
    // The step's result code (SQLITE_ROW, SQLITE_DONE or the failure), for
    // the writers that tell a refused key from other failures. Never raises.
    int Step_Code() noexcept;
    // Binds through `bind(*this)`, steps once and resets, for those same
    // writers: the step's result code, or SQLITE_ERROR when a bind fails.
    // Raises none of the library's errors.
    template <typename Bind>
    int Step_Once(Bind&& bind) {
        int rc = SQLITE_ERROR;
        try {
            bind(*this);
            rc = Step_Code();
        } catch (const CppSQLite3Exception&) {
        }
        Reset();
        return rc;
    }
    // Ready to be stepped again; the bindings stay.
    void Reset() noexcept;
    void Clear_Bindings() noexcept;

    // Reads of the current row's columns, counted from 0.
    int Column_Type(int column) const;
    std::int64_t Column_Int64(int column) const;
    // UTF-8; data() is null for an SQL NULL.
    std::string_view Column_Text(int column) const;
    CppSQLite3Value Column_Value(int column) const;

private:
    [[noreturn]] void Raise_Failure(int code) const;
    void Check_Bind(int code) const;

    sqlite3_stmt* Statement_ = nullptr;
};

class CppSQLite3DB {
public:
    CppSQLite3DB() = default;
    CppSQLite3DB(const CppSQLite3DB&) = delete;
    CppSQLite3DB& operator=(const CppSQLite3DB&) = delete;
    // Closes a held connection; a failing close is swallowed (a destructor
    // never throws).
    virtual ~CppSQLite3DB();

    // Opens (creating when missing, unless `create` is false) the file at the
    // byte path and applies the program's tuning. Raises when the file cannot
    // be opened; returns 0 after the "SQLITE ERROR" message when the tuning
    // fails, 1 otherwise.
    int Open_With_Pragmas(const std::string& path, bool create = true);
    // Opens an existing file for reading only, without the tuning: the file
    // is never changed. Raises when it cannot be opened or is no database.
    void Open_Read_Only(const std::string& path);
    void Close_Database();
    CppSQLite3Query Run_Query(std::u16string_view statement);
    CppSQLite3Table Fetch_Table(const std::string& statement);
    void Require_Open() const;

    // A statement prepared once on this connection and kept until the
    // connection closes, for the single-row writes that a stage repeats many
    // times (compiling each one afresh costs more than running it). The caller
    // binds, steps and resets it, and leaves it reset; a kept statement holds
    // no lock, so transactions and other statements are not hindered. Null
    // when it cannot be prepared (its table missing, the connection closed);
    // a later call tries again.
    CppSQLite3Statement* Kept_Statement(std::u16string_view statement);

    sqlite3* Connection() const { return Connection_; }

    // Rows that the last insert, update or delete on the connection changed.
    std::int64_t Changes() const;

    // From now on every statement on the connection ends (as interrupted)
    // once `deadline` has passed; the time is looked at every `steps` steps
    // of SQLite's machine.
    void End_Statements_At(std::chrono::steady_clock::time_point deadline, int steps);

    // A stage's BEGIN or COMMIT failed on this connection: the run reports it
    // with its exit code.
    void Note_Transaction_Failure() { Transaction_Failed_ = true; }
    bool Transaction_Failed() const { return Transaction_Failed_; }
    bool Is_Open() const { return Connection_ != nullptr; }

    // Rows that the row writers could not store because their key is
    // already in the table, counted per table since the connection was made.
    struct Refused_Key_Counts {
        std::uint64_t LogFile = 0;
        std::uint64_t UsnJrnl = 0;
    };
    Refused_Key_Counts& Refused_Keys() { return Refused_Keys_; }
    const Refused_Key_Counts& Refused_Keys() const { return Refused_Keys_; }

    // A statement that keeps reporting a changed schema is prepared again at
    // most this many times.
    static constexpr int Max_Schema_Retries = 10;

private:
    struct Kept {
        std::u16string Text;
        CppSQLite3Statement Statement;
    };
    // A connection closes only once its statements are finalized.
    void Finalize_Kept_Statements() noexcept;

    sqlite3* Connection_ = nullptr;
    int Busy_Timeout_Ms_ = 60000;
    bool Transaction_Failed_ = false;
    Refused_Key_Counts Refused_Keys_;
    // A deque, so that a statement handed out stays where it is.
    std::deque<Kept> Kept_;
    std::chrono::steady_clock::time_point Deadline_;
};

// Opens and tunes `db` for the program's callers, which treat a file that
// cannot be opened and one whose tuning fails alike: true when both worked.
bool Open_Database(CppSQLite3DB& db, const std::string& path, bool create = true);
