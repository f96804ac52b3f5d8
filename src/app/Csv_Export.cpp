#include "app/Csv_Export.h"

#include <unistd.h>

#include <cstdio>
#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <memory>
#include <vector>

#include "app/Findings_Csv.h"
#include "app/Signature_Loading.h"
#include "db/CppSQLite3.h"
#include "detection/Detect_Suspicious_Behavior.h"
#include "output/Csv_File.h"
#include "platform/console.h"
#include "platform/file.h"
#include "platform/text.h"

using platform::Console_Write;
using platform::Format;

namespace {

constexpr char LogFile_Query[] =
    "select LSN, EventTime, Event, Detail,  FileName, FullPath, CreateTime, ModifiedTIme, MFT_ModifiedTime, "
    "AccessTime, RedoInfo, TargetVCN, MFT_ClusterIndex from LogFile ORDER BY LSN";
constexpr char UsnJrnl_Count_Query[] = "SELECT COUNT(*) FROM UsnJrnl";
constexpr char UsnJrnl_Query_Head[] =
    "select USN, TimeStamp, FileName, FullPath, Event, SourceInfo, FileAttr, CarvingFlag, FileReferenceNumber, "
    "ParentFileReferenceNumber from UsnJrnl";

constexpr int LogFile_Columns = static_cast<int>(Log_Field::Count);
constexpr int UsnJrnl_Columns = static_cast<int>(Usn_Field::Count);

// Turns the result rows of one query into CSV lines and, when asked, reloaded
// rows. Each field reads as the whole-table reader gave it (UTF-16, cut at
// its unit limit, NULL as ""), then the stored "/" turns back into ",".
class Row_Transcriber {
public:
    Row_Transcriber(int columns, bool keep) : keep_(keep), wide_(columns), views_(columns) {}

    // Reads the current row of `statement`; `csv_order` gives the column of
    // each CSV field.
    void Read(const CppSQLite3Statement& statement, const int* csv_order) {
        const int columns = static_cast<int>(wide_.size());
        size_ = 0;
        for (int c = 0; c < columns; ++c) Field(statement, csv_order[c], c);
        Append("\r\n", 2);
    }

    std::string_view Line() const { return {line_.data(), size_}; }
    // The reloaded fields in query order (filled only when keeping).
    const std::u16string_view* Fields() const { return views_.data(); }

private:
    char* Room(std::size_t bytes) {
        if (size_ + bytes > line_.size()) line_.resize(std::max(line_.size() * 2, size_ + bytes + 4096));
        return line_.data() + size_;
    }
    void Append(const char* text, std::size_t bytes) {
        std::memcpy(Room(bytes), text, bytes);
        size_ += bytes;
    }

    void Field(const CppSQLite3Statement& statement, int column, int index) {
        Append(index == 0 ? "\"" : ",\"", index == 0 ? 1 : 2);
        const std::string_view field = statement.Column_Text(column);
        const auto* text = reinterpret_cast<const unsigned char*>(field.data());
        const std::size_t bytes = field.size();
        std::u16string& wide = wide_[column];
        // The common case in one pass: ASCII without a quote or NUL, whose
        // round trip through UTF-16 would give the same bytes.
        char* out = Room(bytes + 1);
        unsigned high = 0, special = 0;
        for (std::size_t i = 0; i < bytes; ++i) {
            const unsigned char c = text[i];
            high |= c;
            special |= static_cast<unsigned>(c == '"') | static_cast<unsigned>(c == 0);
            out[i] = static_cast<char>(c == '/' ? ',' : c);
        }
        if (high < 0x80 && special == 0 && bytes <= CppSQLite3Table::Max_Wide_Field) {
            size_ += bytes;
            if (keep_) {
                wide.resize(bytes);
                for (std::size_t i = 0; i < bytes; ++i) wide[i] = static_cast<unsigned char>(out[i]);
            }
        } else {
            wide = Wide_Field_Text(reinterpret_cast<const char*>(text));
            platform::Replace(wide, u"/", u",");
            std::u16string quoted(platform::Cut_At_Nul(wide));
            platform::Replace(quoted, u"\"", u"\"\"");
            const std::string utf8 = platform::Utf16_To_Utf8(quoted);
            Append(utf8.data(), utf8.size());
        }
        Append("\"", 1);
        views_[column] = wide;
    }

