#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <sstream>

#include "app/Signature_Loading.h"
#include "platform/console.h"
#include "support/Signature_Db_Builder.h"
#include "support/Temp_Dir.h"

namespace {

constexpr char Loading[] = "\r\nLoading Suspicious Behavior Signature Info...";

struct Load_Fixture {
    Temp_Dir dir;
    Program_State state;
    std::ostringstream console, messages;

    bool Load() {
        platform::Scoped_Output output(console, messages);
        return Load_Signatures(state, dir.Path());
    }
    std::size_t Total() const {
        return state.g_Installation_Signature_Array.size() + state.g_Execution_Signature_Array.size() +
               state.g_Trace_Signature_Array.size() + state.g_Update_Path_Signature_Array.size() +
               state.g_Key_Temp_Path_Array.size();
    }
};

}  // namespace

TEST(Signature_Loading, CategoriesAndTheirRequiredFields) {
    struct Case {
        const char16_t* text;
        bool loaded;
    };
    const Case cases[] = {
        {u"Installation|Wiper|Eraser|Eraser 6", true},
        {u"Installation|Wiper||Eraser 6", false},
        {u"Execution|Wiper||SDELETE.EXE|SDelete", true},  // MatchType may be empty
        {u"Execution|Wiper|Same||SDelete", false},
        {u"Execution|Wiper|Same|SDELETE.EXE", false},  // field 4 past the last separator
        {u"Trace|Wiper|File Creation|Include|SDELETE|SDelete", true},
        {u"Trace|Wiper|||SDELETE|SDelete", true},
        {u"Trace||File Creation|Include|SDELETE|SDelete", false},
        {u"ProgramUpdatePath|\\Program Files\\Tool|Same|2a", true},
        {u"ProgramUpdatePath|\\Program Files\\Tool|Same|", false},
        {u"KeyTempPath|\\Temp|Include", true},
        {u"KeyTempPath|\\Temp|", false},
        {u"execution|Wiper|Same|SDELETE.EXE|SDelete", false},  // category words are case-sensitive
        {u"Execution", false},                                 // no "|": the whole text is field 0
        {u"", false},
    };
    for (const Case& c : cases) {
        Program_State state;
        EXPECT_EQ(Add_Signature_Text(state, c.text), c.loaded) << std::u16string(c.text).size();
    }

    Program_State state;
    Add_Signature_Text(state, u"Installation|Wiper|Eraser|Eraser 6|ignored");
    Add_Signature_Text(state, u"Execution|Wiper||SDELETE.EXE|SDelete");
    Add_Signature_Text(state, u"Trace|Wiper|File Creation|Include|SDELETE|SDelete");
    Add_Signature_Text(state, u"ProgramUpdatePath|\\Program Files\\Tool|Same| 2a");
    Add_Signature_Text(state, u"KeyTempPath|\\Temp|Include");
    ASSERT_EQ(state.g_Installation_Signature_Array.size(), 1u);
    const auto& inst = state.g_Installation_Signature_Array[0];
    EXPECT_EQ(inst.FolderName + u"/" + inst.ProgramName + u"/" + inst.ProgramType, u"Eraser/Eraser 6/Wiper");
    const auto& exe = state.g_Execution_Signature_Array.at(0);
    EXPECT_EQ(exe.Pattern + u"/" + exe.MatchType + u"/" + exe.ProgramName + u"/" + exe.ProgramType,
              u"SDELETE.EXE//SDelete/Wiper");
    const auto& trace = state.g_Trace_Signature_Array.at(0);
    EXPECT_EQ(trace.Operation + u"/" + trace.MatchType + u"/" + trace.Pattern + u"/" + trace.ProgramName + u"/" +
                  trace.ProgramType,
              u"File Creation/Include/SDELETE/SDelete/Wiper");
    const auto& update = state.g_Update_Path_Signature_Array.at(0);
    EXPECT_EQ(update.PathPattern + u"/" + update.MatchType, u"\\Program Files\\Tool/Same");
    EXPECT_EQ(update.FolderDepth, 2u);  // " 2a": blanks skipped, stops at the letter
    const auto& temp = state.g_Key_Temp_Path_Array.at(0);
    EXPECT_EQ(temp.Path + u"/" + temp.MatchType, u"\\Temp/Include");
}

