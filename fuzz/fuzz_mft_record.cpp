// libFuzzer target: one FILE record on its own (both record sizes), then the
// input as a whole $MFT image, with a path built for every entry indexed.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "ntfs/mft/File_Record.h"
#include "ntfs/mft/Parse_MFT.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Single record: the input, cut or zero-padded to a record, decoded in
    // place of a record read from disk.
    for (const std::size_t record_size : {std::size_t{1024}, std::size_t{4096}}) {
        std::vector<std::uint8_t> record(record_size, 0);
        for (std::size_t i = 0; i < size && i < record_size; ++i) record[i] = data[i];
        Decoded_File_Record decoded;
        Decode_File_Record(record, decoded);
    }
    // Also the record exactly as long as the input: a short span must be refused safely.
    {
        std::vector<std::uint8_t> exact(data, data + size);
        Decoded_File_Record decoded;
        Decode_File_Record(exact, decoded);
        Apply_Update_Sequence_Fixup(exact);
    }

    // Whole image: index every record, then walk every path and look-up.
    Global_Parsing_Context context;
    Index_MFT_Bytes(context, std::span<const std::uint8_t>(data, size));
    for (const _ENTRYINFO_2& e : context.Mft.Entry_List()) {
        Build_Full_Path(context, e.FileReference, e.Name);
        Build_Full_Path(context, e.ParentReference, e.Name);
        std::u16string name, path;
        Lookup_MFT_Entry_By_LSN(context, e.MFT_LSN, &name, &path);
        Lookup_MFT_Entry_By_Number(context, Entry_Number_Of(e.FileReference), &name, &path);
        for (const _ENTRYINFO_2& child : context.Mft.Children_Of(e.FileReference)) (void)child.Name.size();
    }
    return 0;
}
