// libFuzzer target: the change-journal record test and decoder, and the chunk
// scan with the row texts built from what it finds, over arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "ntfs/Parsing_Context.h"
#include "ntfs/usnjrnl/Parse_UsnJrnl.h"
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
    // taken from the first byte, with the row texts of each record found.
    const std::size_t step = size == 0 ? 8 : 1 + data[0] % 8;
    Global_Parsing_Context context;
    context.Hour_Offset = size > 1 ? static_cast<int>(data[1] % 27) - 13 : 0;
    UsnJrnl_Row_Builder builder(context, u"Y");
    _USNJRNLINFO row;
    std::size_t last = 0;
    bool any = false;
    Scan_Usn_Chunk(bytes, step, [&](std::size_t offset, const Usn_Record_V2& record) {
        if (offset % step != 0 || offset >= size || (any && offset <= last)) std::abort();
        if (offset + record.Record_Length > size) std::abort();
        last = offset;
        any = true;
        builder.Fill(record, row);
        if (row.TimeStamp.empty() || row.USN.empty() || row.FileReferenceNumber.size() != 18) std::abort();
    });
    return 0;
}