TEST(Signature_Loading, RowsInNoOrderWithDamagedRowsSkipped) {
    Load_Fixture f;
    const std::string good = "KeyTempPath|\\Temp|Same";
    Signature_Db_Builder builder;
    builder.Add_Raw({30, Signature_Value(12), std::string()});  // empty blob
    builder.Add_Raw({20, Signature_Value(good.size()), Scramble_Signature(good)});
    builder.Add_Raw({10, Signature_Value(23), Scramble_Signature("KeyTempPath|\\First|Same")});
    builder.Add_Raw({21, std::nullopt, Scramble_Signature(good)});                    // NULL Value: n = -7
    builder.Add_Raw({22, 11 + 13 * 7, Scramble_Signature(good)});                    // n = 0
    builder.Add_Raw({23, Signature_Value(good.size()), Scramble_Signature(good).substr(0, 11 + 41)});  // one short
    builder.Add_Raw({24, Signature_Value(good.size()), std::nullopt});
    builder.Add_Raw({25, Signature_Value(1005), std::string(2048, 'x')});            // window of 1026 bytes
    builder.Add_Raw({26, 2147483647, std::string(2048, 'x')});
    builder.Add_Raw({27, -2147483647 - 1, std::string(2048, 'x')});
    // A zero byte ends the text: "KeyTempPath|\Cut" misses its MatchType.
    builder.Add_Raw({28, Signature_Value(24), Scramble_Signature(std::string("KeyTempPath|\\Cut\0|Same|x", 24))});
    builder.Add_Raw({29, Signature_Value(9), Scramble_Signature("Unknown|a")});
    ASSERT_TRUE(builder.Write(f.dir.Path()));

    EXPECT_TRUE(f.Load());
    EXPECT_EQ(f.console.str(), std::string(Loading) + "[Done]");
    std::vector<std::u16string> paths;
    for (const auto& r : f.state.g_Key_Temp_Path_Array) paths.push_back(r.Path + u"|" + r.MatchType);
    EXPECT_EQ(paths, (std::vector<std::u16string>{u"\\First|Same", u"\\Temp|Same"}));
    EXPECT_EQ(f.Total(), 2u);
}

TEST(Signature_Loading, NonUtf8BytesBecomeReplacementCharacters) {
    Load_Fixture f;
    ASSERT_TRUE(Signature_Db_Builder().Add("Execution|Wiper|Same|\xFFX.EXE|\xC3\xA9t\xC3\xA9").Write(f.dir.Path()));
    EXPECT_TRUE(f.Load());
    ASSERT_EQ(f.state.g_Execution_Signature_Array.size(), 1u);
    EXPECT_EQ(f.state.g_Execution_Signature_Array[0].Pattern, u"\uFFFDX.EXE");
    EXPECT_EQ(f.state.g_Execution_Signature_Array[0].ProgramName, u"\u00E9t\u00E9");
}

TEST(Signature_Loading, EmptyTableIsDone) {
    Load_Fixture f;
    ASSERT_TRUE(Signature_Db_Builder().Write(f.dir.Path()));
    EXPECT_TRUE(f.Load());
    EXPECT_EQ(f.console.str(), std::string(Loading) + "[Done]");
    EXPECT_EQ(f.Total(), 0u);
}

