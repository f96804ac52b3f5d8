// Builds $LogFile bytes for tests: restart pages, record pages with their
// update sequence applied as on disk, and a stream of log records laid over
// the data areas of consecutive record pages, so that headers and client data
// cross page ends exactly as Windows writes them.
//
// Offsets are written out here on purpose, apart from the parser's own
// constants, so that a wrong constant in the parser shows up as a failure.
#pragma once

// Fixtures are written with designated initializers that name only the fields
// a case changes; g++ 12 warns about the fields left to their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "support/Byte_Writer.h"

namespace logfile_test {

using test_support::Bytes;
using test_support::Get_U64;
using test_support::Put_U16;
using test_support::Put_U32;
using test_support::Put_U64;

// A restart page as Windows writes it; the restart area sits at `area`.
struct Restart_Page_Values {
    std::uint16_t major = 1;
    std::uint16_t minor = 1;
    std::uint32_t sequence_bits = 40;
    std::uint64_t log_size = 0x400000;
    std::uint16_t area = 0x30;
    std::uint64_t check_disk_lsn = 0;
    std::uint32_t system_page_size = 4096;
    std::uint32_t log_page_size = 4096;
};

inline Bytes Restart_Page(const Restart_Page_Values& s = {}) {
    Bytes p(4096, 0);
    std::memcpy(p.data(), "RSTR", 4);               // 0x00 magic
    Put_U16(p, 0x04, 0x1E);                         // 0x04 update-sequence offset
    Put_U16(p, 0x06, 9);                            // 0x06 update-sequence count
    Put_U64(p, 0x08, s.check_disk_lsn);             // 0x08 check-disk LSN
    Put_U32(p, 0x10, s.system_page_size);           // 0x10 system page size
    Put_U32(p, 0x14, s.log_page_size);              // 0x14 log page size
    Put_U16(p, 0x18, s.area);                       // 0x18 restart area offset
    Put_U16(p, 0x1A, s.minor);                      // 0x1A minor version
    Put_U16(p, 0x1C, s.major);                      // 0x1C major version
    if (s.area + 0x20u <= p.size()) {
        Put_U32(p, s.area + 0x10u, s.sequence_bits);  // area +0x10 sequence-number bits
        Put_U64(p, s.area + 0x18u, s.log_size);       // area +0x18 log file size
    }
    return p;
}

// One log record: a 0x30-byte header, then the client data, which begins
// with the 0x28 bytes of the redo/undo description, then the redo and undo
// data. The record is padded to 8 bytes, as Windows lays records.
struct Log_Record {
    std::uint64_t lsn = 0;
    std::uint64_t previous_lsn = 0;
    std::uint64_t undo_next_lsn = 0;
    std::uint32_t record_type = 1;
    std::uint32_t transaction_id = 0;
    std::uint16_t redo_operation = 0;
    std::uint16_t undo_operation = 0;
    std::uint16_t target_attribute = 0;
    std::uint16_t record_offset = 0;
    std::uint16_t attribute_offset = 0;
    std::uint16_t cluster_index = 0;
    std::uint64_t target_vcn = 0;
    Bytes redo;
    Bytes undo;
    // Overrides for damaged records.
    std::optional<std::uint32_t> client_length;
    std::optional<std::uint16_t> redo_offset;
    std::optional<std::uint16_t> undo_offset;

    // The client data length the header will carry.
    std::uint32_t Client_Length() const {
        if (client_length) return *client_length;
        const std::size_t natural = 0x28 + redo.size() + undo.size();
        return static_cast<std::uint32_t>((natural + 7) & ~std::size_t{7});
    }