    bool keep_;
    std::vector<std::u16string> wide_;
    std::vector<std::u16string_view> views_;
    std::vector<char> line_;
    std::size_t size_ = 0;
};

// Appends reloaded rows to a store on a thread of its own. Matching a row's
// shared texts waits on memory most of the time; beside the thread that
// reads the database and writes the CSV lines, it costs the export little.
// Rows keep their order: one thread appends them all, batch after batch.
class Row_Appender {
public:
    Row_Appender(Compact_Row_Store& store, int fields) : store_(store), fields_(fields) {
        current_ = std::make_unique<Batch>();
        worker_ = std::thread([this] { Run(); });
    }
    ~Row_Appender() {
        try {
            Finish();
        } catch (...) {
        }
    }
    Row_Appender(const Row_Appender&) = delete;
    Row_Appender& operator=(const Row_Appender&) = delete;

    void Add(const std::u16string_view* fields) {
        for (int f = 0; f < fields_; ++f) {
            current_->text.append(fields[f]);
            current_->ends.push_back(current_->text.size());
        }
        if (++current_->rows == Batch_Rows) Hand_Over();
    }

    // Returns once every row added is in the store; raises what the
    // appending thread raised (memory exhausted).
    void Finish() {
        if (!worker_.joinable()) return;
        if (current_ && current_->rows != 0) Hand_Over();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            closing_ = true;
        }
        changed_.notify_all();
        worker_.join();
        if (error_) std::rethrow_exception(error_);
    }

private:
    static constexpr std::size_t Batch_Rows = 1024;
    static constexpr std::size_t Max_Waiting = 16;

    struct Batch {
        std::u16string text;
        std::vector<std::size_t> ends;  // of each field, row after row
        std::size_t rows = 0;
    };

    void Hand_Over() {
        // The next batch is at hand before this one leaves, so that running
        // out of memory here leaves the appender whole.
        std::unique_ptr<Batch> next;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!spare_.empty()) {
                next = std::move(spare_.back());
                spare_.pop_back();
            }
        }
        if (!next) next = std::make_unique<Batch>();
        next->text.clear();
        next->ends.clear();
        next->rows = 0;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [this] { return waiting_.size() < Max_Waiting || error_; });
            // After a failure of the appending thread nothing more is kept;
            // Finish reports it.
            if (!error_) waiting_.push_back(std::move(current_));
        }
        changed_.notify_all();
        current_ = std::move(next);
    }

    void Run() {
        try {
            for (;;) {
                std::unique_ptr<Batch> batch;
                {
                    std::unique_lock<std::mutex> lock(mutex_);
                    changed_.wait(lock, [this] { return !waiting_.empty() || closing_; });
                    if (waiting_.empty()) return;
                    batch = std::move(waiting_.front());
                    waiting_.pop_front();
                }
                changed_.notify_all();
                Append_Batch(*batch);
                std::lock_guard<std::mutex> lock(mutex_);
                spare_.push_back(std::move(batch));
            }
        } catch (...) {
            std::lock_guard<std::mutex> lock(mutex_);
            error_ = std::current_exception();
            waiting_.clear();
            changed_.notify_all();
        }
    }

    // Each row is hashed and its look-ups prefetched a few rows before it is
    // appended, so that the memory reads of several rows overlap.
    void Append_Batch(const Batch& batch) {
        constexpr std::size_t Handle_Lag = 2, Text_Lag = 4, Append_Lag = 6, Depth = 8;
        std::u16string_view views[Depth][16];
        Compact_Row_Store::Row_Hashes hashes[Depth];
        std::size_t next_append = 0;
        for (std::size_t r = 0; r < batch.rows; ++r) {
            std::u16string_view* v = views[r % Depth];
            for (int f = 0; f < fields_; ++f) {
                const std::size_t i = r * fields_ + f;
                const std::size_t begin = i == 0 ? 0 : batch.ends[i - 1];
                v[f] = std::u16string_view(batch.text).substr(begin, batch.ends[i] - begin);
            }
            hashes[r % Depth] = store_.Hash_Row(v);
            store_.Prefetch_Slots(hashes[r % Depth]);
            if (r >= Handle_Lag) store_.Prefetch_Handles(hashes[(r - Handle_Lag) % Depth]);
            if (r >= Text_Lag) store_.Prefetch_Texts(hashes[(r - Text_Lag) % Depth]);
            for (; next_append + Append_Lag <= r; ++next_append)
                store_.Append(views[next_append % Depth], hashes[next_append % Depth]);
        }
        for (; next_append < batch.rows; ++next_append)
            store_.Append(views[next_append % Depth], hashes[next_append % Depth]);
    }

    Compact_Row_Store& store_;
    const int fields_;
    std::unique_ptr<Batch> current_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::unique_ptr<Batch>> waiting_;
    std::vector<std::unique_ptr<Batch>> spare_;
    bool closing_ = false;
    std::exception_ptr error_;
    std::thread worker_;
};

