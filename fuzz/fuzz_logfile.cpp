// libFuzzer target over whole small $LogFile images (restart and record
// pages). The image is parsed as the program parses one, analysis and rows
// included; its replay list is then walked again with the carver's rule for
// failing headers, and every page goes through the searches the carver uses.
//
// Input: a first byte whose low two bits choose how the image is made:
//   0   the rest of the input is the image itself (for corpora of real logs);
//   1-3 the image is assembled from page descriptions, so that even a short
//       input reaches the record walk: two restart pages of version 1.1 (1),
//       2.0 (2) or of the version in the next four bytes (3), with the
//       sequence-number bit count from the following byte, then pages
//       [file page u8][kind u8][length u16][bytes], kind 0 a record page
//       (the bytes follow "RCRD", 0x28, 9), 1 raw bytes, 2 an 0xFF page,
//       3 a restart page (the bytes from offset 0x18), 4 a record page of
//       the log-record stream. The bytes of all kind-4 pages describe one
//       stream of records (per record: a size byte, a flags byte and two
//       operation bytes) laid over those pages in turn, so records cross
//       page ends as Windows writes them. Pages not described are unwritten
//       (0xFF).
//
// Whatever the mode, the input (after its first byte) is then also read as a
// stream of single log records handed straight to the analysis, so that
// random and cut-short client data reach each of its cases.
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "db/CppSQLite3.h"
#include "ntfs/logfile/analysis/LogFile_Analysis.h"
#include "ntfs/logfile/LogFile_Format.h"
#include "ntfs/logfile/LogFile_Walk.h"
#include "ntfs/logfile/Parse_LogFile.h"
#include "output/Event_Tables.h"
#include "platform/console.h"
#include "platform/text.h"

namespace {

struct Fixture {
    Fixture() {
        char pattern[] = "/tmp/fuzz_logfile_XXXXXX";
        fd = mkstemp(pattern);
        if (fd < 0) std::abort();
        path = pattern;
        db.Open_With_Pragmas(":memory:");
        db.Run_Query(Event_Table_Sql::Create_LogFile);
    }
    ~Fixture() {
        close(fd);
        unlink(path.c_str());
    }
    void Write(const std::uint8_t* data, std::size_t size) {
        if (ftruncate(fd, 0) != 0) std::abort();
        std::size_t done = 0;
        while (done < size) {
            const ssize_t n = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
            if (n <= 0) std::abort();
            done += static_cast<std::size_t>(n);
        }
    }
    int fd = -1;
    std::string path;
    CppSQLite3DB db;
};

constexpr std::size_t Page = 4096;
constexpr std::size_t Max_Pages = 64;

void Put(std::vector<std::uint8_t>& image, std::size_t at, const std::uint8_t* bytes, std::size_t count) {
    if (at >= image.size()) return;
    std::memcpy(image.data() + at, bytes, std::min(count, image.size() - at));
}

void Put_U16(std::vector<std::uint8_t>& image, std::size_t at, std::uint16_t v) {
    const std::uint8_t b[2] = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)};
    Put(image, at, b, 2);
}

void Restart_Page(std::vector<std::uint8_t>& image, std::size_t page, std::uint16_t major, std::uint16_t minor,
                  std::uint32_t bits) {
    static const std::uint8_t header[24] = {'R', 'S', 'T', 'R', 0x1E, 0, 9, 0, 0, 0, 0, 0,
                                            0,   0,   0,   0,   0,    0x10, 0, 0, 0, 0x10, 0, 0};
    const std::size_t at = page * Page;
    std::fill(image.begin() + static_cast<std::ptrdiff_t>(at), image.begin() + static_cast<std::ptrdiff_t>(at + Page), 0);
    Put(image, at, header, sizeof header);
    Put_U16(image, at + 0x18, 0x30);  // restart area offset
    Put_U16(image, at + 0x1A, minor);
    Put_U16(image, at + 0x1C, major);
    const std::uint8_t b[4] = {static_cast<std::uint8_t>(bits), static_cast<std::uint8_t>(bits >> 8),
                               static_cast<std::uint8_t>(bits >> 16), static_cast<std::uint8_t>(bits >> 24)};
    Put(image, at + 0x30 + 0x10, b, 4);  // sequence-number bits
}

