#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "db/CppSQLite3.h"
#include "ntfs/logfile/Parse_LogFile.h"
#include "output/Event_Tables.h"
#include "platform/console.h"
#include "support/LogFile_Builder.h"
#include "support/Temp_Dir.h"

namespace {

using namespace logfile_test;

class Parse_LogFile_Test : public ::testing::Test {
protected:
    void SetUp() override {
        db.Open_With_Pragmas(dir.File("out.db"));
        db.Run_Query(Event_Table_Sql::Create_LogFile);
    }

    // Runs the parser on `image`, capturing the message stream.
    int Parse(const Log_Image& image, int hours = 0) {
        const std::string path = image.Write(dir.File("LogFile"));
        platform::Scoped_Output capture(console, messages);
        return Parse_LogFile(context, path, db, hours);
    }

    Temp_Dir dir;
    CppSQLite3DB db;
    Global_Parsing_Context context;
    std::ostringstream console;
    std::ostringstream messages;
};

TEST_F(Parse_LogFile_Test, Missing_File_Or_Restart_Pages) {
    platform::Scoped_Output capture(console, messages);
    EXPECT_EQ(Parse_LogFile(context, dir.File("absent"), db, 3), 1);
    EXPECT_EQ(context.Hour_Offset, 3);
    EXPECT_EQ(Parse_LogFile(context, dir.Path(), db, 0), 1);  // a directory is no input file

    // Files too short to hold a second restart page.
    const auto with_second_page_start = [](const char* start) {
        Log_Image image;
        image.Add(Restart_Page());
        const std::size_t length = std::strlen(start);
        image.Data().resize(4096 + length);
        std::memcpy(image.Data().data() + 4096, start, length);
        return image;
    };
    Log_Image one_restart;
    one_restart.Add(Restart_Page()).Add(Filled_Page(0xFF));
    const struct {
        const char* what;
        Log_Image image;
    } cases[] = {
        {"one restart page, then an unwritten page", one_restart},
        {"three bytes of a second page", with_second_page_start("RST")},
        // "RSTR" at 4096 is not enough when the file ends inside the 64 bytes read there.
        {"the magic of a second page only", with_second_page_start("RSTR")},
    };
    for (const auto& c : cases) EXPECT_EQ(Parse(c.image), 2) << c.what;
    EXPECT_EQ(messages.str(), "");
}

TEST_F(Parse_LogFile_Test, Unsupported_Versions_Are_Reported) {
    struct Case {
        const char* what;
        Restart_Page_Values values;
    };
    const Case cases[] = {
        {"1.0", {.major = 1, .minor = 0}},
        {"2.1", {.major = 2, .minor = 1}},
        {"3.0", {.major = 3, .minor = 0}},
        {"restart pages failing the 24-byte test", {.check_disk_lsn = 5}},
    };
    for (const Case& c : cases) {
        messages.str("");
        Log_Image image;
        image.Add_Restart_Pages(c.values).Add(Lay_Records({Log_Record{.lsn = 0x100, .redo = Bytes(8)}}).pages);
        EXPECT_EQ(Parse(image), 0) << c.what;
        EXPECT_EQ(messages.str(), "This $LogFile version is not supported.\n") << c.what;
        EXPECT_TRUE(context.Replay_Page_Array.empty()) << c.what;
    }
}

TEST_F(Parse_LogFile_Test, The_Second_Restart_Page_Decides_And_Every_Record_Page_Is_Listed) {
    // The first restart page claims 2.0, the second 1.1: a 1.1 log.
    Log_Image image;
    image.Add(Restart_Page({.major = 2, .minor = 0})).Add(Restart_Page({.major = 1, .minor = 1, .sequence_bits = 40}));
    const Laid_Log buffer = Lay_Records({Log_Record{.lsn = 0x100, .redo = Bytes(8)}});
    const Laid_Log normal = Lay_Records({Log_Record{.lsn = 0x200, .redo = Bytes(8)}});
    image.Add(buffer.pages).Add(Filled_Page(0xFF)).Add(normal.pages).Add(Filled_Page(0));
    // A final short page is examined as if the missing bytes were zero.
    Bytes tail = Lay_Records({Log_Record{.lsn = 0x300, .redo = Bytes(8)}}).pages[0];
    image.Data().insert(image.Data().end(), tail.begin(), tail.begin() + 100);
    EXPECT_EQ(Parse(image), 0);
    ASSERT_EQ(context.Record_Page_Array.size(), 3u);
    EXPECT_EQ(context.Record_Page_Array[0].FileOffset, 2u * 4096);
    EXPECT_EQ(context.Record_Page_Array[1].FileOffset, 4u * 4096);
    EXPECT_EQ(context.Record_Page_Array[1].PageIndex, 1u);
    EXPECT_EQ(context.Record_Page_Array[2].FileOffset, 6u * 4096);
    EXPECT_EQ(context.Record_Page_Array[2].LastLSN, 0x300u);
    // 1.1: file pages 4 and 6 are normal pages; page 2 ends before them.
    ASSERT_EQ(context.Replay_Page_Array.size(), 2u);
    EXPECT_EQ(context.Replay_Page_Array[0].FileOffset, 4u * 4096);
    EXPECT_EQ(messages.str(), "");
}

}  // namespace
