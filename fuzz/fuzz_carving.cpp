// libFuzzer target over small source files carved with -g and -n: the file is
// the only one of a source folder that Carve_Source_Folder walks, with the
// real analysis of every log record and the journal carver after it.
//
// Input: a first byte whose low two bits choose how the file is made, bit 2
// quick mode, and bits 3-5 the journal carver's alignment (1 to 8):
//   0   the rest of the input is the file itself;
//   1-3 the file is assembled from page descriptions, so that even a short
//       input reaches the page lists and the walk: a filler (1 zeros, 2 0xFF,
//       3 the input's own bytes), then pages [file page u8][kind u8]
//       [length u16][bytes], kind 0 a record page (the bytes follow its
//       magic), 1 raw bytes, 2 an unwritten page, 3 a restart page (version
//       from the next four bytes, then the bytes from its restart area on),
//       4 a record page of the log-record stream, 5 a change-journal record
//       (its offset in the page, then its bytes from the file reference on).
//       The bytes of all kind-4 pages describe one stream of records (per
//       record: a size byte, a flags byte and two operation bytes) laid over
//       those pages in turn, so records cross page ends as Windows writes them.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "carving/Carve_Source_Folder.h"
#include "db/CppSQLite3.h"
#include "ntfs/Parsing_Context.h"
#include "output/Event_Tables.h"
#include "platform/console.h"
#include "records/Run_Options.h"

namespace {

constexpr std::size_t Page = 4096;
constexpr std::size_t Max_Pages = 48;

struct Fixture {
    Fixture() {
        char pattern[] = "/tmp/fuzz_carving_XXXXXX";
        if (mkdtemp(pattern) == nullptr) std::abort();
        folder = pattern;
        path = folder + "/source.bin";
        db.Open_With_Pragmas(":memory:");
        db.Run_Query(Event_Table_Sql::Create_LogFile);
        db.Run_Query(Event_Table_Sql::Create_UsnJrnl);
    }
    ~Fixture() {
        unlink(path.c_str());
        rmdir(folder.c_str());
    }
    void Write(const std::vector<std::uint8_t>& bytes) {
        FILE* f = std::fopen(path.c_str(), "wb");
        if (f == nullptr) std::abort();
        if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) std::abort();
        std::fclose(f);
    }
    std::string folder;
    std::string path;
    CppSQLite3DB db;
};

void Put(std::vector<std::uint8_t>& image, std::size_t at, const std::uint8_t* bytes, std::size_t count) {
    if (at >= image.size()) return;
    std::memcpy(image.data() + at, bytes, std::min(count, image.size() - at));
}

void Put_Le(std::vector<std::uint8_t>& image, std::size_t at, std::uint64_t v, int width) {
    std::uint8_t b[8];
    for (int i = 0; i < width; ++i) b[i] = static_cast<std::uint8_t>(v >> (8 * i));
    Put(image, at, b, static_cast<std::size_t>(width));
}

void Record_Magic(std::vector<std::uint8_t>& image, std::size_t base) {
    static const std::uint8_t magic[8] = {'R', 'C', 'R', 'D', 0x28, 0, 9, 0};
    std::fill_n(image.begin() + static_cast<std::ptrdiff_t>(base), Page, 0);
    Put(image, base, magic, sizeof magic);
}

// Lays the record stream described by `description` over `pages` (their data
// areas in turn), numbering records by their position as Windows does, and
// gives each page its last LSN and last end LSN.
void Lay_Stream(std::vector<std::uint8_t>& image, const std::vector<std::size_t>& pages,
                const std::vector<std::uint8_t>& description) {
    constexpr std::size_t data_size = Page - 0x40;
    std::vector<std::uint8_t> stream;
    std::vector<std::pair<std::size_t, std::uint64_t>> records;  // end in the stream, LSN
    for (std::size_t d = 0; d + 4 <= description.size() && stream.size() < pages.size() * data_size; d += 4) {
        const std::size_t size = 0x58 + 8 * std::size_t{description[d]};
        const std::uint8_t flags = description[d + 1];
        const std::size_t at = stream.size();
        const std::uint64_t lsn = (static_cast<std::uint64_t>(1 + (flags & 1)) << 24) | ((pages[at / data_size] * Page + 0x40 + at % data_size) / 8);
        std::vector<std::uint8_t> r(size, 0);
        Put_Le(r, 0x00, flags & 0x80 ? 0 : lsn, 8);                                     // this LSN
        Put_Le(r, 0x08, flags & 0x40 ? lsn + 0x10000000 : lsn - 8, 8);                  // client previous LSN
        Put_Le(r, 0x18, flags & 0x20 ? 0xFFFFFFF0u >> (flags & 7) : size - 0x30, 4);   // client data length
        r[0x20] = flags & 0x10 ? 2 : 1;                                                 // record type
        r[0x30] = description[d + 2];                                                   // redo operation
        r[0x32] = description[d + 3];                                                   // undo operation
        r[0x34] = flags & 0x08 ? 0xF0 : 0x28;                                           // redo offset
        r[0x36] = static_cast<std::uint8_t>(size - 0x58);                               // redo length
        r[0x38] = 0x28;                                                                 // undo offset
        r[0x3A] = static_cast<std::uint8_t>(size - 0x58);                               // undo length
        stream.insert(stream.end(), r.begin(), r.end());
        records.emplace_back(stream.size(), lsn);
    }
    for (std::size_t i = 0; i < pages.size(); ++i) {
        const std::size_t base = pages[i] * Page;
        Record_Magic(image, base);
        std::uint64_t last = 0, last_end = 0;
        for (const auto& [end, record_lsn] : records) {
            if (end > i * data_size && end <= (i + 1) * data_size) last_end = record_lsn;
            if (end > i * data_size) {
                last = record_lsn;
                if (end > (i + 1) * data_size) break;
            }
        }
        Put_Le(image, base + 0x08, last, 8);
        Put_Le(image, base + 0x20, last_end, 8);
        if (i * data_size < stream.size())
            Put(image, base + 0x40, stream.data() + i * data_size, std::min(data_size, stream.size() - i * data_size));
    }
}

