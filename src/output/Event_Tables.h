// The three tables of the output database, their statements and the two row
// writers through which every parser inserts its rows.
#pragma once

#include <string>

#include "db/CppSQLite3.h"
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
inline constexpr char16_t Insert_UsnJrnl[] =
    u"insert into UsnJrnl (TimeStamp, USN, FileName, FullPath,  Event, SourceInfo, FileAttr, CarvingFlag, "
    u"FileReferenceNumber, ParentFileReferenceNumber) \t\t\t\t\tvalues('%s', %s, '%s', '%s', '%s', '%s', '%s', '%s', "
    u"'%s', '%s')";
inline constexpr char16_t Insert_TimeZone[] = u"insert into TimeZone (UTC, DST) values(%d, %d)";
inline constexpr char16_t Delete_Temp_Events[] = u"delete from LogFile where Event='Temp Event'";
}  // namespace Event_Table_Sql

// A value as the statement text carries it: cut at its first NUL, an unpaired
// surrogate replaced by U+FFFD, every "'" doubled for the literal and every ","
// turned into "/" (the stored texts hold no comma; the export turns "/" back
// into ",").
std::u16string Escape_Sql_Value(std::u16string_view value);

// Insert one row; 0 when inserted, 1 when the database refused it (a key
// already stored, an empty key, a locked database). The caller's record is
// not changed. Never raises.
int Insert_LogFile_Row(CppSQLite3DB& db, const _log_info& record);
int Insert_UsnJrnl_Row(CppSQLite3DB& db, const _USNJRNLINFO& record);
