// libFuzzer target: the change-journal record test and decoder, and the chunk
// scan, over arbitrary bytes. Links the decoder library only.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "ntfs/usnjrnl/Usn_Record.h"
#include "platform/Byte_View.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Byte_View bytes(data, size);

    if (const auto record = Decode_Usn_Record_V2(bytes)) {
        // A decoded record lies wholly inside the input, and its name fits.
        if (record->Record_Length > size || record->File_Name.size() > Usn_Record_V2_Layout::Max_File_Name_Units)
            std::abort();
        (void)Usn_Reason_Text(record->Reason);
        (void)Usn_File_Attribute_Text(record->File_Attributes);
    }

    // The carve loop over the input as one chunk, at an alignment of 1 to 8
    // taken from the first byte.
    const std::size_t step = size == 0 ? 8 : 1 + data[0] % 8;
    std::size_t last = 0;
    bool any = false;
    Scan_Usn_Chunk(bytes, step, [&](std::size_t offset, const Usn_Record_V2& record) {
        if (offset % step != 0 || offset >= size || (any && offset <= last)) std::abort();
        if (offset + record.Record_Length > size) std::abort();
        last = offset;
        any = true;
    });
    return 0;
}
