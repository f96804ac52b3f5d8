// Test-only builders of $MFT FILE records and whole $MFT images.
//
// Every field is written at a literal offset with a comment naming it, on
// purpose independent of the parser's own layout constants, so a wrong
// constant in the parser is caught instead of mirrored.
//
//   Mft_Record_Builder root;
//   root.Flags(3).Sequence(5)
//       .Standard_Information(0x01D0000000000000)
//       .File_Name(Mft_Reference(5, 5), u".", File_Name_Space::Win32_And_Dos);
//   Mft_Image_Builder image;
//   image.Put(5, root);
//   image.Write_File(path);   // or image.Build()
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "support/Byte_Writer.h"

namespace test_support {

// A full file reference: entry number in the low 48 bits, sequence above.
inline std::uint64_t Mft_Reference(std::uint64_t entry_number, std::uint16_t sequence) {
    return (entry_number & 0xFFFFFFFFFFFFull) | (static_cast<std::uint64_t>(sequence) << 48);
}

// The $FILE_NAME namespaces.
namespace File_Name_Space {
inline constexpr std::uint8_t Posix = 0;
inline constexpr std::uint8_t Win32 = 1;
inline constexpr std::uint8_t Dos = 2;
inline constexpr std::uint8_t Win32_And_Dos = 3;
}  // namespace File_Name_Space

// FILE record header flags.
namespace Record_Flags {
inline constexpr std::uint16_t Deleted_File = 0;
inline constexpr std::uint16_t File = 1;
inline constexpr std::uint16_t Deleted_Directory = 2;
inline constexpr std::uint16_t Directory = 3;
}  // namespace Record_Flags


// One FILE record. Attributes are laid out in the order they are added.
class Mft_Record_Builder {
public:
    // 1024 or 4096; other sizes are accepted but unusual.
    explicit Mft_Record_Builder(std::size_t record_size = 1024) : record_size_(record_size) {}

    Mft_Record_Builder& Flags(std::uint16_t flags) { flags_ = flags; return *this; }
    Mft_Record_Builder& Sequence(std::uint16_t sequence) { sequence_ = sequence; return *this; }
    Mft_Record_Builder& Lsn(std::uint64_t lsn) { lsn_ = lsn; return *this; }
    // The value the update sequence puts at the end of every sector.
    Mft_Record_Builder& Update_Sequence_Number(std::uint16_t usn) { usn_ = usn; return *this; }
    // Leaves the sector ends as the content put them (update-sequence count 0).
    Mft_Record_Builder& Without_Fixup() { fixup_ = false; return *this; }

    // $STANDARD_INFORMATION (0x10): creation, modification, MFT change, access.
    Mft_Record_Builder& Standard_Information(std::uint64_t create, std::uint64_t modify = 0,
                                             std::uint64_t mft_modify = 0, std::uint64_t access = 0) {
        std::vector<std::uint8_t> v(72, 0);
        Put_U64(v, 0x00, create);      // creation time
        Put_U64(v, 0x08, modify);      // modification time
        Put_U64(v, 0x10, mft_modify);  // MFT record change time
        Put_U64(v, 0x18, access);      // access time
        Put_U32(v, 0x20, 0x20);        // file attributes: ARCHIVE
        return Resident(0x10, {}, std::move(v));
    }

    // $FILE_NAME (0x30) with the parent's full reference.
    Mft_Record_Builder& File_Name(std::uint64_t parent, const std::u16string& name,
                                  std::uint8_t name_space = File_Name_Space::Win32) {
        std::vector<std::uint8_t> v(0x42 + 2 * name.size(), 0);
        Put_U64(v, 0x00, parent);                                  // parent directory reference
        Put_U64(v, 0x30, 0);                                       // real size
        Put_U32(v, 0x38, 0x20);                                    // file attributes
        Put_U8(v, 0x40, static_cast<std::uint8_t>(name.size()));   // name length, UTF-16 units
        Put_U8(v, 0x41, name_space);                               // namespace
        Put_Utf16(v, 0x42, name);                                  // name
        return Resident(0x30, {}, std::move(v));
    }

    // Unnamed $DATA (0x80): resident holds `size` zero bytes; non-resident
    // carries `size` as its data size and a one-run mapping.
    Mft_Record_Builder& Data(std::uint64_t size, bool resident = true) {
        if (resident) return Resident(0x80, {}, std::vector<std::uint8_t>(static_cast<std::size_t>(size), 0));
        return Non_Resident(0x80, {}, size);
    }
    // Named $DATA stream (an alternate data stream such as "Zone.Identifier").
    Mft_Record_Builder& Named_Data(const std::u16string& name, std::uint64_t size = 26, bool resident = true) {
        if (resident) return Resident(0x80, name, std::vector<std::uint8_t>(static_cast<std::size_t>(size), 0));
        return Non_Resident(0x80, name, size);
    }