    // Header and client data as laid in the log (without the length override,
    // as many bytes as the record naturally has).
    Bytes Encode() const {
        const std::size_t natural = (0x28 + redo.size() + undo.size() + 7) & ~std::size_t{7};
        Bytes b(0x30 + natural, 0);
        Put_U64(b, 0x00, lsn);                        // this LSN
        Put_U64(b, 0x08, previous_lsn);               // client previous LSN
        Put_U64(b, 0x10, undo_next_lsn);              // client undo-next LSN
        Put_U32(b, 0x18, Client_Length());            // client data length
        Put_U32(b, 0x20, record_type);                // record type
        Put_U32(b, 0x24, transaction_id);             // transaction id
        Put_U16(b, 0x30, redo_operation);             // redo operation
        Put_U16(b, 0x32, undo_operation);             // undo operation
        const std::uint16_t redo_at = redo_offset.value_or(0x28);
        const std::uint16_t undo_at = undo_offset.value_or(static_cast<std::uint16_t>(0x28 + redo.size()));
        Put_U16(b, 0x34, redo_at);                    // redo offset (from the client data start)
        Put_U16(b, 0x36, static_cast<std::uint16_t>(redo.size()));  // redo length
        Put_U16(b, 0x38, undo_at);                    // undo offset
        Put_U16(b, 0x3A, static_cast<std::uint16_t>(undo.size()));  // undo length
        Put_U16(b, 0x3C, target_attribute);           // target attribute
        Put_U16(b, 0x40, record_offset);              // record offset
        Put_U16(b, 0x42, attribute_offset);           // attribute offset
        Put_U16(b, 0x44, cluster_index);              // cluster index
        Put_U64(b, 0x48, target_vcn);                 // target VCN
        std::copy(redo.begin(), redo.end(), b.begin() + 0x58);
        std::copy(undo.begin(), undo.end(), b.begin() + 0x58 + static_cast<std::ptrdiff_t>(redo.size()));
        return b;
    }
};

// The 64-byte header values of a record page.
struct Record_Page_Values {
    std::uint64_t last_lsn = 0;
    std::uint64_t last_end_lsn = 0;
    std::uint16_t page_count = 1;
    std::uint16_t page_position = 1;
    std::uint16_t update_sequence_number = 1;
};

// A record page holding `data_area` from 0x40, with the update sequence
// applied: the last two bytes of every 512-byte sector are saved in the array
// at 0x2A.. and replaced by the update-sequence number.
inline Bytes Record_Page(const Record_Page_Values& s, std::span<const std::uint8_t> data_area) {
    Bytes p(4096, 0);
    std::memcpy(p.data(), "RCRD", 4);                  // 0x00 magic
    Put_U16(p, 0x04, 0x28);                            // 0x04 update-sequence offset
    Put_U16(p, 0x06, 9);                               // 0x06 update-sequence count
    Put_U64(p, 0x08, s.last_lsn);                      // 0x08 last LSN
    Put_U16(p, 0x14, s.page_count);                    // 0x14 page count
    Put_U16(p, 0x16, s.page_position);                 // 0x16 page position
    Put_U64(p, 0x20, s.last_end_lsn);                  // 0x20 last end LSN
    std::copy_n(data_area.begin(), std::min<std::size_t>(data_area.size(), 4096 - 0x40), p.begin() + 0x40);
    Put_U16(p, 0x28, s.update_sequence_number);        // 0x28 update-sequence number
    for (std::size_t k = 1; k <= 8; ++k) {
        p[0x28 + 2 * k] = p[512 * k - 2];              // 0x2A.. saved sector ends
        p[0x28 + 2 * k + 1] = p[512 * k - 1];
        Put_U16(p, 512 * k - 2, s.update_sequence_number);
    }
    return p;
}

inline Bytes Filled_Page(std::uint8_t value) { return Bytes(4096, value); }

// Where a record of a laid stream landed.
struct Placement {
    std::size_t page = 0;    // index among the laid pages
    std::size_t offset = 0;  // offset of its header in that page
};

// Record pages holding `records` one after another, the first header at
// `first_offset` of the first page, each page's data area continuing the
// previous one. A page's last LSN is that of the last record starting on it
// (or of the one running through it) and its last end LSN that of the last
// record ending on it (0 when none does). `page_count` pages at least.
struct Laid_Log {
    std::vector<Bytes> pages;
    std::vector<Placement> placements;
    std::vector<Record_Page_Values> headers;
};

inline Laid_Log Lay_Records(const std::vector<Log_Record>& records, std::size_t first_offset = 0x40,
                            std::size_t page_count = 0) {
    constexpr std::size_t data_size = 4096 - 0x40;
    Bytes stream(first_offset - 0x40, 0);
    std::vector<std::pair<std::size_t, std::size_t>> spans;  // stream begin, end
    for (const Log_Record& r : records) {
        // Windows starts a record on the next page when fewer than 0x30
        // bytes (a record header) are left on the current one.
        const std::size_t used = stream.size() % data_size;
        if (used != 0 && data_size - used < 0x30) stream.resize(stream.size() + data_size - used, 0);
        const Bytes b = r.Encode();
        spans.emplace_back(stream.size(), stream.size() + b.size());
        stream.insert(stream.end(), b.begin(), b.end());
    }
    const std::size_t pages = std::max(page_count, (stream.size() + data_size - 1) / data_size);
    stream.resize(pages * data_size, 0);
    Laid_Log log;
    log.headers.resize(pages);
    for (std::size_t i = 0; i < records.size(); ++i) {
        const auto [begin, end] = spans[i];
        log.placements.push_back({begin / data_size, 0x40 + begin % data_size});
        for (std::size_t p = begin / data_size; p <= (end - 1) / data_size && p < pages; ++p)
            log.headers[p].last_lsn = records[i].lsn;
        if ((end - 1) / data_size < pages) log.headers[(end - 1) / data_size].last_end_lsn = records[i].lsn;
    }
    for (std::size_t p = 0; p < pages; ++p)
        log.pages.push_back(
            Record_Page(log.headers[p], std::span<const std::uint8_t>(stream).subspan(p * data_size, data_size)));
    return log;
}

// A whole $LogFile image, page after page.
class Log_Image {
public:
    Log_Image& Add(const Bytes& page) {
        Bytes p = page;
        p.resize(4096, 0);
        bytes_.insert(bytes_.end(), p.begin(), p.end());
        return *this;
    }
    Log_Image& Add(const std::vector<Bytes>& pages) {
        for (const Bytes& p : pages) Add(p);
        return *this;
    }
    // Two restart pages of the given version.
    Log_Image& Add_Restart_Pages(const Restart_Page_Values& s = {}) { return Add(Restart_Page(s)).Add(Restart_Page(s)); }

    std::size_t Page_Count() const { return bytes_.size() / 4096; }
    Bytes& Data() { return bytes_; }
    const Bytes& Data() const { return bytes_; }
    std::uint64_t Offset_Of_Page(std::size_t page) const { return page * 4096; }

    std::string Write(const std::string& path) const {
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes_.data()),
                                                    static_cast<std::streamsize>(bytes_.size()));
        return path;
    }

    // Reads one 4096-byte page, zero-filled past the end.
    bool Read(std::uint64_t offset, std::span<std::uint8_t> page) const {
        std::fill(page.begin(), page.end(), 0);
        if (offset >= bytes_.size()) return true;
        const std::size_t n = std::min<std::size_t>(page.size(), bytes_.size() - offset);
        std::memcpy(page.data(), bytes_.data() + offset, n);
        return true;
    }

private:
    Bytes bytes_;
};

}  // namespace logfile_test