// Streams the rows of one query into CSV lines and, when a store is given,
// into reloaded rows.
class Export_Pipeline {
public:
    // `field_column` gives the query column of each field of the store.
    Export_Pipeline(int columns, const int* csv_order, const int* field_column, Compact_Row_Store* store)
        : columns_(columns), csv_order_(csv_order), field_column_(field_column), row_(columns, store != nullptr) {
        if (store != nullptr) appender_ = std::make_unique<Row_Appender>(*store, columns);
    }

    // Reads the current row; returns its CSV line.
    std::string_view Read(const CppSQLite3Statement& statement) {
        row_.Read(statement, csv_order_);
        if (appender_) {
            std::u16string_view fields[16];
            for (int f = 0; f < columns_; ++f) fields[f] = row_.Fields()[field_column_[f]];
            appender_->Add(fields);
        }
        return row_.Line();
    }

    // Returns once every row read is in the store.
    void Flush() {
        if (appender_) appender_->Finish();
    }

private:
    int columns_;
    const int* csv_order_;
    const int* field_column_;
    Row_Transcriber row_;
    std::unique_ptr<Row_Appender> appender_;
};

// A file that could not be written to its end is reported in place of
// "[Done]"; the export ends there, as for a file that could not be created.
bool Close_Csv(Csv_File& file) {
    if (file.Close()) return true;
    Console_Write(Csv_Write_Failed);
    return false;
}

// A table that could not be read to its end: its message, and its file keeps
// the rows written so far under its ".partial" name, a file that does not
// hold the whole table.
void Report_Failed_Read(Csv_File& file, const char* message) {
    if (!file.Close_Partial()) {
        Console_Write(Csv_Write_Failed);
        return;
    }
    Console_Write(message);
}

void Close_Quietly(CppSQLite3DB& db) {
    try {
        db.Close_Database();
    } catch (const CppSQLite3Exception&) {
    }
}

constexpr char LogFile_Read_Failed[] = "[ERROR] Acquiring $LogFile Information fails...";
constexpr char UsnJrnl_Read_Failed[] = "[ERROR] Acquiring $UsnJrnl:$J Information fails...";

