// The texts of the $LogFile timestamp findings. They are kept byte for byte,
// the odd double blank and missing closing quote of some included: readers,
// diffs and the refinement phases match on them.
#pragma once

#include <string_view>

enum class Timestamp_Message_Form {
    Plain,                  // the change alone
    Moved,                  // the change, then a move of the file
    Detected,               // time change, move, and this change again (created branch)
    Detected_By_Move_Step,  // the same sequence found by the move-sequence step
};

enum class Timestamp_Change_Kind {
    Past,            // a $STANDARD_INFORMATION time set back
    Future,          // the creation time set forward
    Reversal_First,  // detected forms: the sequence began with a time set back
    Update_First,    // detected forms: it began with the creation time set forward
};

enum class Timestamp_Variant {
    None,
    Zero,   // the new time has no 100-nanosecond part
    Using,  // the new time equals another file's in the same folder
};

// The format of one finding: the plain and moved forms take (name, detail),
// the detected forms (name, LSN of the first step, LSN of this event). The
// plain and moved forms take only Past or Future, the detected ones only
// Reversal_First or Update_First; any other pairing gives "".
std::u16string_view Timestamp_Message_Format(Timestamp_Message_Form form, Timestamp_Change_Kind kind,
                                             Timestamp_Variant variant, bool guessed);
