// What the change-journal stage tests share: an output database with the
// UsnJrnl table, and its rows read back independently of the program.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "db/CppSQLite3.h"
#include "output/Event_Tables.h"
#include "platform/console.h"
#include "support/Sqlite_Query.h"
#include "support/Temp_Dir.h"

namespace usn_test {

struct Bit_Word {
    std::uint32_t bit;
    const char16_t* word;
};

// The words as the UsnJrnl table carries them, in their order (written out
// here, apart from the parser's own tables).
inline const std::vector<Bit_Word> Reason_Words = {
    {0x00000100, u"File_Created"},         {0x00008000, u"Basic_Info_Changed"},
    {0x00020000, u"Compression_Changed"},  {0x00000002, u"Data_Added"},
    {0x00000001, u"Data_Overwritten"},     {0x00000004, u"Data_Truncated"},
    {0x00000400, u"Extended_Attr_Changed"}, {0x00040000, u"Encryption_Changed"},
    {0x00010000, u"Hard_Link_Changed"},    {0x00004000, u"Content_Indexed_Attr_Changed"},
    {0x00800000, u"Integrity_Changed"},    {0x00000020, u"Named_Data_Stream_Added"},
    {0x00000010, u"Named_Data_Stream_Overwritten"}, {0x00000040, u"Named_Stream_Truncated"},
    {0x00080000, u"Object_ID_Changed"},    {0x00002000, u"File_Renamed_New"},
    {0x00001000, u"File_Renamed_Old"},     {0x00100000, u"Reparse_Point_Changed"},
    {0x00000800, u"Access_Right_Changed"}, {0x00200000, u"Named_Stream_Changed"},
    {0x00400000, u"Transacted_Changed"},   {0x01000000, u"Desired_Storage_Class_Change"},
    {0x80000000, u"File_Closed"},          {0x00000200, u"File_Deleted"},
};

inline const std::vector<Bit_Word> Attribute_Words = {
    {0x00000020, u"Archive"},   {0x00000800, u"Compressed"},          {0x00000040, u"Device"},
    {0x00000010, u"Directory"}, {0x00004000, u"Encryted"},            {0x00000002, u"Hidden"},
    {0x00008000, u"Integrity_Stream"}, {0x00000080, u"Normal"},       {0x00002000, u"Not_Content_Indexed"},
    {0x00020000, u"N0_Scrub_Data"}, {0x00001000, u"Offline"},         {0x00000001, u"ReadOnly"},
    {0x00000400, u"Repasre_Point"}, {0x00000200, u"Sparse"},          {0x00000004, u"System"},
    {0x00000100, u"Temporary"}, {0x00010000, u"Virtual"},
};


// The columns in table order, "|"-joined, ordered by USN.
inline constexpr char Row_Query[] =
    "select USN, TimeStamp, FileName, FullPath, Event, SourceInfo, FileAttr, CarvingFlag, FileReferenceNumber, "
    "ParentFileReferenceNumber from UsnJrnl order by USN";

class Output_Db {
public:
    explicit Output_Db(const Temp_Dir& dir, const std::string& name = "out.db") : path_(dir.File(name)) {
        db_.Open_With_Pragmas(path_);
        db_.Run_Query(Event_Table_Sql::Create_UsnJrnl);
    }
    CppSQLite3DB& Db() { return db_; }
    const std::string& Path() const { return path_; }
    std::vector<std::string> Rows(const std::string& sql = Row_Query) const { return Query_Rows(path_, sql); }
    // One column of every row, ordered by USN.
    std::vector<std::string> Column(const std::string& column) const {
        return Query_Rows(path_, "select " + column + " from UsnJrnl order by USN");
    }

private:
    std::string path_;
    CppSQLite3DB db_;
};

// Captures the message boxes (and console) of one block.
class Captured_Output {
public:
    Captured_Output() : scope_(console_, messages_) {}
    std::string Messages() const { return messages_.str(); }
    std::string Console() const { return console_.str(); }

private:
    std::ostringstream console_;
    std::ostringstream messages_;
    platform::Scoped_Output scope_;
};

}  // namespace usn_test
