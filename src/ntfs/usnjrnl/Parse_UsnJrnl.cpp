#include "ntfs/usnjrnl/Parse_UsnJrnl.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "db/Scoped_Transaction.h"
#include "ntfs/Ntfs_Layout.h"
#include "ntfs/mft/Parse_MFT.h"
#include "output/Time_Text.h"
#include "output/UsnJrnl_Row_Inserter.h"
#include "platform/console.h"
#include "platform/file.h"

namespace {

constexpr char16_t Hex_Digits[] = u"0123456789ABCDEF";

// What the reader and the carver differ in.
struct Scan_Settings {
    std::size_t Step;
    std::u16string_view Carving_Flag;
};


// Scans the whole file and calls row(const _USNJRNLINFO&) for every record,
// in file order; row returns false to end the scan early.
template <typename Row>
void Scan_File_Rows(Global_Parsing_Context& context, platform::Read_Only_File& file, const Scan_Settings& settings,
                    Row&& row_found) {
    const std::uint64_t length = file.Size();
    UsnJrnl_Row_Builder builder(context, settings.Carving_Flag);
    _USNJRNLINFO row;
    std::vector<std::uint8_t> chunk(Usn_Scan::Chunk_Size + Usn_Scan::Chunk_Overlap);
    // One chunk more than the whole ones: the last may deliver nothing.
    const std::uint64_t chunk_count = length / Usn_Scan::Chunk_Size + 1;
    bool going = true;
    for (std::uint64_t c = 0; c < chunk_count && going; ++c) {
        const std::uint64_t offset = c * Usn_Scan::Chunk_Size;
        const std::size_t wanted =
            offset >= length ? 0 : static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), length - offset));
        const std::size_t got = wanted == 0 ? 0 : file.Read_At(offset, chunk.data(), wanted);
        Scan_Usn_Chunk(Byte_View(chunk.data(), got), settings.Step, [&](std::size_t, const Usn_Record_V2& record) {
            if (!going) return;
            builder.Fill(record, row);
            going = row_found(row);
        });
        // A read error ends the file here; the rows found so far stay.
        if (got < wanted) break;
    }
}

// Batches of rows from the decoding thread to the inserting one: first in,
// first out, so the rows keep the scan's order, and bounded, so a decoder
// that runs ahead of the inserts waits instead of filling memory.
class Row_Batch_Queue {
public:
    explicit Row_Batch_Queue(std::size_t capacity) : capacity_(std::max<std::size_t>(capacity, 1)) {}

    // Waits for room; false when the queue was closed (the batch is dropped).
    bool Push(Stored_UsnJrnl_Rows&& batch) {
        std::unique_lock lock(mutex_);
        room_.wait(lock, [&] { return closed_ || batches_.size() < capacity_; });
        if (closed_) return false;
        batches_.push_back(std::move(batch));
        filled_.notify_one();
        return true;
    }

    // Waits for a batch; false when the queue is closed and empty.
    bool Pop(Stored_UsnJrnl_Rows& batch) {
        std::unique_lock lock(mutex_);
        filled_.wait(lock, [&] { return closed_ || !batches_.empty(); });
        if (batches_.empty()) return false;
        batch = std::move(batches_.front());
        batches_.pop_front();
        room_.notify_one();
        return true;
    }

    // No batch goes in after this; the batches in it can still be taken.
    void Close() {
        {
            std::lock_guard lock(mutex_);
            closed_ = true;
        }
        room_.notify_all();
        filled_.notify_all();
    }

private:
    std::size_t capacity_;
    std::mutex mutex_;
    std::condition_variable room_;
    std::condition_variable filled_;
    std::deque<Stored_UsnJrnl_Rows> batches_;
    bool closed_ = false;
};

// Decodes on a thread of its own and inserts on this one. The connection is
// only ever used here; the decoding thread reads the file and the $MFT index
// (and writes context.Full_Path, which nothing else reads meanwhile). False
// when no thread could be started: nothing was read or inserted then.
bool Insert_Rows_Through_Queue(Global_Parsing_Context& context, platform::Read_Only_File& file,
                               const Scan_Settings& settings, UsnJrnl_Row_Inserter& inserter,
                               const Usn_Stage_Options& options) {
    const std::size_t batch_rows = std::max<std::size_t>(options.Batch_Rows, 1);
    Row_Batch_Queue queue(options.Queued_Batches);
    std::exception_ptr decoding_failure;
    const auto decode = [&] {
        try {
            Stored_UsnJrnl_Rows batch;
            batch.Reserve(batch_rows);
            bool open = true;
            Scan_File_Rows(context, file, settings, [&](const _USNJRNLINFO& row) {
                batch.Add(row);
                if (batch.Size() < batch_rows) return true;
                open = queue.Push(std::move(batch));
                batch = Stored_UsnJrnl_Rows();
                batch.Reserve(batch_rows);
                return open;
            });
            if (open && !batch.Empty()) queue.Push(std::move(batch));
        } catch (...) {
            decoding_failure = std::current_exception();
        }
        queue.Close();
    };
    std::thread decoder;
    try {
        decoder = std::thread(decode);
    } catch (const std::system_error&) {
        return false;
    }
    // Whatever ends this thread's part (a failure too), the decoder is
    // stopped and waited for before the queue and the file go away.
    struct Join_Decoder {
        Row_Batch_Queue& queue;
        std::thread& decoder;
        ~Join_Decoder() {
            queue.Close();
            if (decoder.joinable()) decoder.join();
        }
    } join{queue, decoder};

    Stored_UsnJrnl_Rows batch;
    while (queue.Pop(batch)) inserter.Insert(batch);
    // The queue ran dry after the decoder closed it: it is ending.
    decoder.join();
    if (decoding_failure) std::rethrow_exception(decoding_failure);
    return true;
}

