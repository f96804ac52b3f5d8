#include "ntfs/mft/Parse_MFT.h"

int Parse_MFT(Global_Parsing_Context& context, const std::string& path) {
    (void)context;
    (void)path;
    return 0;
}

void Build_Full_Path(Global_Parsing_Context& context, std::uint64_t reference, std::u16string name) {
    (void)reference;
    (void)name;
    context.Full_Path.clear();
}

int Lookup_MFT_Entry_By_LSN(Global_Parsing_Context& context, std::uint64_t lsn, std::u16string* name,
                            std::u16string* path) {
    (void)context;
    (void)lsn;
    (void)name;
    (void)path;
    return 0;
}

int Lookup_MFT_Entry_By_Number(Global_Parsing_Context& context, std::uint64_t entry_number, std::u16string* name,
                               std::u16string* path) {
    (void)context;
    (void)entry_number;
    (void)name;
    (void)path;
    return 0;
}
