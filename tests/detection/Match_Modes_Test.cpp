#include <gtest/gtest.h>

#include "detection/Match_Modes.h"

TEST(Match_Modes, ProgramSignatures) {
    struct Case {
        const char16_t* mode;
        const char16_t* key;
        bool matches;
    };
    const Case cases[] = {
        {u"Same", u"SDELETE.EXE", true},       {u"Same", u"SDELETE.EXE-1A2B.pf", false},
        {u"Same", u"sdelete.exe", false},      {u"Include", u"SDELETE.EXE-1A2B.pf", true},
        {u"Include", u"sdelete.exe-1.pf", false}, {u"same", u"SDELETE.EXE", false},
        {u"", u"SDELETE.EXE", false},          {u"Include ", u"SDELETE.EXE", false},
    };
    for (const Case& c : cases) {
        _anti_forensic_program_execution_info execution{u"SDELETE.EXE", c.mode, u"SDelete", u"Wiper"};
        _anti_forensic_program_trace_info trace{u"File Creation", c.mode, u"SDELETE.EXE", u"SDelete", u"Wiper"};
        EXPECT_EQ(Signature_Matches(execution, c.key), c.matches);
        EXPECT_EQ(Signature_Matches(trace, c.key), c.matches);
    }
}

TEST(Match_Modes, PathSignatures) {
    struct Case {
        const char16_t* mode;
        const char16_t* key;
        bool update_path;  // pattern \Program Files\Tool
        bool temp_path;    // path \Program Files\Tool
    };
    const Case cases[] = {
        {u"Same", u"\\Program Files\\Tool", true, true},
        {u"Same", u"\\Program Files\\Tool\\update", true, false},
        {u"Same", u"\\x\\Program Files\\Tool", false, false},
        {u"Include", u"\\x\\Program Files\\Tool\\y", true, true},
        {u"Include", u"\\program files\\tool", false, false},
        // Any other word, even "same" in lower case, acts as "Include".
        {u"same", u"\\x\\Program Files\\Tool", true, true},
        {u"", u"\\Program Files\\Toolbox", true, true},
        {u"Other", u"\\Program Files", false, false},
    };
    for (const Case& c : cases) {
        const _program_update_path_info update{u"\\Program Files\\Tool", c.mode, 2};
        const _key_temp_path_info temp{u"\\Program Files\\Tool", c.mode};
        EXPECT_EQ(Signature_Matches(update, c.key), c.update_path);
        EXPECT_EQ(Signature_Matches(temp, c.key), c.temp_path);
    }
}
