// Builds whole files for the carvers: $LogFile logs (restart pages, buffer
// pages and normal record pages of version 1.1 or 2.0, with two, one or no
// restart page) placed at chosen offsets inside other bytes, and
// change-journal records among them.
//
//   Log_Layout log(Log_Version::V11, 16);
//   log.Pages(4, Lay_Numbered(Plain_Records(40), 1, 4).pages);
//   Carving_Image image(0x40000);
//   image.Put(0x10000, log).Put_Usn(0x30003, Usn_Record_Builder().Usn(8));
//   image.Write(path);
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "support/LogFile_Builder.h"
#include "support/Usn_Record_Builder.h"

namespace carving_test {

using logfile_test::Bytes;
using logfile_test::Laid_Log;
using logfile_test::Log_Record;

constexpr std::size_t Page_Size = 4096;

// The LSN Windows gives a record at byte `position` of the log: the sequence
// number in the top bits, the position in 8-byte units below them.
constexpr std::uint64_t Lsn(std::uint64_t sequence, std::uint64_t position, unsigned shift = 24) {
    return (sequence << shift) | (position / 8);
}

// `count` records of `size` bytes (header and client data), redo data a
// pattern that differs from record to record.
inline std::vector<Log_Record> Plain_Records(std::size_t count, std::size_t size = 0xA0) {
    std::vector<Log_Record> records;
    for (std::size_t i = 0; i < count; ++i) {
        Log_Record r{.redo_operation = 0x00, .undo_operation = 0x00};  // Noop: no event
        r.redo.resize(size - 0x58);
        for (std::size_t b = 0; b < r.redo.size(); ++b) r.redo[b] = static_cast<std::uint8_t>(i * 31 + b);
        records.push_back(r);
    }
    return records;
}

// Lays `records` over consecutive pages that stand at log page `first_page`
// on, numbering each record by its position in the log with `sequence`.
inline Laid_Log Lay_Numbered(std::vector<Log_Record> records, std::uint64_t sequence, std::size_t first_page,
                             unsigned shift = 24, std::size_t first_offset = 0x40, std::size_t page_count = 0) {
    // Where a record lands does not depend on its LSN: lay once to place the
    // records, then number them and lay again.
    const Laid_Log placed = logfile_test::Lay_Records(records, first_offset, page_count);
    for (std::size_t i = 0; i < records.size(); ++i) {
        const auto& at = placed.placements[i];
        records[i].lsn = Lsn(sequence, (first_page + at.page) * Page_Size + at.offset, shift);
    }
    return logfile_test::Lay_Records(records, first_offset, page_count);
}

// The LSNs of the laid records, in order.
inline std::vector<std::uint64_t> Lsns_Of(const std::vector<Log_Record>& records, const Laid_Log& laid,
                                          std::uint64_t sequence, std::size_t first_page, unsigned shift = 24) {
    std::vector<std::uint64_t> lsns;
    for (std::size_t i = 0; i < records.size(); ++i) {
        const auto& at = laid.placements[i];
        lsns.push_back(Lsn(sequence, (first_page + at.page) * Page_Size + at.offset, shift));
    }
    return lsns;
}

// A page that lost its magic ("BAAD" in place of "RCRD"), its records intact.
inline Bytes Without_Magic(Bytes page) {
    std::memcpy(page.data(), "BAAD", 4);
    return page;
}

// The same page with another last end LSN in its header.
inline Bytes With_Last_End_Lsn(Bytes page, std::uint64_t lsn) {
    logfile_test::Put_U64(page, 0x20, lsn);
    return page;
}

enum class Log_Version { V11, V20 };

// A $LogFile as Windows lays it: restart pages at log pages 0 and 1, buffer
// pages after them (pages 2-3 for 1.1, 2-33 for 2.0), the normal area after
// those (from page 4 or 34), and every page never written as 0xFF bytes.
class Log_Layout {
public:
    Log_Layout(Log_Version version, std::size_t page_count, std::uint32_t sequence_bits = 40)
        : version_(version), pages_(page_count, logfile_test::Filled_Page(0xFF)) {
        restart_.major = version == Log_Version::V11 ? 1 : 2;
        restart_.minor = version == Log_Version::V11 ? 1 : 0;
        restart_.sequence_bits = sequence_bits;
        restart_.log_size = page_count * Page_Size;
    }

    std::size_t Normal_Start() const { return version_ == Log_Version::V11 ? 4 : 34; }
    unsigned Shift() const { return 64 - restart_.sequence_bits; }

    Log_Layout& Page(std::size_t log_page, const Bytes& page) {
        if (log_page >= pages_.size()) pages_.resize(log_page + 1, logfile_test::Filled_Page(0xFF));
        pages_[log_page] = page;
        pages_[log_page].resize(Page_Size, 0);
        return *this;
    }
    Log_Layout& Pages(std::size_t first_log_page, const std::vector<Bytes>& pages) {
        for (std::size_t i = 0; i < pages.size(); ++i) Page(first_log_page + i, pages[i]);
        return *this;
    }
    // The log size both restart areas claim (the page count by default).
    Log_Layout& Claimed_Size(std::uint64_t size) { restart_.log_size = size; return *this; }
    // Restart page 0 or 1 overwritten with zeros, as a lost page would be.
    Log_Layout& Without_Restart_Page(std::size_t which) { lost_restart_[which] = true; return *this; }

    Bytes Image() const {
        Bytes out;
        for (std::size_t p = 0; p < pages_.size(); ++p) {
            Bytes page = pages_[p];
            if (p < 2) page = lost_restart_[p] ? Bytes(Page_Size, 0) : logfile_test::Restart_Page(restart_);
            out.insert(out.end(), page.begin(), page.end());
        }
        return out;
    }

private:
    Log_Version version_;
    std::vector<Bytes> pages_;
    logfile_test::Restart_Page_Values restart_;
    bool lost_restart_[2] = {false, false};
};

// A carved file: random bytes with logs, pages and journal records put in.
class Carving_Image {
public:
    explicit Carving_Image(std::size_t size = 0, std::uint32_t seed = 7) : random_(seed) { Grow(size); }

    // Bytes at `offset`, the file growing with random bytes when needed.
    Carving_Image& Put(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
        Grow(static_cast<std::size_t>(offset) + bytes.size());
        std::copy(bytes.begin(), bytes.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(offset));
        return *this;
    }
    Carving_Image& Put(std::uint64_t offset, const Log_Layout& log) { return Put(offset, log.Image()); }
    Carving_Image& Put_Usn(std::uint64_t offset, const test_support::Usn_Record_Builder& record) {
        return Put(offset, record.Build());
    }
    Carving_Image& Grow(std::size_t size) {
        while (bytes_.size() < size) bytes_.push_back(static_cast<std::uint8_t>(random_() >> 24));
        return *this;
    }

    const Bytes& Data() const { return bytes_; }
    std::size_t Size() const { return bytes_.size(); }

    std::string Write(const std::string& path) const {
        std::ofstream(path, std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(bytes_.data()), static_cast<std::streamsize>(bytes_.size()));
        return path;
    }

private:
    std::mt19937 random_;
    Bytes bytes_;
};

}  // namespace carving_test
