#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "Signature_List.h"
#include "app/Signature_Loading.h"
#include "detection/Match_Modes.h"
#include "platform/console.h"
#include "platform/text.h"

namespace {

std::string Read_File(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Every loaded record as one text, array by array, so two states compare
// row for row.
std::vector<std::u16string> Rows_Of(const Program_State& s) {
    std::vector<std::u16string> rows;
    for (const auto& r : s.g_Installation_Signature_Array)
        rows.push_back(u"I|" + r.FolderName + u"|" + r.ProgramName + u"|" + r.ProgramType);
    for (const auto& r : s.g_Execution_Signature_Array)
        rows.push_back(u"E|" + r.Pattern + u"|" + r.MatchType + u"|" + r.ProgramName + u"|" + r.ProgramType);
    for (const auto& r : s.g_Trace_Signature_Array)
        rows.push_back(u"T|" + r.Operation + u"|" + r.MatchType + u"|" + r.Pattern + u"|" + r.ProgramName + u"|" +
                       r.ProgramType);
    for (const auto& r : s.g_Update_Path_Signature_Array)
        rows.push_back(u"U|" + r.PathPattern + u"|" + r.MatchType + u"|" +
                       platform::Format(u"%I64u", {static_cast<unsigned long long>(r.FolderDepth)}));
    for (const auto& r : s.g_Key_Temp_Path_Array) rows.push_back(u"K|" + r.Path + u"|" + r.MatchType);
    return rows;
}

}  // namespace

// The database the build wrote loads, through the program's own loader, into
// exactly the rows of the list, in the list's order.
TEST(Signature_List, BuiltDatabaseLoadsTheListRowForRow) {
    const std::string db_dir = TREVALON_SIGNATURE_DB_DIR;
    if (!std::filesystem::exists(db_dir + "/Signature.db"))
        GTEST_SKIP() << "no Signature.db in " << db_dir << " (make_signature_db is not part of this build)";

    // The list read here on its own, line by line.
    Program_State expected;
    std::istringstream list(Read_File(TREVALON_SIGNATURE_LIST));
    std::size_t rows = 0;
    for (std::string line; std::getline(list, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        ++rows;
        EXPECT_TRUE(Add_Signature_Text(expected, platform::Utf8_To_Utf16(line))) << line;
    }

    Program_State loaded;
    std::ostringstream console, messages;
    {
        platform::Scoped_Output output(console, messages);
        ASSERT_TRUE(Load_Signatures(loaded, db_dir));
    }
    EXPECT_EQ(console.str(), "\r\nLoading Suspicious Behavior Signature Info...[Done]");
    EXPECT_EQ(Rows_Of(loaded), Rows_Of(expected));
    EXPECT_EQ(Rows_Of(loaded).size(), rows);
    for (const std::size_t count :
         {loaded.g_Installation_Signature_Array.size(), loaded.g_Execution_Signature_Array.size(),
          loaded.g_Trace_Signature_Array.size(), loaded.g_Update_Path_Signature_Array.size(),
          loaded.g_Key_Temp_Path_Array.size()})
        EXPECT_GT(count, 0u);
}

// What the shipped rows are for: prefetch keys name their program, the
// timestamp tools carry the type that ties findings to them, and the update
// and temporary folders match the full paths of the volume's own layout.
TEST(Signature_List, RowsMatchWhatTheyAreWrittenFor) {
    const Signature_List list = Read_Signature_List(Read_File(TREVALON_SIGNATURE_LIST));
    ASSERT_TRUE(list.Errors.empty()) << list.Errors.front();
    Program_State s;
    for (const Signature_List_Row& row : list.Rows) Add_Signature_Text(s, platform::Utf8_To_Utf16(row.Text));

    // Prefetch name -> the key before its first ".EX" -> the programs matched.
    struct Execution_Case {
        const char16_t* key;
        const char16_t* programs;
    };
    const Execution_Case executions[] = {
        {u"SDELETE", u"SDelete (Data Wiping)"},          // SDELETE.EXE-1A2B3C4D.pf
        {u"SDELETE64", u"SDelete (Data Wiping)"},
        {u"SETMACE64", u"SetMACE (Timestamp Manipulation)"},
        {u"NTIMESTOMP_V1.2_X64", u"nTimestomp (Timestamp Manipulation)"},
        {u"CCLEANER64", u"CCleaner (Trace Cleaning)"},
        {u"USBOBLIVION32", u"USB Oblivion (Trace Cleaning)"},
        {u"BCWIPE", u"BCWipe (Data Wiping)"},
        {u"BCWIPEGUI", u"BCWipe (Data Wiping)"},
        {u"CIPHER", u"Cipher (Data Wiping)"},
        {u"sdelete", u""},  // prefetch names are in capitals; so are the keys
        {u"SDELETE64X", u""},
        {u"NOTEPAD", u""},
    };
    for (const Execution_Case& c : executions) {
        std::u16string programs;
        for (const auto& row : s.g_Execution_Signature_Array)
            if (Signature_Matches(row, c.key)) programs += row.ProgramName + u" (" + row.ProgramType + u")";
        EXPECT_EQ(programs, c.programs) << platform::Utf16_To_Utf8(c.key);
    }

    // A full path -> the first update-path row that takes it.
    struct Path_Case {
        const char16_t* full_path;
        const char16_t* row;
    };
    const Path_Case paths[] = {
        {u"\\Program Files\\Vendor\\app.exe", u"\\Program Files\\"},
        {u"\\Program Files (x86)\\Vendor\\app.exe", u"\\Program Files (x86)\\"},
        {u"\\ProgramData\\Vendor\\cache.bin", u"\\ProgramData\\"},
        {u"\\Windows\\SoftwareDistribution\\Download\\0a1b\\x.cab", u"\\Windows\\SoftwareDistribution\\Download\\"},
        {u"\\Users\\Me\\Program Files\\x", u""},  // only from the root
        {u"\\Windows\\System32\\x.dll", u""},
    };
    for (const Path_Case& c : paths) {
        std::u16string first;
        for (const auto& row : s.g_Update_Path_Signature_Array)
            if (Signature_Matches(row, c.full_path)) {
                first = row.PathPattern;
                break;
            }
        EXPECT_EQ(first, c.row) << platform::Utf16_To_Utf8(c.full_path);
    }

    const auto temp_folder = [&](std::u16string_view folder) {
        for (const auto& row : s.g_Key_Temp_Path_Array)
            if (Signature_Matches(row, folder)) return true;
        return false;
    };
    EXPECT_TRUE(temp_folder(u"\\Users\\Me\\AppData\\Local\\Temp\\"));
    EXPECT_TRUE(temp_folder(u"\\Users\\Me\\AppData\\Local\\Temp\\sub\\"));
    EXPECT_FALSE(temp_folder(u"\\Users\\Me\\AppData\\Local\\"));
    EXPECT_TRUE(temp_folder(u"\\Windows\\Temp\\"));
    EXPECT_TRUE(temp_folder(u"\\Windows\\Temp\\{4D2C1F0A}\\"));
    EXPECT_FALSE(temp_folder(u"\\Windows\\"));

    // A file or folder created under a name -> the programs whose trace it is.
    const auto traces = [&](std::u16string_view name) {
        std::u16string programs;
        for (const auto& row : s.g_Trace_Signature_Array)
            if (row.Operation == u"Creation" && Signature_Matches(row, name)) programs += row.ProgramName + u";";
        return platform::Utf16_To_Utf8(programs);
    };
    EXPECT_EQ(traces(u"EFSTMPWP"), "Cipher;");
    EXPECT_EQ(traces(u"BCWipe.exe"), "BCWipe;");
    EXPECT_EQ(traces(u"efstmpwp"), "");
}

// Every row of the list parses, and the comments of its paragraph (the lines
// between blank lines) name the program of a program row, or say what a
// folder row is for.
TEST(Signature_List, EveryRowParsesAndItsCommentNamesItsProgram) {
    const std::string content = Read_File(TREVALON_SIGNATURE_LIST);
    const Signature_List list = Read_Signature_List(content);
    EXPECT_EQ(list.Errors, std::vector<std::string>{});
    ASSERT_FALSE(list.Rows.empty());

    std::vector<std::string> lines;
    std::istringstream in(content);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    const auto blank = [](const std::string& line) { return line.find_first_not_of(" \t") == std::string::npos; };
    std::vector<std::string> comments_of_paragraph(lines.size());
    for (std::size_t first = 0; first < lines.size();) {
        std::size_t end = first;
        while (end < lines.size() && !blank(lines[end])) ++end;
        std::string comments;
        for (std::size_t k = first; k < end; ++k)
            if (lines[k][0] == '#') comments += lines[k] + "\n";
        for (std::size_t k = first; k < end; ++k) comments_of_paragraph[k] = comments;
        first = end + 1;
    }
    for (const Signature_List_Row& row : list.Rows) {
        const std::string& comments = comments_of_paragraph.at(static_cast<std::size_t>(row.Line - 1));
        const std::string category = row.Text.substr(0, row.Text.find('|'));
        if (category == "Execution" || category == "Installation" || category == "Trace") {
            const std::string program = row.Text.substr(row.Text.rfind('|') + 1);
            EXPECT_NE(comments.find(program), std::string::npos)
                << "line " << row.Line << ": no comment of its paragraph names " << program;
        } else {
            EXPECT_NE(comments, "") << "line " << row.Line << ": no comment says what the row is for";
        }
    }
}

TEST(Signature_List, BadRowsNameTheirLines) {
    struct Case {
        std::string content;
        std::vector<std::string> errors;
        std::size_t rows;
    };
    const std::string good = "KeyTempPath|\\Temp\\|Include";
    const std::vector<Case> cases{
        {"# comment\n\n   \n" + good + "\r\n" + good, {}, 2},
        {"", {}, 0},
        {"Execution|Data Wiping|Same||SDelete\n", {"line 1: names no category or misses a field that its category needs"}, 0},
        {"#\nexecution|Data Wiping|Same|SDELETE|SDelete\n",
         {"line 2: names no category or misses a field that its category needs"}, 0},
        {good + " \n", {"line 1: begins or ends with a blank"}, 0},
        {" " + good + "\n", {"line 1: begins or ends with a blank"}, 0},
        {std::string("KeyTempPath|\\T\0|Include", 23), {"line 1: holds a zero byte"}, 0},
        {"KeyTempPath|\\T\xFF|Include", {"line 1: is not UTF-8"}, 0},
        // 1004 bytes still fit the 1024-byte window; 1005 do not.
        {"KeyTempPath|" + std::string(984, 'x') + "|Include", {}, 1},
        {"KeyTempPath|" + std::string(985, 'x') + "|Include", {"line 1: is too long for a stored signature"}, 0},
        {good + "\nUnknown|x\n" + good + "\nTrace|T|Creation|Same||P\n",
         {"line 2: names no category or misses a field that its category needs",
          "line 4: names no category or misses a field that its category needs"},
         2},
    };
    for (const Case& c : cases) {
        const Signature_List list = Read_Signature_List(c.content);
        EXPECT_EQ(list.Errors, c.errors) << c.content;
        EXPECT_EQ(list.Rows.size(), c.rows) << c.content;
    }
    const Signature_List list = Read_Signature_List("# a\n" + good + "\n\n" + good + "x\n");
    ASSERT_EQ(list.Rows.size(), 2u);
    EXPECT_EQ(list.Rows[0].Line, 2);
    EXPECT_EQ(list.Rows[1].Line, 4);
    EXPECT_EQ(list.Rows[1].Text, good + "x");
}
