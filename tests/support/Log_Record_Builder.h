// Builds single $LogFile log records for tests of the analysis: the 0x58-byte
// header, the client data (redo and undo data laid out as Windows lays them),
// and the contents the analysis decodes: FILE record images with their
// attributes, resident $FILE_NAME attributes and directory index entries.
//
// Offsets are written out here on purpose, apart from the parser's own
// constants, so that a wrong constant in the parser shows up as a failure.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "support/Byte_Writer.h"

namespace log_record_test {

using test_support::Align8;
using test_support::Bytes;
using test_support::Put_U16;
using test_support::Put_U32;
using test_support::Put_U64;
using test_support::Put_U8;
using test_support::Put_Utf16;

// A file reference: entry number in the low 48 bits, sequence number above.
constexpr std::uint64_t Reference(std::uint64_t entry, std::uint16_t sequence) {
    return entry | (std::uint64_t{sequence} << 48);
}
constexpr std::uint64_t Root_Reference = Reference(5, 5);

// The FILETIME of a UTC calendar time (proleptic Gregorian), computed here
// independently of the program's time texts.
constexpr std::uint64_t Filetime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
                                 std::uint64_t ticks = 0) {
    const int y = year - (month <= 2 ? 1 : 0);
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = y - era * 400;
    const int mp = (month + 9) % 12;
    const int doy = (153 * mp + 2) / 5 + day - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const long long days_since_1970 = static_cast<long long>(era) * 146097 + doe - 719468;
    const long long days_since_1601 = days_since_1970 + 134774;
    const long long seconds = days_since_1601 * 86400 + hour * 3600 + minute * 60 + second;
    return static_cast<std::uint64_t>(seconds) * 10'000'000ull + ticks;
}

// The four $STANDARD_INFORMATION / $FILE_NAME times.
struct Times {
    std::uint64_t create = Filetime(2020, 7, 25, 12, 33, 11, 8654720);
    std::uint64_t modified = Filetime(2020, 7, 25, 12, 33, 24);
    std::uint64_t mft_modified = Filetime(2020, 7, 25, 12, 33, 25);
    std::uint64_t access = Filetime(2020, 7, 25, 12, 35, 24);
};

// ---- Contents ----

// Resident $STANDARD_INFORMATION: 0x18-byte attribute header, then contents.
inline Bytes Standard_Information(const Times& t, std::uint32_t file_attributes) {
    Bytes a(0x60, 0);
    Put_U32(a, 0x00, 0x10);            // type: $STANDARD_INFORMATION
    Put_U32(a, 0x04, 0x60);            // attribute length
    Put_U8(a, 0x08, 0);                // resident
    Put_U32(a, 0x10, 0x48);            // content length
    Put_U16(a, 0x14, 0x18);            // content offset
    Put_U64(a, 0x18, t.create);        // creation time
    Put_U64(a, 0x20, t.modified);      // modified time
    Put_U64(a, 0x28, t.mft_modified);  // MFT-modified time
    Put_U64(a, 0x30, t.access);        // access time
    Put_U32(a, 0x38, file_attributes); // file attributes
    return a;
}

// Resident $FILE_NAME with its attribute header, as a FILE record holds it
// and as "Create Attribute" / "Delete Attribute" carry it.
inline Bytes File_Name_Attribute(std::uint64_t parent, const std::u16string& name, std::uint32_t flags = 0x20,
                                 std::uint8_t name_space = 1, const Times& t = {}) {
    const std::size_t length = Align8(0x5A + 2 * name.size());
    Bytes a(length, 0);
    Put_U32(a, 0x00, 0x30);                                  // type: $FILE_NAME
    Put_U32(a, 0x04, static_cast<std::uint32_t>(length));    // attribute length
    Put_U8(a, 0x08, 0);                                      // resident
    Put_U32(a, 0x10, static_cast<std::uint32_t>(0x42 + 2 * name.size()));  // content length
    Put_U16(a, 0x14, 0x18);                                  // content offset
    Put_U64(a, 0x18, parent);                                // parent directory reference
    Put_U64(a, 0x20, t.create);                              // creation time
    Put_U64(a, 0x28, t.modified);                            // modified time
    Put_U64(a, 0x30, t.mft_modified);                        // MFT-modified time
    Put_U64(a, 0x38, t.access);                              // access time
    Put_U32(a, 0x50, flags);                                 // file attributes
    Put_U8(a, 0x58, static_cast<std::uint8_t>(name.size())); // name length (characters)
    Put_U8(a, 0x59, name_space);                             // namespace (1 Win32, 2 DOS)
    Put_Utf16(a, 0x5A, name);                                // name
    return a;
}

