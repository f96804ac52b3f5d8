// The three tables of the output database, their statements and the two row
// writers through which every parser inserts its rows.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "db/CppSQLite3.h"
#include "db/Stored_Text.h"
#include "records/Records.h"

namespace Event_Table_Sql {
inline constexpr char16_t Create_LogFile[] =
    u"create table LogFile (LSN UNSIGNED BIG INT PRIMARY KEY, EventTime TEXT, Event TEXT, Detail TEXT, FileName TEXT, "
    u"FullPath TEXT, CreateTime TEXT, ModifiedTIme TEXT, MFT_ModifiedTime TEXT, AccessTime TEXT, RedoInfo TEXT, "
    u"TargetVCN TEXT, MFT_ClusterIndex TEXT)";
inline constexpr char16_t Create_UsnJrnl[] =
    u"create table UsnJrnl (USN UNSIGNED BIG INT PRIMARY KEY, TimeStamp TEXT, FileName TEXT, FullPath TEXT, Event TEXT, "
    u"SourceInfo TEXT, FileAttr TEXT, CarvingFlag TEXT, FileReferenceNumber TEXT, ParentFileReferenceNumber TEXT)";
inline constexpr char16_t Create_TimeZone[] = u"create table TimeZone (UTC INT PRIMARY KEY, DST UNSIGNED BIG INT)";
inline constexpr char16_t Insert_LogFile[] =
    u"insert into LogFile (LSN, EventTime, Event, Detail,  FileName, FullPath, CreateTime, ModifiedTIme, "
    u"MFT_ModifiedTime, AccessTime, RedoInfo, TargetVCN, MFT_ClusterIndex) \t\t\t\t\tvalues(%s, '%s', '%s', '%s', "
    u"'%s', '%s', '%s', '%s', '%s', '%s', '%s', '%s', '%s')";
// The same insert with its values as parameters, for a statement prepared once.
inline constexpr char16_t Insert_LogFile_Bound[] =
    u"insert into LogFile (LSN, EventTime, Event, Detail,  FileName, FullPath, CreateTime, ModifiedTIme, "
    u"MFT_ModifiedTime, AccessTime, RedoInfo, TargetVCN, MFT_ClusterIndex) values(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";
inline constexpr char16_t Insert_UsnJrnl[] =
    u"insert into UsnJrnl (TimeStamp, USN, FileName, FullPath,  Event, SourceInfo, FileAttr, CarvingFlag, "
    u"FileReferenceNumber, ParentFileReferenceNumber) \t\t\t\t\tvalues('%s', %s, '%s', '%s', '%s', '%s', '%s', '%s', "
    u"'%s', '%s')";
inline constexpr char16_t Insert_TimeZone[] = u"insert into TimeZone (UTC, DST) values(%d, %d)";
}  // namespace Event_Table_Sql

// A value as the statement text carries it: its stored form (Stored_Sql_Value)
// with every "'" doubled for the literal.
std::u16string Escape_Sql_Value(std::u16string_view value);

// Insert one row; 0 when inserted, 1 when the database refused it (a key
// already stored, an empty key, a locked database). A row refused because
// its key is already stored is counted in db.Refused_Keys(). The caller's
// record is not changed. Raises nothing but what the program cannot go on
// from (memory exhausted).
//
// Insert_LogFile_Row runs one statement kept on the connection with the values
// bound as text; the table then holds byte for byte what the statement text of
// Insert_LogFile_Row_As_Text stores, which is the way taken for an LSN that is
// not a plain decimal number or when the statement cannot be prepared.
int Insert_LogFile_Row(CppSQLite3DB& db, const _log_info& record);
int Insert_LogFile_Row_As_Text(CppSQLite3DB& db, const _log_info& record);
int Insert_UsnJrnl_Row(CppSQLite3DB& db, const _USNJRNLINFO& record);

// A non-empty run of ASCII digits. The LSN goes into the statement text
// unquoted, so as an integer literal (or, above 64 bits, a real one); bound as
// text it is stored, and matched in a "where", as that literal only when it
// is such a run: anything else makes the text statement invalid or another
// expression.
bool Is_Plain_Decimal(std::u16string_view value);

enum class Bound_Run {
    Done,          // the statement ran to its end
    Refused,       // the database refused it (a key already stored, a trigger, a locked database)
    Not_Prepared,  // no such statement could be prepared on the connection; nothing ran
};

// Runs the statement `statement`, kept on `db`'s connection, once with
// `values` bound to its parameters in order, each as the text that the
// literal '<Escape_Sql_Value(value)>' stores: cut at its first NUL, an
// unpaired surrogate as U+FFFD and every "," as "/" (the doubled "'" is only
// the literal's spelling of one quote). Column affinity then stores each
// value as its literal stored it. `result` receives the step's result code
// when given. Never raises.
Bound_Run Run_Bound_Text(CppSQLite3DB& db, std::u16string_view statement, std::span<const std::u16string_view> values,
                         int* result = nullptr);