void Put_U64(std::vector<std::uint8_t>& image, std::size_t at, std::uint64_t v) {
    std::uint8_t b[8];
    for (int i = 0; i < 8; ++i) b[i] = static_cast<std::uint8_t>(v >> (8 * i));
    Put(image, at, b, 8);
}

// Lays the record stream described by `description` over `pages` (their data
// areas in turn) and gives each page its last LSN and last end LSN.
void Lay_Stream(std::vector<std::uint8_t>& image, const std::vector<std::size_t>& pages,
                const std::vector<std::uint8_t>& description) {
    constexpr std::size_t data_size = Page - 0x40;
    std::vector<std::uint8_t> stream;
    std::vector<std::pair<std::size_t, std::uint64_t>> records;  // end in the stream, LSN
    std::uint64_t lsn = 0x1000;
    for (std::size_t d = 0; d + 4 <= description.size() && stream.size() < pages.size() * data_size; d += 4) {
        const std::size_t size = 0x58 + 8 * std::size_t{description[d]};
        const std::uint8_t flags = description[d + 1];
        std::vector<std::uint8_t> r(size, 0);
        Put_U64(r, 0x00, flags & 0x80 ? 0 : lsn);                                   // this LSN
        Put_U64(r, 0x08, flags & 0x40 ? lsn + 0x10000000 : lsn - 8);                // client previous LSN
        const std::uint32_t length = flags & 0x20 ? 0xFFFFFFF0u >> (flags & 7) : static_cast<std::uint32_t>(size - 0x30);
        r[0x18] = static_cast<std::uint8_t>(length);                                 // client data length
        r[0x19] = static_cast<std::uint8_t>(length >> 8);
        r[0x1A] = static_cast<std::uint8_t>(length >> 16);
        r[0x1B] = static_cast<std::uint8_t>(length >> 24);
        r[0x20] = flags & 0x10 ? 2 : 1;                                              // record type
        r[0x30] = description[d + 2];                                                // redo operation
        r[0x32] = description[d + 3];                                                // undo operation
        r[0x34] = flags & 0x08 ? 0xF0 : 0x28;                                        // redo offset
        r[0x36] = static_cast<std::uint8_t>(size - 0x58);                            // redo length
        r[0x38] = 0x28;                                                              // undo offset
        r[0x3A] = static_cast<std::uint8_t>(size - 0x58);                            // undo length
        stream.insert(stream.end(), r.begin(), r.end());
        records.emplace_back(stream.size(), lsn);
        lsn += size / 8;
    }
    for (std::size_t i = 0; i < pages.size(); ++i) {
        const std::size_t base = pages[i] * Page;
        static const std::uint8_t magic[8] = {'R', 'C', 'R', 'D', 0x28, 0, 9, 0};
        std::fill_n(image.begin() + static_cast<std::ptrdiff_t>(base), Page, 0);
        Put(image, base, magic, sizeof magic);
        std::uint64_t last = 0, last_end = 0;
        for (const auto& [end, record_lsn] : records) {
            if (end > i * data_size && end <= (i + 1) * data_size) last_end = record_lsn;
            if (end > i * data_size) {
                last = record_lsn;
                if (end > (i + 1) * data_size) break;
            }
        }
        Put_U64(image, base + 0x08, last);
        Put_U64(image, base + 0x20, last_end);
        if (i * data_size < stream.size())
            Put(image, base + 0x40, stream.data() + i * data_size, std::min(data_size, stream.size() - i * data_size));
    }
}