// Non-resident $DATA whose mapping pairs are `runs`.
inline Bytes Non_Resident_Data(const Bytes& runs) {
    const std::size_t length = std::max<std::size_t>(0x48, Align8(0x40 + runs.size()));
    Bytes a(length, 0);
    Put_U32(a, 0x00, 0x80);                                // type: $DATA
    Put_U32(a, 0x04, static_cast<std::uint32_t>(length));  // attribute length
    Put_U8(a, 0x08, 1);                                    // non-resident
    Put_U16(a, 0x20, 0x40);                                // mapping-pairs offset
    std::copy(runs.begin(), runs.end(), a.begin() + 0x40); // mapping pairs
    return a;
}

// Resident $DATA with a few bytes of content.
inline Bytes Resident_Data() {
    Bytes a(0x20, 0);
    Put_U32(a, 0x00, 0x80);  // type: $DATA
    Put_U32(a, 0x04, 0x20);  // attribute length
    Put_U8(a, 0x08, 0);      // resident
    Put_U32(a, 0x10, 5);     // content length
    Put_U16(a, 0x14, 0x18);  // content offset
    return a;
}

// An $INDEX_ROOT of an empty directory index ($I30).
inline Bytes Index_Root() {
    Bytes a(0x58, 0);
    Put_U32(a, 0x00, 0x90);  // type: $INDEX_ROOT
    Put_U32(a, 0x04, 0x58);  // attribute length
    Put_U8(a, 0x08, 0);      // resident
    Put_U8(a, 0x09, 4);      // name length ("$I30")
    Put_U16(a, 0x0A, 0x18);  // name offset
    Put_Utf16(a, 0x18, u"$I30");
    return a;
}

// Any attribute of `type` and `length` (an $OBJECT_ID, a zero-length one...).
inline Bytes Plain_Attribute(std::uint32_t type, std::uint32_t length, std::size_t size) {
    Bytes a(size, 0);
    Put_U32(a, 0x00, type);    // type
    Put_U32(a, 0x04, length);  // attribute length
    return a;
}

// A FILE record image as "Initialize File Record Segment" carries it:
// attributes from 0x38, then the end marker.
inline Bytes File_Record_Image(std::initializer_list<Bytes> attributes, bool end_marker = true,
                               std::uint16_t flags = 1) {
    Bytes r(0x38, 0);
    std::memcpy(r.data(), "FILE", 4);  // 0x00 magic
    Put_U16(r, 0x04, 0x30);            // 0x04 update-sequence offset
    Put_U16(r, 0x06, 3);               // 0x06 update-sequence count
    Put_U16(r, 0x10, 1);               // 0x10 sequence number
    Put_U16(r, 0x12, 1);               // 0x12 hard-link count
    Put_U16(r, 0x14, 0x38);            // 0x14 first attribute offset
    Put_U16(r, 0x16, flags);           // 0x16 flags (1 in use, 2 directory)
    Put_U32(r, 0x1C, 1024);            // 0x1C allocated size
    for (const Bytes& a : attributes) r.insert(r.end(), a.begin(), a.end());
    if (end_marker) r.insert(r.end(), {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0});
    Put_U32(r, 0x18, static_cast<std::uint32_t>(r.size()));  // 0x18 used size
    return r;
}

// A directory index entry whose key is a $FILE_NAME (no attribute header).
inline Bytes Index_Entry(std::uint64_t file_reference, std::uint64_t parent, const std::u16string& name,
                         const Times& t = {}, std::uint32_t flags = 0x20, std::uint8_t name_space = 1) {
    const std::size_t key_length = 0x42 + 2 * name.size();
    const std::size_t length = Align8(0x10 + key_length);
    Bytes e(length, 0);
    Put_U64(e, 0x00, file_reference);                          // file reference of the entry
    Put_U16(e, 0x08, static_cast<std::uint16_t>(length));      // entry length
    Put_U16(e, 0x0A, static_cast<std::uint16_t>(key_length));  // key length
    Put_U64(e, 0x10, parent);                                  // key: parent reference
    Put_U64(e, 0x18, t.create);                                // key: creation time
    Put_U64(e, 0x20, t.modified);                              // key: modified time
    Put_U64(e, 0x28, t.mft_modified);                          // key: MFT-modified time
    Put_U64(e, 0x30, t.access);                                // key: access time
    Put_U32(e, 0x48, flags);                                   // key: file attributes
    Put_U8(e, 0x50, static_cast<std::uint8_t>(name.size()));   // key: name length
    Put_U8(e, 0x51, name_space);                               // key: namespace
    Put_Utf16(e, 0x52, name);                                  // key: name
    return e;
}

// ---- Log records ----