    // Any resident attribute with a value of your choosing.
    Mft_Record_Builder& Resident(std::uint32_t type, const std::u16string& name, std::vector<std::uint8_t> value) {
        const std::size_t name_offset = 0x18;
        const std::size_t value_offset = Align8(name_offset + 2 * name.size());
        const std::size_t length = Align8(value_offset + value.size());
        std::vector<std::uint8_t> a(length, 0);
        Put_U32(a, 0x00, type);                                      // attribute type
        Put_U32(a, 0x04, static_cast<std::uint32_t>(length));        // attribute length
        Put_U8(a, 0x08, 0);                                          // non-resident flag: resident
        Put_U8(a, 0x09, static_cast<std::uint8_t>(name.size()));     // name length, UTF-16 units
        Put_U16(a, 0x0A, static_cast<std::uint16_t>(name_offset));   // name offset
        Put_U16(a, 0x0E, next_id_++);                                // attribute id
        Put_U32(a, 0x10, static_cast<std::uint32_t>(value.size()));  // value length
        Put_U16(a, 0x14, static_cast<std::uint16_t>(value_offset));  // value offset
        Put_Utf16(a, name_offset, name);
        for (std::size_t i = 0; i < value.size(); ++i) a[value_offset + i] = value[i];
        attributes_.push_back(std::move(a));
        return *this;
    }

    // A non-resident attribute with the given data size, allocated in whole
    // clusters of the given size.
    Mft_Record_Builder& Non_Resident(std::uint32_t type, const std::u16string& name, std::uint64_t data_size,
                                     std::uint64_t cluster_size = 4096) {
        const std::size_t name_offset = 0x40;
        const std::size_t runs_offset = Align8(name_offset + 2 * name.size());
        const std::size_t length = runs_offset + 8;
        const std::uint64_t clusters = (data_size + cluster_size - 1) / cluster_size;
        std::vector<std::uint8_t> a(length, 0);
        Put_U32(a, 0x00, type);                                     // attribute type
        Put_U32(a, 0x04, static_cast<std::uint32_t>(length));       // attribute length
        Put_U8(a, 0x08, 1);                                         // non-resident flag
        Put_U8(a, 0x09, static_cast<std::uint8_t>(name.size()));    // name length, UTF-16 units
        Put_U16(a, 0x0A, static_cast<std::uint16_t>(name_offset));  // name offset
        Put_U16(a, 0x0E, next_id_++);                               // attribute id
        Put_U64(a, 0x10, 0);                                        // first VCN
        Put_U64(a, 0x18, clusters ? clusters - 1 : 0);              // last VCN
        Put_U16(a, 0x20, static_cast<std::uint16_t>(runs_offset));  // mapping pairs offset
        Put_U64(a, 0x28, clusters * cluster_size);                  // allocated size
        Put_U64(a, 0x30, data_size);                                // data size
        Put_U64(a, 0x38, data_size);                                // initialised size
        Put_Utf16(a, name_offset, name);
        Put_U8(a, runs_offset + 0, 0x11);                           // run header: 1-byte length, 1-byte offset
        Put_U8(a, runs_offset + 1, static_cast<std::uint8_t>(clusters & 0xFF));  // run length
        Put_U8(a, runs_offset + 2, 0x10);                           // run offset (cluster 16)
        attributes_.push_back(std::move(a));
        return *this;
    }

    // Offset of the k-th attribute added (0-based), for tests that damage one.
    std::size_t Attribute_Offset(std::size_t k) const {
        std::size_t at = First_Attribute_Offset();
        for (std::size_t i = 0; i < k && i < attributes_.size(); ++i) at += attributes_[i].size();
        return at;
    }

    // Offset of the first attribute: right after the update-sequence array,
    // rounded up to 8 (0x38 for 1024-byte records, 0x48 for 4096).
    std::size_t First_Attribute_Offset() const { return Align8(0x30 + 2 * (1 + Sectors())); }

