#include "ntfs/mft/Parse_MFT.h"

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

#include "ntfs/mft/File_Record.h"
#include "output/Time_Text.h"
#include "platform/file.h"

namespace {

// Turns FILE records, one at a time and in $MFT order, into index entries.
class Mft_Index_Builder {
public:
    explicit Mft_Index_Builder(std::size_t record_size) { geometry_.File_Record_Size = record_size; }

    // `record` is fixed up in place. The record at index i is entry i,
    // whatever its content.
    void Add_Record(std::span<std::uint8_t> record, std::uint64_t record_index) {
        if (!Decode_File_Record(record, decoded_)) return;
        // $MFTMirr is never fragmented, so its one $DATA tells the cluster
        // size; $MFT's own may be split over several records.
        if (record_index == Mft_Mirror_Entry_Number && decoded_.Data_Non_Resident) {
            if (const auto size = Bytes_Per_Cluster_From_Mirror(decoded_.Data_Allocated_Size, decoded_.Data_Last_Vcn))
                geometry_.Bytes_Per_Cluster = *size;
        }
        if (!decoded_.Has_Standard_Information) return;
        const bool has_name = std::any_of(decoded_.Names.begin(), decoded_.Names.end(),
                                          [](const _FILENAME_DATA& n) { return !n.Name.empty(); });
        if (!has_name) return;

        if (record_index == 0) {
            for (const _FILENAME_DATA& name : decoded_.Names)
                if (name.Name == u"$MFT") mft_creation_time_ = decoded_.Create_Time;
        }

        const std::uint64_t own = File_Reference_Of(record_index, decoded_.Sequence_Number);
        const std::uint16_t flags = decoded_.Flags;
        for (_FILENAME_DATA& name : decoded_.Names) {
            _ENTRYINFO_2 entry;
            entry.ParentReference = name.ParentReference;
            entry.FileReference = own;
            entry.MFT_LSN = decoded_.Lsn;
            entry.DataSize = decoded_.Data_Size;
            entry.CreateTime = decoded_.Create_Time;
            entry.ModifiedTime = decoded_.Modified_Time;
            entry.MFT_ModifiedTime = decoded_.Mft_Modified_Time;
            entry.AccessTime = decoded_.Access_Time;
            entry.HasZoneIdentifier = decoded_.Has_Zone_Identifier ? 1 : 0;
            // Flag values other than 0-3 (view indexes, $Extend files) and
            // the root's "." take their flags from the two low bits.
            entry.IsDirectory = (flags & File_Record_Layout::Flag_Directory) ? 1 : 0;
            entry.IsDeleted = (flags & File_Record_Layout::Flag_In_Use) ? 0 : 1;
            const bool is_dot = name.Name == u".";
            const bool elsewhere = name.ParentReference != own && !is_dot;
            bool path_node = false;
            if (elsewhere && (flags == 2 || flags == 3)) {
                path_node = true;
            } else if (elsewhere && (flags == 0 || flags == 1)) {
                path_node = true;
            } else if (is_dot) {
                entry.IsDirectory = 1;
                path_node = true;
            }
            entry.Name = std::move(name.Name);
            index_.Add_Entry(std::move(entry), path_node);
        }
    }

    void Reserve(std::size_t entries) { index_.Reserve(entries); }

    // Hands the finished index and the $MFT creation time to the state.
    void Finish(Global_Parsing_Context& context) {
        index_.Finish();
        index_.Set_Geometry(geometry_);
        context.Mft = std::move(index_);
        if (mft_creation_time_) context.MFT_Creation_Time = Format_FileTime_Text(*mft_creation_time_);
    }

private:
    Mft_Index index_;
    Volume_Geometry geometry_;
    Decoded_File_Record decoded_;
    std::optional<std::uint64_t> mft_creation_time_;
};

// About 4 MiB of records per read.
constexpr std::size_t Records_Per_Read_Bytes = 4u << 20;

}  // namespace

int Parse_MFT(Global_Parsing_Context& context, const std::string& path) {
    platform::Read_Only_File file;
    if (!file.Open(path)) {
        context.MFT_Unavailable = 1;
        return 1;
    }
    context.MFT_Unavailable = 0;

    std::uint8_t header[0x20] = {};
    const std::size_t header_length = file.Read_At(0, header, sizeof header);
    const std::size_t record_size = File_Record_Size_From_Record_0(Byte_View(header, header_length));
    const std::uint64_t record_count = file.Size() / record_size;
    if (record_count == 0) return 0;

    Mft_Index_Builder builder(record_size);
    builder.Reserve(static_cast<std::size_t>(std::min<std::uint64_t>(record_count, 1u << 24)));
    const std::size_t records_per_read = Records_Per_Read_Bytes / record_size;
    std::vector<std::uint8_t> chunk(records_per_read * record_size);
    for (std::uint64_t first = 0; first < record_count;) {
        const std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(records_per_read, record_count - first));
        const std::size_t got = file.Read_At(first * record_size, chunk.data(), wanted * record_size);
        const std::size_t whole = got / record_size;
        for (std::size_t i = 0; i < whole; ++i)
            builder.Add_Record(std::span<std::uint8_t>(chunk.data() + i * record_size, record_size), first + i);
        // A read error ends the file here; what was read is kept.
        if (whole < wanted) break;
        first += wanted;
    }
    builder.Finish(context);
    return 0;
}

void Index_MFT_Bytes(Global_Parsing_Context& context, std::span<const std::uint8_t> bytes) {
    const std::size_t record_size = File_Record_Size_From_Record_0(Byte_View(bytes));
    Mft_Index_Builder builder(record_size);
    std::vector<std::uint8_t> record(record_size);
    builder.Reserve(bytes.size() / record_size);
    const std::size_t count = bytes.size() / record_size;
    for (std::size_t i = 0; i < count; ++i) {
        std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(i * record_size), record_size, record.begin());
        builder.Add_Record(record, i);
    }
    builder.Finish(context);
}

void Build_Full_Path(Global_Parsing_Context& context, std::uint64_t reference, std::u16string name) {
    context.Mft.Full_Path_Of(reference, name, context.Full_Path);
}

namespace {

int Report_Entry(Global_Parsing_Context& context, const _ENTRYINFO_2* entry, std::u16string* name,
                 std::u16string* path) {
    if (!entry) return 0;
    Build_Full_Path(context, entry->FileReference, entry->Name);
    if (name) *name = entry->Name;
    if (path) *path = context.Full_Path;
    return 1;
}

}  // namespace

int Lookup_MFT_Entry_By_LSN(Global_Parsing_Context& context, std::uint64_t lsn, std::u16string* name,
                            std::u16string* path) {
    return Report_Entry(context, context.Mft.Find_By_LSN(lsn), name, path);
}

int Lookup_MFT_Entry_By_Number(Global_Parsing_Context& context, std::uint64_t entry_number, std::u16string* name,
                               std::u16string* path) {
    return Report_Entry(context, context.Mft.Find_By_Number(entry_number), name, path);
}
