// libFuzzer target: the chunk scan with the UsnJrnl row texts built from what
// it finds (time text, reason and attribute words, references, full path),
// over arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "ntfs/Parsing_Context.h"
#include "ntfs/usnjrnl/Parse_UsnJrnl.h"
#include "ntfs/usnjrnl/Usn_Record.h"
#include "platform/Byte_View.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Byte_View bytes(data, size);
    // An alignment of 1 to 8 and an hour offset, taken from the first bytes.
    const std::size_t step = size == 0 ? 8 : 1 + data[0] % 8;
    Global_Parsing_Context context;
    context.Hour_Offset = size > 1 ? static_cast<int>(data[1] % 27) - 13 : 0;
    UsnJrnl_Row_Builder builder(context, u"Y");
    _USNJRNLINFO row;
    Scan_Usn_Chunk(bytes, step, [&](std::size_t, const Usn_Record_V2& record) {
        builder.Fill(record, row);
        if (row.TimeStamp.empty() || row.USN.empty() || row.FileReferenceNumber.size() != 18) std::abort();
    });
    return 0;
}