// False when the export must end: the database or the LogFile table could
// not be read, or the CSV file could not be created or written.
bool Export_LogFile(Program_State& state, const std::string& db_path, platform::Output_Folder& folder,
                    const std::string& stamp, const std::u16string& header) {
    Console_Write("\r\nExporting $LogFile info to CSV file...");
    Csv_File file;
    if (!file.Create(folder, Csv_File_Name(state.Options.g_Output_Name, "LogFile", stamp, ".csv"))) {
        Console_Write(Csv_Create_Failed);
        return false;
    }
    const std::string header_line = platform::Utf16_To_Utf8(
        Format(u"\"LSN\",\"%s\",\"Event\",\"Detail\",\"File/Directory Name\",\"Full Path\",\"Create Time\","
               u"\"Modified Time\",\"MFT_Modified Time\",\"Access Time\",\"Redo\",\"Target VCN\",\"Cluster Index\"\r\n",
               {header}));
    file.Write(header_line);
    CppSQLite3DB db;
    if (!Open_Database(db, db_path, false)) {
        Console_Write("[ERROR] Opening DB file fails...");
        file.Close_Partial();
        return false;
    }
    static constexpr int csv_order[LogFile_Columns] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    Log_Info_Rows& rows = state.g_Log_Info_Array;
    Export_Pipeline pipeline(LogFile_Columns, csv_order, csv_order, state.Reload_Event_Rows ? &rows.Store() : nullptr);
    CppSQLite3Statement statement = CppSQLite3Statement::Try_Prepare(db, LogFile_Query);
    bool read = statement.Is_Prepared();
    try {
        while (read && !file.Failed() && statement.Step()) file.Write(pipeline.Read(statement));
    } catch (const CppSQLite3Exception&) {
        read = false;
    }
    pipeline.Flush();
    if (!read && !file.Failed()) {
        Report_Failed_Read(file, LogFile_Read_Failed);
        return false;
    }
    statement = CppSQLite3Statement();
    if (!Close_Csv(file)) return false;
    Close_Quietly(db);
    Console_Write("[Done]");
    return true;
}

// Writes one UsnJrnl file's rows: the whole table, or one page of it after
// the key `after` (all from the first row when null). The page's last key
// is left in `after`. False when the query failed.
bool Export_UsnJrnl_Page(Program_State& state, CppSQLite3DB& db, Csv_File& file, std::int64_t page_rows,
                         std::int64_t rows_done, CppSQLite3Value& after, bool paged) {
    // Pages follow one another by key rather than by OFFSET, which would walk
    // every earlier row again for each page.
    std::string query = std::string(UsnJrnl_Query_Head) + " ORDER BY USN";
    if (paged && !after.Empty()) {
        query = std::string(UsnJrnl_Query_Head) + " WHERE USN > ?1 ORDER BY USN";
        query += platform::Format8(" Limit %I64u", {static_cast<unsigned long long>(page_rows)});
    } else if (paged) {
        query += platform::Format8(" Limit %I64u OFFSET %I64u", {static_cast<unsigned long long>(page_rows),
                                                                 static_cast<unsigned long long>(rows_done)});
    }
    static constexpr int csv_order[UsnJrnl_Columns] = {1, 0, 2, 3, 4, 5, 6, 7, 8, 9};
    UsnJrnl_Info_Rows& rows = state.g_UsnJrnl_Info_Array;
    // The reloaded record is in field order, the query in column order.
    static constexpr int field_column[UsnJrnl_Columns] = {1, 0, 2, 3, 4, 5, 6, 7, 8, 9};
    Export_Pipeline pipeline(UsnJrnl_Columns, csv_order, field_column,
                             state.Reload_Event_Rows ? &rows.Store() : nullptr);
    CppSQLite3Statement statement = CppSQLite3Statement::Try_Prepare(db, query);
    bool read = statement.Is_Prepared();
    std::int64_t count = 0;
    try {
        if (read && paged && !after.Empty()) statement.Bind_Value(1, after);
        while (read && !file.Failed() && statement.Step()) {
            if (paged && ++count == page_rows) {
                // The key is taken before the row is read as text, which would
                // convert it. A key stored as NULL cannot be paged past: the next
                // page then counts rows instead.
                const bool null_key = statement.Column_Type(0) == SQLITE_NULL;
                after = null_key ? CppSQLite3Value() : statement.Column_Value(0);
            }
            file.Write(pipeline.Read(statement));
        }
    } catch (const CppSQLite3Exception&) {
        read = false;
    }
    pipeline.Flush();
    if (!read && !file.Failed()) return false;
    if (paged && count < page_rows) after = CppSQLite3Value();
    return true;
}

