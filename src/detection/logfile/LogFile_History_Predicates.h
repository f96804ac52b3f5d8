// Questions the $LogFile timestamp rule asks about the events around the one
// it judges: did a file name pass from one file to another around it, and was
// the file moved just before or just after the change. None of them changes
// anything.
#pragma once

#include <cstddef>
#include <string>

#include "detection/logfile/LogFile_Detection_State.h"

// Whether event i's creation-time change is explained by its name passing
// between files: a file of that name deleted, renamed away or moved away
// around the time this file took the name. `created` says whether the rule
// found a creation of the file shortly before; with it, the events after
// event i are searched too. 1 = explained (normal), 0 = not; 0 at once when
// the event's detail does not name "CreationTime".
int Is_Normal_CreationTime_Change(LogFile_Detection_State& context, std::size_t i, int created);

// Whether, within two check points before event i, the same file had a time
// change, then Move_Before, then Move_After under event i's name:
// 0 = no such sequence; 1 = it began with a Time_Reversal_Event, 2 = with a
// CreationTime_Update_Event, and then `first_step_lsn` is that event's LSN
// text (otherwise it is left as it was).
int Check_Move_Sequence_Before(LogFile_Detection_State& context, std::size_t i, std::u16string& first_step_lsn);

// Whether, within two check points after event i, the file was moved
// (Move_Before under event i's name, then Move_After) and its times were
// not changed again after the move: 1 = moved so, 0 otherwise; 0 at once when
// the event's detail does not name "CreationTime".
int Check_Move_Sequence_After(LogFile_Detection_State& context, std::size_t i);