// One log record. The client data begins with the 0x28 bytes of the
// redo/undo description (header bytes 0x30..0x57); the redo data follows at
// 0x28 and the undo data after it, 8-byte aligned. A record without redo data
// points both offsets at the undo data, as Windows writes it.
struct Log_Record {
    std::uint64_t lsn = 0;
    std::uint32_t record_type = 1;  // 1 client record, 2 check point
    std::uint32_t transaction_id = 0x18;
    std::uint16_t redo_operation = 0;
    std::uint16_t undo_operation = 0;
    std::uint16_t record_offset = 0;
    std::uint16_t attribute_offset = 0;
    std::uint16_t cluster_index = 0;
    std::uint64_t target_vcn = 0;
    Bytes redo;
    Bytes undo;

    std::uint16_t Redo_Offset() const { return 0x28; }
    std::uint16_t Undo_Offset() const {
        return static_cast<std::uint16_t>(redo.empty() ? 0x28 : 0x28 + Align8(redo.size()));
    }
    std::uint32_t Client_Length() const {
        return static_cast<std::uint32_t>(Align8(Undo_Offset() + undo.size()));
    }

    Bytes Header() const {
        Bytes h(0x58, 0);
        Put_U64(h, 0x00, lsn);                    // this LSN
        Put_U32(h, 0x18, Client_Length());        // client data length
        Put_U32(h, 0x20, record_type);            // record type
        Put_U32(h, 0x24, transaction_id);         // transaction id
        Put_U16(h, 0x30, redo_operation);         // redo operation
        Put_U16(h, 0x32, undo_operation);         // undo operation
        Put_U16(h, 0x34, Redo_Offset());          // redo offset
        Put_U16(h, 0x36, static_cast<std::uint16_t>(redo.size()));  // redo length
        Put_U16(h, 0x38, Undo_Offset());          // undo offset
        Put_U16(h, 0x3A, static_cast<std::uint16_t>(undo.size()));  // undo length
        Put_U16(h, 0x3C, 0x18);                   // target attribute
        Put_U16(h, 0x3E, 1);                      // LCNs to follow
        Put_U16(h, 0x40, record_offset);          // record offset
        Put_U16(h, 0x42, attribute_offset);       // attribute offset
        Put_U16(h, 0x44, cluster_index);          // cluster index
        Put_U64(h, 0x48, target_vcn);             // target VCN
        return h;
    }

    // The client data from the redo operation field on.
    Bytes Client() const {
        const Bytes h = Header();
        Bytes c(h.begin() + 0x30, h.end());
        c.resize(Client_Length(), 0);
        std::copy(redo.begin(), redo.end(), c.begin() + Redo_Offset());
        std::copy(undo.begin(), undo.end(), c.begin() + Undo_Offset());
        return c;
    }
};

// Where a FILE record lies in the log's units: 4 records of 1024 bytes per
// 4096-byte cluster, the cluster index counting 512-byte blocks.
struct Record_Place {
    std::uint64_t vcn = 0;
    std::uint16_t cluster_index = 0;
};
constexpr Record_Place Place_Of(std::uint64_t entry) {
    return Record_Place{entry >> 2, static_cast<std::uint16_t>((entry & 3) * 2)};
}

inline Log_Record On(Log_Record r, Record_Place place) {
    r.target_vcn = place.vcn;
    r.cluster_index = place.cluster_index;
    return r;
}

// 0x02 / 0x00: Initialize File Record Segment / Noop.
inline Log_Record Initialize_File_Record(Record_Place place, Bytes image) {
    Log_Record r;
    r.redo_operation = 0x02;
    r.undo_operation = 0x00;
    r.redo = std::move(image);
    return On(r, place);
}

// 0x03 / 0x02: Deallocate File Record Segment / Initialize File Record Segment.
inline Log_Record Deallocate_File_Record(Record_Place place) {
    Log_Record r;
    r.redo_operation = 0x03;
    r.undo_operation = 0x02;
    r.undo = Bytes(0x18, 0);
    return On(r, place);
}

// Directory index entries: in the index root (0x0C add / 0x0D delete, in the
// directory's FILE record) or in an index allocation buffer (0x0E / 0x0F).
enum class Index_Place { Root, Allocation };

inline Log_Record Add_Index_Entry(Index_Place where, Record_Place place, Bytes entry) {
    Log_Record r;
    r.redo_operation = where == Index_Place::Root ? 0x0C : 0x0E;
    r.undo_operation = where == Index_Place::Root ? 0x0D : 0x0F;
    r.record_offset = where == Index_Place::Root ? 0x130 : 0;
    r.attribute_offset = where == Index_Place::Root ? 0x40 : 0x560;
    r.redo = std::move(entry);
    return On(r, place);
}