std::vector<std::uint8_t> Assemble(const std::uint8_t* data, std::size_t size) {
    const unsigned filler = data[0] & 3;
    std::vector<std::uint8_t> image(4 * Page, filler == 2 ? 0xFF : 0);
    if (filler == 3) Put(image, 0, data, size);
    std::vector<std::size_t> stream_pages;
    std::vector<std::uint8_t> stream_description;
    std::size_t at = 1;
    while (at + 4 <= size) {
        const std::size_t page = data[at] % Max_Pages;
        const unsigned kind = data[at + 1] % 6;
        std::size_t length = static_cast<std::size_t>(data[at + 2] | data[at + 3] << 8);
        at += 4;
        length = std::min(length, size - at);
        const std::uint8_t* bytes = data + at;
        at += length;
        if (image.size() < (page + 1) * Page) image.resize((page + 1) * Page, filler == 2 ? 0xFF : 0);
        const std::size_t base = page * Page;
        switch (kind) {
            case 0:
                Record_Magic(image, base);
                Put(image, base + 8, bytes, std::min(length, Page - 8));
                break;
            case 1: Put(image, base, bytes, std::min(length, Page)); break;
            case 2: std::fill_n(image.begin() + static_cast<std::ptrdiff_t>(base), Page, 0xFF); break;
            case 3: {
                static const std::uint8_t header[24] = {'R', 'S', 'T', 'R', 0x1E, 0, 9, 0, 0,    0, 0, 0,
                                                        0,   0,   0,   0,   0,    0x10, 0, 0, 0, 0x10, 0, 0};
                std::fill_n(image.begin() + static_cast<std::ptrdiff_t>(base), Page, 0);
                Put(image, base, header, sizeof header);
                Put_Le(image, base + 0x18, 0x30, 2);                  // restart area offset
                const std::uint8_t version = length > 0 ? bytes[0] : 0;
                Put_Le(image, base + 0x1A, version & 1 ? 0 : 1, 2);   // minor version
                Put_Le(image, base + 0x1C, version & 2 ? 2 : 1, 2);   // major version
                Put_Le(image, base + 0x30 + 0x10, 40, 4);              // sequence-number bits
                Put_Le(image, base + 0x30 + 0x18, (version >> 2) * 0x4000ull, 8);  // log size
                if (length > 1) Put(image, base + 0x30, bytes + 1, std::min(length - 1, Page - 0x30));
                break;
            }
            case 4:
                stream_pages.push_back(page);
                stream_description.insert(stream_description.end(), bytes, bytes + length);
                break;
            default: {
                // A change-journal record: length 60 + name, version 2.0, a
                // time stamp that passes, SourceInfo 0, name offset 60.
                const std::size_t offset = base + (length > 0 ? bytes[0] * 15 : 0);
                const std::size_t name = length > 1 ? bytes[1] % 64 : 8;
                Put_Le(image, offset, 60 + name, 4);
                Put_Le(image, offset + 4, 2, 2);
                Put_Le(image, offset + 6, 0, 2);
                if (length > 2) Put(image, offset + 8, bytes + 2, std::min<std::size_t>(length - 2, 60 + name - 8));
                Put_Le(image, offset + 24, 0x100 + offset, 8);
                if (offset + 39 < image.size()) image[offset + 39] = 0x01;
                Put_Le(image, offset + 44, 0, 4);
                Put_Le(image, offset + 56, name, 2);
                Put_Le(image, offset + 58, 60, 2);
                break;
            }
        }
    }
    Lay_Stream(image, stream_pages, stream_description);
    return image;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Fixture fixture;
    static std::ostringstream sink;
    platform::Scoped_Output quiet(sink, sink);
    sink.str("");
    if (size == 0) return 0;

    const unsigned mode = data[0] & 3;
    Run_Options options;
    options.g_LogFile_Carving = 1;
    options.g_UsnJrnl_Carving = 1;
    options.g_Quick_Mode = (data[0] >> 2) & 1;
    options.g_Carving_Alignment = 1 + ((data[0] >> 3) & 7);
    fixture.Write(mode == 0 ? std::vector<std::uint8_t>(data + 1, data + size) : Assemble(data, size));

    fixture.db.Run_Query(u"delete from LogFile");
    fixture.db.Run_Query(u"delete from UsnJrnl");
    Global_Parsing_Context context;
    Carve_Source_Folder(context, options, fixture.folder, fixture.db, 9);
    return 0;
}
