#include "ntfs/usnjrnl/Parse_UsnJrnl.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "ntfs/mft/Parse_MFT.h"
#include "output/Time_Text.h"
#include "output/UsnJrnl_Row_Inserter.h"
#include "platform/console.h"
#include "platform/file.h"

namespace {

constexpr std::uint64_t Entry_Number_Mask = 0xFFFFFFFFFFFFull;
constexpr std::uint64_t Root_Entry_Number = 5;

constexpr char16_t Hex_Digits[] = u"0123456789ABCDEF";

// What the reader and the carver differ in.
struct Scan_Settings {
    std::size_t Step;
    std::u16string_view Carving_Flag;
};

void Run_Transaction_Statement(CppSQLite3DB& db, const char* statement, std::u16string_view error_box) {
    const int rc = db.Is_Open() ? sqlite3_exec(db.Connection(), statement, nullptr, nullptr, nullptr) : SQLITE_MISUSE;
    if (rc != SQLITE_OK) platform::Message_Box(error_box);
}

int Scan_UsnJrnl_File(Global_Parsing_Context& context, const std::string& path, CppSQLite3DB& db, int hour_offset,
                      const Scan_Settings& settings) {
    context.Hour_Offset = hour_offset;
    platform::Read_Only_File file;
    if (!file.Open(path)) return 0;
    const std::uint64_t length = file.Size();

    Run_Transaction_Statement(db, "BEGIN;", u"BEGIN Error");
    {
        UsnJrnl_Row_Inserter inserter(db);
        UsnJrnl_Row_Builder builder(context, settings.Carving_Flag);
        _USNJRNLINFO row;
        std::vector<std::uint8_t> chunk(Usn_Scan::Chunk_Size + Usn_Scan::Chunk_Overlap);
        // One chunk more than the whole ones: the last may deliver nothing.
        const std::uint64_t chunk_count = length / Usn_Scan::Chunk_Size + 1;
        for (std::uint64_t c = 0; c < chunk_count; ++c) {
            const std::uint64_t offset = c * Usn_Scan::Chunk_Size;
            const std::size_t wanted =
                offset >= length ? 0 : static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), length - offset));
            const std::size_t got = wanted == 0 ? 0 : file.Read_At(offset, chunk.data(), wanted);
            Scan_Usn_Chunk(Byte_View(chunk.data(), got), settings.Step, [&](std::size_t, const Usn_Record_V2& record) {
                builder.Fill(record, row);
                // A refused row (its USN already stored) is lost; the scan goes on.
                inserter.Insert(row);
            });
            // A read error ends the file here; the rows found so far stay.
            if (got < wanted) break;
        }
    }
    Run_Transaction_Statement(db, "COMMIT;", u"commit Error");
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
    const std::uint64_t second = record.Time_Stamp / Ticks_Per_Second;
    if (!has_last_second_ || second != last_second_) {
        last_time_text_ = Shift_Time_String(Format_FileTime_Text(record.Time_Stamp), context_.Hour_Offset);
        last_second_ = second;
        has_last_second_ = true;
    }
    // Assignments, not fresh texts: the row is reused for every record.
    row.TimeStamp = last_time_text_;
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
    if ((parent_reference & Entry_Number_Mask) == Root_Entry_Number) {
        path.append(u"\\").append(file_name);
        return;
    }
    if (context_.Mft.Empty()) return;

    // Of several path nodes under the parent's whole reference the first
    // inserted counts; a re-used entry (another sequence number) has none.
    const _ENTRYINFO_2* parent = context_.Mft.Find_Path_Node(parent_reference);
    if (parent == nullptr) return;
    Build_Full_Path(context_, parent_reference, parent->Name);
    if (context_.Full_Path.empty()) return;
    path.append(context_.Full_Path).append(u"\\").append(file_name);
}

int Parse_UsnJrnl(Global_Parsing_Context& context, const std::string& path, CppSQLite3DB& db, int hour_offset) {
    return Scan_UsnJrnl_File(context, path, db, hour_offset, Scan_Settings{Usn_Scan::Journal_Step, u""});
}

int Carve_UsnJrnl_Records(Global_Parsing_Context& context, const std::string& path, CppSQLite3DB& db,
                          int hour_offset, int alignment) {
    // The command line admits 1 to 8; a step below 1 would never move on.
    const std::size_t step = static_cast<std::size_t>(std::max(alignment, 1));
    return Scan_UsnJrnl_File(context, path, db, hour_offset, Scan_Settings{step, u"Y"});
}