// Decodes and inserts on this thread, in the batches that the queue would
// carry. A refused row (its USN already stored) is lost; the scan goes on.
void Insert_Rows_Here(Global_Parsing_Context& context, platform::Read_Only_File& file, const Scan_Settings& settings,
                      UsnJrnl_Row_Inserter& inserter, const Usn_Stage_Options& options) {
    const std::size_t batch_rows = std::max<std::size_t>(options.Batch_Rows, 1);
    Stored_UsnJrnl_Rows batch;
    try {
        Scan_File_Rows(context, file, settings, [&](const _USNJRNLINFO& row) {
            batch.Add(row);
            if (batch.Size() >= batch_rows) {
                inserter.Insert(batch);
                batch.Clear();
            }
            return true;
        });
    } catch (...) {
        // The rows decoded before the failure are stored all the same.
        inserter.Insert(batch);
        throw;
    }
    inserter.Insert(batch);
}

int Scan_UsnJrnl_File(Global_Parsing_Context& context, const std::string& path, CppSQLite3DB& db, int hour_offset,
                      const Scan_Settings& settings, const Usn_Stage_Options& options) {
    context.Hour_Offset = hour_offset;
    platform::Read_Only_File file;
    if (!file.Open(path)) return 0;

    Scoped_Transaction transaction(db);
    {
        UsnJrnl_Row_Inserter inserter(db);
        // A small file, one without the prepared statement (no table, no
        // connection), or one for which no thread can be started: the rows
        // are decoded and inserted here.
        if (!options.Decode_On_Own_Thread || file.Size() < options.Own_Thread_From_Bytes || !inserter.Prepared() ||
            !Insert_Rows_Through_Queue(context, file, settings, inserter, options))
            Insert_Rows_Here(context, file, settings, inserter, options);
    }
    transaction.Commit();
    return 0;
}

}  // namespace

void Put_Usn_Decimal_Text(std::uint64_t value, std::u16string& out) {
    char16_t digits[20];
    std::size_t n = 0;
    do {
        digits[n++] = static_cast<char16_t>(u'0' + value % 10);
        value /= 10;
    } while (value != 0);
    out.clear();
    while (n != 0) out.push_back(digits[--n]);
}

void Put_Usn_Reference_Text(std::uint64_t reference, std::u16string& out) {
    out.assign(u"0x");
    for (int shift = 60; shift >= 0; shift -= 4) out.push_back(Hex_Digits[(reference >> shift) & 0xF]);
}

void UsnJrnl_Row_Builder::Fill(const Usn_Record_V2& record, _USNJRNLINFO& row) {
    // Assignments, not fresh texts: the row is reused for every record.
    row.TimeStamp = time_texts_.Text(record.Time_Stamp);
    Put_Usn_Decimal_Text(record.Usn, row.USN);
    row.FileName = record.File_Name;
    Build_Path(record.Parent_File_Reference_Number, record.File_Name, row.FullPath);
    row.Event = Usn_Reason_Text(record.Reason);
    // Whatever the record's SourceInfo says.
    row.SourceInfo = u"Normal";
    row.FileAttr = Usn_File_Attribute_Text(record.File_Attributes);
    row.CarvingFlag = carving_flag_;
    Put_Usn_Reference_Text(record.File_Reference_Number, row.FileReferenceNumber);
    Put_Usn_Reference_Text(record.Parent_File_Reference_Number, row.ParentFileReferenceNumber);
}

void UsnJrnl_Row_Builder::Build_Path(std::uint64_t parent_reference, std::u16string_view file_name,
                                     std::u16string& path) {
    path.clear();
    if (context_.MFT_Unavailable != 0) return;
    // The root is recognised by its entry number alone, also without an $MFT.
    // A path never passes the longest one Windows can open; a crafted record
    // or $MFT gives "" rather than an ever longer text.
    const auto fits = [&](std::size_t parent_units) {
        return parent_units + 1 + file_name.size() <= Mft_Index::Max_Full_Path_Units;
    };
    if (Is_Root_Reference(parent_reference)) {
        if (fits(0)) path.append(u"\\").append(file_name);
        return;
    }
    if (context_.Mft.Empty()) return;

    // Of several path nodes under the parent's whole reference the first
    // inserted counts; a re-used entry (another sequence number) has none.
    const _ENTRYINFO_2* parent = context_.Mft.Find_Path_Node(parent_reference);
    if (parent == nullptr) return;
    // The index's own call, not Build_Full_Path, which takes the name by value.
    context_.Mft.Full_Path_Of(parent_reference, parent->Name, context_.Full_Path);
    if (context_.Full_Path.empty() || !fits(context_.Full_Path.size())) return;
    path.append(context_.Full_Path).append(u"\\").append(file_name);
}

int Parse_UsnJrnl(Global_Parsing_Context& context, const std::string& path, CppSQLite3DB& db, int hour_offset,
                  const Usn_Stage_Options& options) {
    return Scan_UsnJrnl_File(context, path, db, hour_offset, Scan_Settings{Usn_Scan::Journal_Step, u""}, options);
}

int Carve_UsnJrnl_Records(Global_Parsing_Context& context, const std::string& path, CppSQLite3DB& db,
                          int hour_offset, int alignment, const Usn_Stage_Options& options) {
    // The command line admits 1 to 8; a step below 1 would never move on.
    const std::size_t step = static_cast<std::size_t>(std::max(alignment, 1));
    return Scan_UsnJrnl_File(context, path, db, hour_offset, Scan_Settings{step, u"Y"}, options);
}
