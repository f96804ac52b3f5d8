// Test-only builders of change-journal records (USN_RECORD_V2) and of whole
// journal files.
//
// Every field is written at a literal offset with a comment naming it, on
// purpose independent of the parser's own layout constants, so a wrong
// constant in the parser is caught instead of mirrored.
//
//   Usn_Record_Builder record;
//   record.Usn(4096).Name(u"file.txt").Parent(Mft_Reference(5, 5)).Reason(0x80000102);
//   Usn_Journal_Builder journal;
//   journal.Zeros(4096).Append(record).Append(record.Usn(4184));
//   journal.Write_File(path);
#pragma once

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/Byte_Writer.h"

namespace test_support {

// 2020-07-31 12:34:56.1234567 UTC: a time stamp whose top byte is 0x01.
inline constexpr std::uint64_t Usn_Test_Time = 0x01D66736FF1D1800ull + 1234567;

class Usn_Record_Builder {
public:
    Usn_Record_Builder() { Name(u"a.txt"); }

    Usn_Record_Builder& Usn(std::uint64_t v) { usn_ = v; return *this; }
    Usn_Record_Builder& File_Reference(std::uint64_t v) { file_reference_ = v; return *this; }
    Usn_Record_Builder& Parent(std::uint64_t v) { parent_ = v; return *this; }
    Usn_Record_Builder& Time_Stamp(std::uint64_t v) { time_stamp_ = v; return *this; }
    Usn_Record_Builder& Reason(std::uint32_t v) { reason_ = v; return *this; }
    Usn_Record_Builder& Source_Info(std::uint32_t v) { source_info_ = v; return *this; }
    Usn_Record_Builder& Attributes(std::uint32_t v) { attributes_ = v; return *this; }
    Usn_Record_Builder& Name(const std::u16string& name) {
        name_bytes_.clear();
        for (char16_t u : name) {
            name_bytes_.push_back(static_cast<std::uint8_t>(u & 0xFF));
            name_bytes_.push_back(static_cast<std::uint8_t>(u >> 8));
        }
        return *this;
    }
    // The name's bytes as they are (an odd count, say).
    Usn_Record_Builder& Name_Bytes(std::vector<std::uint8_t> bytes) { name_bytes_ = std::move(bytes); return *this; }

    // Damage: fields written as given instead of as the record needs them.
    Usn_Record_Builder& Record_Length(std::uint32_t v) { record_length_ = v; return *this; }
    Usn_Record_Builder& Version(std::uint16_t major, std::uint16_t minor) { major_ = major; minor_ = minor; return *this; }
    Usn_Record_Builder& Name_Length(std::uint16_t v) { name_length_ = v; return *this; }
    Usn_Record_Builder& Name_Offset(std::uint16_t v) { name_offset_ = v; return *this; }

    // The record's own bytes: 60 + the name, rounded up to 8 (the size a
    // journal gives it), whatever the RecordLength field says.
    std::vector<std::uint8_t> Build() const {
        const std::size_t natural = (60 + name_bytes_.size() + 7) & ~static_cast<std::size_t>(7);
        std::vector<std::uint8_t> r(natural, 0);
        Put_U32(r, 0, record_length_.value_or(static_cast<std::uint32_t>(natural)));  // RecordLength
        Put_U16(r, 4, major_);                                                         // MajorVersion
        Put_U16(r, 6, minor_);                                                         // MinorVersion
        Put_U64(r, 8, file_reference_);                                                // FileReferenceNumber
        Put_U64(r, 16, parent_);                                                       // ParentFileReferenceNumber
        Put_U64(r, 24, usn_);                                                          // Usn
        Put_U64(r, 32, time_stamp_);                                                   // TimeStamp
        Put_U32(r, 40, reason_);                                                       // Reason
        Put_U32(r, 44, source_info_);                                                  // SourceInfo
        Put_U32(r, 48, 0x105);                                                         // SecurityId
        Put_U32(r, 52, attributes_);                                                   // FileAttributes
        Put_U16(r, 56, name_length_.value_or(static_cast<std::uint16_t>(name_bytes_.size())));  // FileNameLength
        Put_U16(r, 58, name_offset_);                                                  // FileNameOffset
        for (std::size_t i = 0; i < name_bytes_.size(); ++i) r[60 + i] = name_bytes_[i];  // FileName
        return r;
    }

private:
    std::uint64_t usn_ = 0x1000;
    std::uint64_t file_reference_ = 0x0001000000000040ull;  // entry 64, sequence 1
    std::uint64_t parent_ = 0x0005000000000005ull;          // the root
    std::uint64_t time_stamp_ = Usn_Test_Time;
    std::uint32_t reason_ = 0x00000100;                     // USN_REASON_FILE_CREATE
    std::uint32_t source_info_ = 0;
    std::uint32_t attributes_ = 0x00000020;                 // FILE_ATTRIBUTE_ARCHIVE
    std::vector<std::uint8_t> name_bytes_;
    std::optional<std::uint32_t> record_length_;
    std::uint16_t major_ = 2;
    std::uint16_t minor_ = 0;
    std::optional<std::uint16_t> name_length_;
    std::uint16_t name_offset_ = 60;
};

// A journal file: records and gaps laid one after another.
class Usn_Journal_Builder {
public:
    Usn_Journal_Builder& Append(const Usn_Record_Builder& record) { return Append_Bytes(record.Build()); }
    Usn_Journal_Builder& Append_Bytes(const std::vector<std::uint8_t>& bytes) {
        bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
        return *this;
    }
    Usn_Journal_Builder& Zeros(std::size_t count) { bytes_.resize(bytes_.size() + count, 0); return *this; }
    // Zeros up to `size` bytes (as Windows pads the end of a 4096-byte page).
    Usn_Journal_Builder& Pad_To(std::size_t size) {
        if (bytes_.size() < size) bytes_.resize(size, 0);
        return *this;
    }
    // Bytes `record` over the journal at `offset`, growing it when needed.
    Usn_Journal_Builder& Put(std::size_t offset, const Usn_Record_Builder& record) {
        const auto r = record.Build();
        if (bytes_.size() < offset + r.size()) bytes_.resize(offset + r.size(), 0);
        for (std::size_t i = 0; i < r.size(); ++i) bytes_[offset + i] = r[i];
        return *this;
    }
    std::size_t Size() const { return bytes_.size(); }
    const std::vector<std::uint8_t>& Bytes() const { return bytes_; }

    void Write_File(const std::string& path) const {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes_.data()), static_cast<std::streamsize>(bytes_.size()));
        if (!out) throw std::runtime_error("cannot write " + path);
    }

private:
    std::vector<std::uint8_t> bytes_;
};

}  // namespace test_support