inline Log_Record Delete_Index_Entry(Index_Place where, Record_Place place, Bytes entry) {
    Log_Record r;
    r.redo_operation = where == Index_Place::Root ? 0x0D : 0x0F;
    r.undo_operation = where == Index_Place::Root ? 0x0C : 0x0E;
    r.record_offset = where == Index_Place::Root ? 0x130 : 0;
    r.attribute_offset = where == Index_Place::Root ? 0x40 : 0x560;
    r.undo = std::move(entry);
    return On(r, place);
}

// 0x05 / 0x06: Create Attribute / Delete Attribute, a whole $FILE_NAME at
// record offset 0x98 of the file's FILE record.
inline Log_Record Create_File_Name(Record_Place place, Bytes attribute) {
    Log_Record r;
    r.redo_operation = 0x05;
    r.undo_operation = 0x06;
    r.record_offset = 0x98;
    r.attribute_offset = 0;
    r.redo = std::move(attribute);
    return On(r, place);
}

// 0x06 / 0x05: Delete Attribute / Create Attribute.
inline Log_Record Delete_File_Name(Record_Place place, Bytes attribute) {
    Log_Record r;
    r.redo_operation = 0x06;
    r.undo_operation = 0x05;
    r.record_offset = 0x98;
    r.attribute_offset = 0;
    r.undo = std::move(attribute);
    return On(r, place);
}

// 0x07 / 0x07: Update Resident Value on $STANDARD_INFORMATION, which lies
// at record offset 0x38 of the FILE record. The update covers the attribute
// bytes [from, to): 0x18 creation, 0x20 modified, 0x28 MFT-modified and 0x30
// access time, 0x38 the attribute word, up to 0x48 the end of the part
// Windows rewrites. `from` may lie 1 or 2 bytes into the first time that
// changes, as Windows leaves out leading bytes that stay the same.
inline Log_Record Update_Standard_Information(Record_Place place, std::uint16_t from, const Times& old_times,
                                              std::uint32_t old_attributes, const Times& new_times,
                                              std::uint32_t new_attributes, std::uint16_t to = 0x48) {
    const Bytes old_attribute = Standard_Information(old_times, old_attributes);
    const Bytes new_attribute = Standard_Information(new_times, new_attributes);
    Log_Record r;
    r.redo_operation = 0x07;
    r.undo_operation = 0x07;
    r.record_offset = 0x38;
    r.attribute_offset = from;
    r.redo.assign(new_attribute.begin() + from, new_attribute.begin() + to);
    r.undo.assign(old_attribute.begin() + from, old_attribute.begin() + to);
    return On(r, place);
}

// 0x07 / 0x07: the content of a resident $DATA written (attribute offset
// 0x18, the content's start; record offset past the other attributes).
inline Log_Record Write_Resident_Data(Record_Place place, Bytes new_content, Bytes old_content,
                                      std::uint16_t record_offset = 0x150) {
    Log_Record r;
    r.redo_operation = 0x07;
    r.undo_operation = 0x07;
    r.record_offset = record_offset;
    r.attribute_offset = 0x18;
    r.redo = std::move(new_content);
    r.undo = std::move(old_content);
    return On(r, place);
}

// 0x09 / 0x09: Update Mapping Pairs of a non-resident $DATA, from the
// mapping pairs' start (attribute offset 0x40).
inline Log_Record Update_Mapping_Pairs(Record_Place place, Bytes new_pairs, Bytes old_pairs,
                                       std::uint16_t record_offset = 0x190) {
    Log_Record r;
    r.redo_operation = 0x09;
    r.undo_operation = 0x09;
    r.record_offset = record_offset;
    r.attribute_offset = 0x40;
    r.redo = std::move(new_pairs);
    r.undo = std::move(old_pairs);
    return On(r, place);
}

// 0x1B / 0x01: Forget Transaction / Compensation Log Record, the commit.
inline Log_Record Forget_Transaction() {
    Log_Record r;
    r.redo_operation = 0x1B;
    r.undo_operation = 0x01;
    return r;
}

// A check-point record (record type 2) whose client data is a restart area.
inline Log_Record Check_Point() {
    Log_Record r;
    r.record_type = 2;
    r.redo_operation = 0x01;  // the first bytes of a restart area
    r.undo_operation = 0x00;
    r.redo = Bytes(0x30, 0);
    return r;
}

// A record of any other operations (an update of a bitmap, say).
inline Log_Record Other_Record(std::uint16_t redo_operation, std::uint16_t undo_operation) {
    Log_Record r;
    r.redo_operation = redo_operation;
    r.undo_operation = undo_operation;
    r.redo = Bytes(8, 0);
    r.undo = Bytes(8, 0);
    return r;
}

inline Log_Record In_Transaction(Log_Record r, std::uint32_t transaction_id) {
    r.transaction_id = transaction_id;
    return r;
}

}  // namespace log_record_test
