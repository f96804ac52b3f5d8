// Changes of LogFile rows stored earlier in the run, made when a later log
// record shows what an earlier one meant. Every such change goes through here,
// so each value is escaped exactly once, when the statement is built; the
// caller's copy of the row stays unescaped.
#pragma once

#include <string>

#include "db/CppSQLite3.h"
#include "records/Records.h"

enum class Row_Update {
    Event,                   // "update LogFile set Event='%s' where LSN=%s"
    EventTime,               // "update LogFile set EventTime='%s' where LSN=%s"
    EventTime_Event_Detail,  // "update LogFile set EventTime='%s', Event='%s', Detail='%s' where LSN=%s"
};

// The statement that gives the stored row `row.LSN` the values of `row` for
// the columns `update` names.
std::u16string Row_Update_Statement(Row_Update update, const _log_info& row);

// Runs that statement; false when the database refused it (an update that
// matches no row is not a failure).
bool Update_Earlier_Row(CppSQLite3DB& db, Row_Update update, const _log_info& row);