std::vector<std::uint8_t> Assemble(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> image(2 * Page, 0xFF);
    const unsigned mode = data[0] & 3;
    std::size_t at = 1;
    std::uint16_t major = mode == 2 ? 2 : 1, minor = mode == 2 ? 0 : 1;
    if (mode == 3 && size >= at + 4) {
        major = static_cast<std::uint16_t>(data[at] | data[at + 1] << 8);
        minor = static_cast<std::uint16_t>(data[at + 2] | data[at + 3] << 8);
        at += 4;
    }
    const std::uint32_t bits = at < size ? data[at++] % 70 : 40;
    Restart_Page(image, 0, major, minor, bits);
    Restart_Page(image, 1, major, minor, bits);
    std::vector<std::size_t> stream_pages;
    std::vector<std::uint8_t> stream_description;
    while (at + 4 <= size) {
        const std::size_t page = data[at] % Max_Pages;
        const unsigned kind = data[at + 1] % 5;
        std::size_t length = static_cast<std::size_t>(data[at + 2] | data[at + 3] << 8);
        at += 4;
        length = std::min(length, size - at);
        if (image.size() < (page + 1) * Page) image.resize((page + 1) * Page, 0xFF);
        const std::size_t base = page * Page;
        if (kind == 0) {
            static const std::uint8_t magic[8] = {'R', 'C', 'R', 'D', 0x28, 0, 9, 0};
            std::fill_n(image.begin() + static_cast<std::ptrdiff_t>(base), Page, 0);
            Put(image, base, magic, sizeof magic);
            Put(image, base + 8, data + at, std::min(length, Page - 8));
        } else if (kind == 1) {
            Put(image, base, data + at, std::min(length, Page));
        } else if (kind == 2) {
            std::fill_n(image.begin() + static_cast<std::ptrdiff_t>(base), Page, 0xFF);
        } else if (kind == 3) {
            Restart_Page(image, page, major, minor, bits);
            Put(image, base + 0x18, data + at, std::min(length, Page - 0x18));
        } else {
            stream_pages.push_back(page);
            stream_description.insert(stream_description.end(), data + at, data + at + length);
        }
        at += length;
    }
    Lay_Stream(image, stream_pages, stream_description);
    return image;
}