    std::vector<std::uint8_t> Build() const {
        std::vector<std::uint8_t> r(record_size_, 0);
        const std::size_t first = First_Attribute_Offset();
        r.at(0) = 'F'; r.at(1) = 'I'; r.at(2) = 'L'; r.at(3) = 'E';          // signature
        Put_U16(r, 0x04, 0x30);                                            // update-sequence offset
        Put_U16(r, 0x06, static_cast<std::uint16_t>(fixup_ ? 1 + Sectors() : 0));  // update-sequence count
        Put_U64(r, 0x08, lsn_);                                            // $LogFile sequence number
        Put_U16(r, 0x10, sequence_);                                       // sequence number
        Put_U16(r, 0x12, 1);                                               // hard-link count
        Put_U16(r, 0x14, static_cast<std::uint16_t>(first));               // first attribute offset
        Put_U16(r, 0x16, flags_);                                          // flags
        Put_U32(r, 0x1C, static_cast<std::uint32_t>(record_size_));        // allocated size of the record
        Put_U16(r, 0x28, next_id_);                                        // next attribute id
        std::size_t at = first;
        for (const auto& a : attributes_) {
            if (at + a.size() + 8 > record_size_) throw std::length_error("attributes do not fit the FILE record");
            for (std::size_t i = 0; i < a.size(); ++i) r[at + i] = a[i];
            at += a.size();
        }
        Put_U32(r, at, 0xFFFFFFFF);                                        // end marker
        Put_U32(r, 0x18, static_cast<std::uint32_t>(at + 8));              // used size of the record
        if (fixup_) {
            Put_U16(r, 0x30, usn_);  // update sequence number
            for (std::size_t k = 1; k <= Sectors(); ++k) {
                const std::size_t end = 512 * k - 2;
                r.at(0x30 + 2 * k) = r.at(end);          // the sector's real last two bytes ...
                r.at(0x30 + 2 * k + 1) = r.at(end + 1);  // ... kept in the array
                Put_U16(r, end, usn_);                   // and the number in their place
            }
        }
        return r;
    }

private:
    std::size_t Sectors() const { return record_size_ / 512; }

    std::size_t record_size_;
    std::uint16_t flags_ = Record_Flags::File;
    std::uint16_t sequence_ = 1;
    std::uint64_t lsn_ = 0;
    std::uint16_t usn_ = 0x0001;
    bool fixup_ = true;
    std::uint16_t next_id_ = 0;
    std::vector<std::vector<std::uint8_t>> attributes_;
};

// A whole $MFT: records at entry numbers; entries not put are all zero bytes
// (not a FILE record), as unused space in a real $MFT often is.
class Mft_Image_Builder {
public:
    explicit Mft_Image_Builder(std::size_t record_size = 1024) : record_size_(record_size) {}

    Mft_Image_Builder& Put(std::uint64_t entry_number, const Mft_Record_Builder& record) {
        return Put(entry_number, record.Build());
    }
    Mft_Image_Builder& Put(std::uint64_t entry_number, std::vector<std::uint8_t> record_bytes) {
        record_bytes.resize(record_size_, 0);
        records_.emplace_back(entry_number, std::move(record_bytes));
        return *this;
    }

    // The image, at least `minimum_records` records long.
    std::vector<std::uint8_t> Build(std::size_t minimum_records = 0) const {
        std::size_t count = minimum_records;
        for (const auto& [entry, bytes] : records_) count = std::max<std::size_t>(count, entry + 1);
        std::vector<std::uint8_t> image(count * record_size_, 0);
        for (const auto& [entry, bytes] : records_)
            for (std::size_t i = 0; i < record_size_; ++i) image[entry * record_size_ + i] = bytes[i];
        return image;
    }

    void Write_File(const std::string& path, std::size_t minimum_records = 0) const {
        const auto image = Build(minimum_records);
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
        if (!out) throw std::runtime_error("cannot write " + path);
    }

private:
    std::size_t record_size_;
    std::vector<std::pair<std::uint64_t, std::vector<std::uint8_t>>> records_;
};

// The usual skeleton of a volume for path tests: record 0 "$MFT" (a file
// under the root) and the root directory at entry 5 (name ".", its own
// parent). Both with sequence numbers as Windows gives them (1 and 5).
inline Mft_Image_Builder& Put_Volume_Skeleton(Mft_Image_Builder& image, std::size_t record_size = 1024,
                                              std::uint64_t mft_creation_time = 0x01D0000000000000ull) {
    image.Put(0, Mft_Record_Builder(record_size)
                     .Flags(Record_Flags::File)
                     .Sequence(1)
                     .Standard_Information(mft_creation_time, mft_creation_time, mft_creation_time, mft_creation_time)
                     .File_Name(Mft_Reference(5, 5), u"$MFT", File_Name_Space::Win32_And_Dos)
                     .Data(0x40000, false));
    image.Put(5, Mft_Record_Builder(record_size)
                     .Flags(Record_Flags::Directory)
                     .Sequence(5)
                     .Standard_Information(mft_creation_time)
                     .File_Name(Mft_Reference(5, 5), u".", File_Name_Space::Win32_And_Dos));
    return image;
}

}  // namespace test_support
