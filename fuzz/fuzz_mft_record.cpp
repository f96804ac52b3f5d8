// libFuzzer target: one FILE record on its own (both record sizes and exactly
// the input's length), and the input as a run list. Links the decoder
// library only.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "ntfs/Run_List.h"
#include "ntfs/mft/File_Record.h"

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
        (void)File_Record_Size_From_Record_0(Byte_View(exact));
    }
    // The input as the mapping pairs of a non-resident attribute.
    (void)Run_List_Text(Decode_Run_List(std::span<const std::uint8_t>(data, size)));
    return 0;
}