bool Export_UsnJrnl(Program_State& state, const std::string& db_path, platform::Output_Folder& folder,
                    const std::string& stamp, const std::u16string& header, std::int64_t page_rows) {
    Console_Write("\r\nExporting $UsnJrnl:$J info to CSV file...");
    CppSQLite3DB db;
    if (!Open_Database(db, db_path, false)) {
        Console_Write("[ERROR] Opening DB file fails...");
        return false;
    }
    std::int64_t count = 0;
    try {
        CppSQLite3Table table = db.Fetch_Table(UsnJrnl_Count_Query);
        table.Select_Row(0);
        const char* field = table.Text_At(0);
        count = field == nullptr ? 0 : platform::Read_Decimal(std::string_view(field));
    } catch (const CppSQLite3Exception&) {
        Console_Write(UsnJrnl_Read_Failed);
        return false;
    }
    const std::string header_line = platform::Utf16_To_Utf8(
        Format(u"\"%s\",\"USN\",\"File/Directory Name\",\"FullPath\",\"EventInfo\",\"SourceInfo\",\"FileAttribute\","
               u"\"Carving Flag\",\"FileReferenceNumber\",\"ParentFileReferenceNumber\"\r\n",
               {header}));
    const bool paged = count >= page_rows;
    const std::int64_t files = paged ? count / page_rows + 1 : 1;
    CppSQLite3Value after;
    std::int64_t rows_done = 0;
    for (std::int64_t p = 1; p <= files; ++p) {
        const std::string suffix = paged ? platform::Format8("_%d.csv", {static_cast<long long>(p)}) : ".csv";
        Csv_File file;
        if (!file.Create(folder, Csv_File_Name(state.Options.g_Output_Name, "UsnJrnl", stamp, suffix))) {
            Console_Write(Csv_Create_Failed);
            return false;
        }
        file.Write(header_line);
        if (!Export_UsnJrnl_Page(state, db, file, page_rows, rows_done, after, paged)) {
            Report_Failed_Read(file, UsnJrnl_Read_Failed);
            return false;
        }
        if (!Close_Csv(file)) return false;
        rows_done += page_rows;
    }
    Close_Quietly(db);
    Console_Write("[Done]");
    return true;
}

}  // namespace

std::u16string Csv_Time_Header(std::u16string_view column, int utc_offset, int dst) {
    const char16_t* form;
    if (utc_offset > 0) form = dst == 1 ? u"%s(UTC+%d DST)" : u"%s(UTC+%d)";
    else if (utc_offset < 0) form = dst == 1 ? u"%s(UTC%d,DST)" : u"%s(UTC%d)";
    else form = dst == 1 ? u"%s(UTC %d,DST)" : u"%s(UTC %d)";
    return Format(form, {column, utc_offset});
}

bool Export_CSV_And_Detect(Program_State& state, const std::string& db_path, platform::Output_Folder& output_folder,
                           const std::string& stamp, int utc_offset, int dst, int detect, std::int64_t page_rows,
                           const std::string& signature_folder) {
    if (page_rows <= 0) page_rows = UsnJrnl_Csv_Page_Rows;
    if (!Export_LogFile(state, db_path, output_folder, stamp, Csv_Time_Header(u"EventTime", utc_offset, dst)) ||
        !Export_UsnJrnl(state, db_path, output_folder, stamp, Csv_Time_Header(u"TimeStamp", utc_offset, dst),
                        page_rows))
        return false;
    if (detect != 1) return true;
    // Without its signatures the detection asked for does not run.
    if (!Load_Signatures(state, signature_folder)) return false;
    // The reloaded rows are only read from here on: the tables that found
    // their shared texts while they were appended go before the detection
    // makes its own.
    state.g_Log_Info_Array.Release_Lookups();
    state.g_UsnJrnl_Info_Array.Release_Lookups();
    Detect_Suspicious_Behavior(state);
    return Export_Findings_Csv(state, output_folder, stamp);
}

bool Export_CSV_And_Detect(Program_State& state, const std::string& db_path, const std::string& output_folder,
                           const std::string& stamp, int utc_offset, int dst, int detect, std::int64_t page_rows,
                           const std::string& signature_folder) {
    platform::Output_Folder folder;
    folder.Open(output_folder);
    const bool exported =
        Export_CSV_And_Detect(state, db_path, folder, stamp, utc_offset, dst, detect, page_rows, signature_folder);
    return folder.Publish() && exported;
}
