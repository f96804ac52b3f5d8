// libFuzzer target: the input as a whole $MFT image, indexed, with a path
// built and a look-up made for every entry indexed.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "ntfs/Ntfs_Layout.h"
#include "ntfs/Parsing_Context.h"
#include "ntfs/mft/Parse_MFT.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
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