TEST(Signature_Loading, Failures) {
    const std::string no_file = "\r\n[ERROR]There is no Signature.db file.";
    const std::string no_open = "\r\n[ERROR]Opening Signature DB file fails.";
    const std::string no_table = "\r\nGetting table fails.";
    struct Case {
        const char* what;
        std::function<void(Load_Fixture&)> make;  // what the folder holds
        std::string message;
        bool no_folder = false;  // the folder is "" (an unreadable current directory)
    };
    const Case cases[] = {
        {"no file", [](Load_Fixture&) {}, no_file},
        // The name is exact: a differently cased file is not the database.
        {"a differently cased name",
         [](Load_Fixture& f) {
             ASSERT_TRUE(Signature_Db_Builder().Add("KeyTempPath|\\Temp|Same").Write(f.dir.Path()));
             std::filesystem::rename(f.dir.File("Signature.db"), f.dir.File("signature.db"));
         },
         no_file},
        {"not a database", [](Load_Fixture& f) { f.dir.Write("Signature.db", std::string(4096, 'z')); }, no_open},
        // An empty file opens as an empty database, which has no SignatureTable.
        {"an empty file", [](Load_Fixture& f) { f.dir.Write("Signature.db", ""); }, no_table},
        {"a directory", [](Load_Fixture& f) { f.dir.Make_Dir("Signature.db"); }, no_open},
        {"a database without SignatureTable",
         [](Load_Fixture& f) {
             sqlite3* db = nullptr;
             sqlite3_open(f.dir.File("Signature.db").c_str(), &db);
             sqlite3_exec(db, "CREATE TABLE Other (x)", nullptr, nullptr, nullptr);
             sqlite3_close(db);
         },
         no_table},
        // An unreadable current directory gives no folder to look in.
        {"no folder", [](Load_Fixture&) {}, no_file, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Load_Fixture f;
        c.make(f);
        bool loaded = true;
        {
            platform::Scoped_Output output(f.console, f.messages);
            loaded = Load_Signatures(f.state, c.no_folder ? std::string() : f.dir.Path());
        }
        EXPECT_FALSE(loaded);
        EXPECT_EQ(f.console.str(), std::string(Loading) + c.message);
    }
}

// A hostile file cannot hold the run: reading stops with the table's failure
// after the bounded count of rows or once the time is up; the rows read
// before stay loaded.
TEST(Signature_Loading, ReadingStopsAtItsBounds) {
    {
        Load_Fixture f;
        Signature_Db_Builder builder;
        for (int i = 0; i < 5; ++i) builder.Add("KeyTempPath|\\Temp" + std::to_string(i) + "|Same");
        ASSERT_TRUE(builder.Write(f.dir.Path()));
        platform::Scoped_Output output(f.console, f.messages);
        EXPECT_TRUE(Load_Signatures(f.state, f.dir.Path(), {.Max_Rows = 5}));
        EXPECT_EQ(f.state.g_Key_Temp_Path_Array.size(), 5u);
        Program_State bounded;
        EXPECT_FALSE(Load_Signatures(bounded, f.dir.Path(), {.Max_Rows = 3}));
        EXPECT_EQ(bounded.g_Key_Temp_Path_Array.size(), 3u);
        EXPECT_TRUE(f.console.str().ends_with(std::string(Loading) + "\r\nGetting table fails.")) << f.console.str();
    }
    {
        // Rows in no order, none of them a signature: sorting them alone
        // takes longer than the bound, reading them all would succeed.
        Load_Fixture f;
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(f.dir.File("Signature.db").c_str(), &db), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db,
                               "CREATE TABLE SignatureTable (No INTEGER, Value INTEGER, Signature BLOB);"
                               "WITH RECURSIVE r(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM r WHERE n < 500000) "
                               "INSERT INTO SignatureTable SELECT random(), 0, x'00' FROM r;",
                               nullptr, nullptr, nullptr),
                  SQLITE_OK);
        sqlite3_close(db);
        const auto started = std::chrono::steady_clock::now();
        {
            platform::Scoped_Output output(f.console, f.messages);
            EXPECT_FALSE(Load_Signatures(f.state, f.dir.Path(), {.Max_Time = std::chrono::milliseconds(20)}));
        }
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));
        EXPECT_EQ(f.console.str(), std::string(Loading) + "\r\nGetting table fails.");
    }
}