// Random log records straight into the analysis, so that random and cut-short
// client data reach every case: each record takes a 0x58-byte header and a
// client data of 16 times the header's byte 0x18 bytes, cut short by the end of
// the input; the operation pair is one of those the analysis handles, chosen
// by the header's redo byte, and transaction ids are few so groups form.
void Analyze_Random_Records(const std::uint8_t* data, std::size_t size, CppSQLite3DB& db) {
    static constexpr std::uint16_t Pairs[][2] = {{0x02, 0x00}, {0x03, 0x02}, {0x0F, 0x0E}, {0x0D, 0x0C},
                                                 {0x0E, 0x0F}, {0x0C, 0x0D}, {0x07, 0x07}, {0x09, 0x09},
                                                 {0x06, 0x05}, {0x05, 0x06}, {0x1B, 0x01}, {0x01, 0x00}};
    Global_Parsing_Context context;
    context.Hour_Offset = static_cast<int>(size % 27) - 12;
    if (size % 2 == 1) context.MFT_Creation_Time = u"2020-07-25 12:24:44";
    _log_info prev;
    std::uint64_t lsn = 0;
    for (std::size_t at = 0; at < size;) {
        std::array<std::uint8_t, 0x58> header{};
        const std::size_t header_bytes = std::min<std::size_t>(header.size(), size - at);
        std::memcpy(header.data(), data + at, header_bytes);
        at += header_bytes;
        const auto& pair = Pairs[header[0x30] % std::size(Pairs)];
        header[0x30] = static_cast<std::uint8_t>(pair[0]);
        header[0x31] = 0;
        header[0x32] = static_cast<std::uint8_t>(pair[1]);
        header[0x33] = 0;
        header[0x24] %= 4;
        std::memset(&header[0x25], 0, 3);
        const std::size_t client_length = std::min<std::size_t>(std::size_t{header[0x18]} * 16, size - at);
        const std::span<const std::uint8_t> client(data + at, client_length);
        at += client_length;

        const Byte_View view(header.data(), header.size());
        _log_info cur;
        cur.ThisLSN = ++lsn;
        cur.LSN = platform::Format(u"%I64u", {static_cast<unsigned long long>(lsn)});
        cur.RecordType = LogFile_Record_Type_Text(header[0x20] % 3, pair[0]);
        cur.TransactionID = platform::Format(u"0x%X", {*view.Read_U32(0x24)});
        cur.ClusterIndex = platform::Format(u"0x%X", {header[0x44] % 8u});
        cur.MFT_ClusterIndex = header[0x44] % 8u;
        cur.TargetVCN = platform::Format(u"0x%X", {header[0x48] % 4u});
        cur.RedoInfo = LogFile_Operation_Name(pair[0]);
        cur.UndoInfo = LogFile_Operation_Name(pair[1]);
        cur.Redo_Operation = pair[0];
        cur.Undo_Operation = pair[1];
        cur.RedoDataLength = *view.Read_U16(0x36);
        cur.UndoDataLength = *view.Read_U16(0x3A);
        const Log_Record_Header decoded = *Decode_Log_Record_Header(view);
        Analyze_LogFile_Record(context, decoded, cur, prev, Client_Data_View(client, decoded.Redo_Offset), db);
        prev = cur;
        if (!cur.FileName.empty() || !cur.Event.empty()) {
            Insert_LogFile_Row(db, cur);
            context.LogFile_Row_Array.push_back(cur);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Fixture fixture;
    // Message boxes go to a sink.
    static std::ostringstream sink;
    platform::Scoped_Output quiet(sink, sink);
    sink.str("");

    if (size == 0) return 0;
    const std::uint8_t* const input = data;
    const std::size_t input_size = size;
    std::vector<std::uint8_t> assembled;
    if ((data[0] & 3) == 0) {
        ++data;
        --size;
    } else {
        assembled = Assemble(data, size);
        data = assembled.data();
        size = assembled.size();
    }
    fixture.Write(data, size);
    fixture.db.Run_Query(u"delete from LogFile");
    Global_Parsing_Context context;
    Parse_LogFile(context, fixture.path, fixture.db, 9);

    // The carver's rule over the same replay list, pages read from memory.
    const Page_Reader reader = [&](std::uint64_t offset, std::span<std::uint8_t> page) {
        std::fill(page.begin(), page.end(), 0);
        if (offset < size) std::memcpy(page.data(), data + offset, std::min<std::size_t>(page.size(), size - offset));
        return true;
    };
    Log_Walk_Settings settings;
    settings.Shift = size > 0 ? data[0] % 64 : 24;
    settings.Rule = Failing_Header_Rule::Search_Onward;
    settings.Analyze = [](const Log_Record_Header& header, _log_info&, const _log_info&, const Client_Data_View& view) {
        // Reads anywhere around the record must stay inside it.
        const std::int64_t undo = header.Undo_Position();
        volatile std::uint64_t sum = view.Read_U64(undo) + view.Read_U64(-1) + view.Read_U64(0x1FFF);
        (void)sum;
    };
    Walk_Log_Records(context, fixture.db, context.Replay_Page_Array, reader, settings);
    Backfill_Event_Times(context, fixture.db);

    std::array<std::uint8_t, 4096> page{};
    for (std::size_t offset = 0; offset < size; offset += page.size()) {
        reader(offset, page);
        const unsigned shift = page[8] % 64;
        std::uint64_t out = 0;
        Find_Next_Record_In_Page(Byte_View(page.data(), page.size()), page[9] * 16, shift);
        Find_Last_LSN_In_Page(page, page[10] % 4, page[11] % 4, shift, &out);
        Find_Last_LSN_In_Page_Bounded(page, No_Sequence, page[12] % 4, shift, &out);
    }

    fixture.db.Run_Query(u"delete from LogFile");
    Analyze_Random_Records(input + 1, input_size - 1, fixture.db);
    return 0;
}
