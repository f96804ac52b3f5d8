// Changes of LogFile rows stored earlier in the run, made when a later log
// record shows what an earlier one meant, and by the EventTime back-fill.
// Every such change goes through here, so each value is escaped exactly once,
// when the statement is built (or bound); the caller's copy of the row stays
// unescaped.
#pragma once

#include <string>
#include <string_view>

#include "db/CppSQLite3.h"
#include "records/Records.h"

enum class Row_Update {
    Event,                   // "update LogFile set Event='%s' where LSN=%s"
    EventTime,               // "update LogFile set EventTime='%s' where LSN=%s"
    EventTime_Event_Detail,  // "update LogFile set EventTime='%s', Event='%s', Detail='%s' where LSN=%s"
};

// The texts an update writes (those its columns name) and the LSN of the row.
struct Row_Update_Values {
    std::u16string_view LSN{};
    std::u16string_view EventTime{};
    std::u16string_view Event{};
    std::u16string_view Detail{};

    static Row_Update_Values Of(const _log_info& row) { return {row.LSN, row.EventTime, row.Event, row.Detail}; }
};

// The statement that gives the stored row `row.LSN` the values of `row` for
// the columns `update` names.
std::u16string Row_Update_Statement(Row_Update update, const Row_Update_Values& values);
inline std::u16string Row_Update_Statement(Row_Update update, const _log_info& row) {
    return Row_Update_Statement(update, Row_Update_Values::Of(row));
}

// Makes that change; false when the database refused it (an update that
// matches no row is not a failure). It runs a statement kept on the
// connection with the values bound as text, which changes the row exactly as
// the statement text would; Update_Earlier_Row_As_Text runs the statement text
// itself, the way taken for an LSN that is not a plain decimal number or when
// the kept statement cannot be prepared.
bool Update_Earlier_Row(CppSQLite3DB& db, Row_Update update, const Row_Update_Values& values);
inline bool Update_Earlier_Row(CppSQLite3DB& db, Row_Update update, const _log_info& row) {
    return Update_Earlier_Row(db, update, Row_Update_Values::Of(row));
}
bool Update_Earlier_Row_As_Text(CppSQLite3DB& db, Row_Update update, const Row_Update_Values& values);
