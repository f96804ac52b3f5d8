#include "detection/logfile/LogFile_Timestamp_Messages.h"

#include <array>

namespace {

using F = Timestamp_Message_Form;
using K = Timestamp_Change_Kind;
using V = Timestamp_Variant;

struct Message_Row {
    F Form;
    K Kind;
    V Variant;
    bool Guessed;
    const char16_t* Text;
};

// Every text once. The move-sequence step has rows only where its text
// differs from the created branch's detected form; the others are shared.
constexpr std::array<Message_Row, 44> Message_Rows{{
    {F::Plain, K::Past, V::None, false,
     u"[Suspicious] $SI timestamp of \"%s\" is changed to the past. => %s"},
    {F::Plain, K::Past, V::Zero, false,
     u"[Suspicious] $SI timestamp of \"%s\" is changed to the past. (Zero in changed timestamp's 100-nanoseconds) => %s"},
    {F::Plain, K::Past, V::Using, false,
     u"[Malicious] $SI timestamp of \"%s\" is changed to the past. (Using another normal file's timestamp) => %s"},
    {F::Plain, K::Past, V::None, true,
     u"[Suspicious] $SI timestamp of \"%s\" (Guessed) is changed to the past. => %s"},
    {F::Plain, K::Past, V::Zero, true,
     u"[Suspicious] $SI timestamp of \"%s\" (Guessed) is changed to the past. (Zero in changed timestamp's 100-nanoseconds) => %s"},
    {F::Plain, K::Past, V::Using, true,
     u"[Malicious] $SI timestamp of \"%s\" (Guessed) is changed to the past. (Using another normal file's timestamp) => %s"},
    {F::Plain, K::Future, V::None, false,
     u"[Suspicious] $SI creationTime of \"%s\" is changed to the future. => %s"},
    {F::Plain, K::Future, V::Zero, false,
     u"[Suspicious] $SI creationTime of \"%s\" is changed to the future. (Zero in changed timestamp's 100-nanoseconds) => %s"},
    {F::Plain, K::Future, V::Using, false,
     u"[Malicious] $SI creationTime of \"%s\" is changed to the future. (Using another normal file's timestamp) => %s"},
    {F::Plain, K::Future, V::None, true,
     u"[Suspicious] $SI creationTime of \"%s\" (Guessed) is changed to the future. => %s"},
    {F::Plain, K::Future, V::Zero, true,
     u"[Suspicious] $SI creationTime of \"%s\" (Guessed) is changed to the future. (Zero in changed timestamp's 100-nanoseconds) => %s"},
    {F::Plain, K::Future, V::Using, true,
     u"[Malicious] $SI creationTime of \"%s\" (Guessed) is changed to the future. (Using another normal file's timestamp) => %s"},
    {F::Moved, K::Past, V::None, false,
     u"[Suspicious] $SI timestamp of \"%s\" is changed to the past and is moved. => %s"},
    {F::Moved, K::Past, V::Zero, false,
     u"[Malicious] $SI timestamp of \"%s\" is changed to the past and is moved. (Zero in changed timestamp's 100-nanoseconds) => %s"},
    {F::Moved, K::Past, V::Using, false,
     u"[Malicious] $SI timestamp of \"%s\" is changed to the past and is moved. (Using another normal file's timestamp) => %s"},
    {F::Moved, K::Past, V::None, true,
     u"[Suspicious] $SI timestamp of \"%s\" (Guessed) is changed to the past and is moved. => %s"},
    {F::Moved, K::Past, V::Zero, true,
     u"[Malicious] $SI timestamp of \"%s\" (Guessed) is changed to the past and is moved. (Zero in changed timestamp's 100-nanoseconds) => %s"},
    {F::Moved, K::Past, V::Using, true,
     u"[Malicious] $SI timestamp of \"%s\" (Guessed) is changed to the past and is moved. (Using another normal file's timestamp) => %s"},
    {F::Moved, K::Future, V::None, false,
     u"[Suspicious] $SI creationTime of \"%s\" is changed to the future and is moved. => %s"},
    {F::Moved, K::Future, V::Zero, false,
     u"[Malicious] $SI creationTime of \"%s\" is changed to the future and is moved. (Zero in changed timestamp's 100-nanoseconds) => %s"},
    {F::Moved, K::Future, V::Using, false,
     u"[Malicious] $SI creationTime of \"%s\" is changed to the future and is moved. (Using another normal file's timestamp) => %s"},
    {F::Moved, K::Future, V::None, true,
     u"[Suspicious] $SI creationTime of \"%s\" (Guessed) is changed to the future and is moved. => %s"},
    {F::Moved, K::Future, V::Zero, true,
     u"[Malicious] $SI creationTime of \"%s\" (Guessed) is changed to the future and is moved. (Zero in changed timestamp's 100-nanoseconds) => %s"},
    {F::Moved, K::Future, V::Using, true,
     u"[Malicious] $SI creationTime of \"%s\" (Guessed) is changed to the future and is moved. (Using another normal file's timestamp) => %s"},
    {F::Detected, K::Reversal_First, V::None, false,
     u"[Malicious] $SI, $FN timestamp manipulation of \"%s\" is detected. (Time Reversal Event(%s) -> Move(Before) -> Move(After) -> Time Reversal Event(%s))"},
    {F::Detected, K::Reversal_First, V::Zero, false,
     u"[Malicious] $SI, $FN timestamp manipulation of \"%s\" is detected. (Time Reversal Event(%s) -> Move(Before) -> Move(After) -> Time Reversal Event(%s)) (Zero in changed timestamp's 100-nanoseconds)"},
    {F::Detected, K::Reversal_First, V::Using, false,
     u"[Malicious] $SI, $FN timestamp manipulation of \"%s\" is detected. (Time Reversal Event(%s) -> Move(Before) -> Move(After) -> Time Reversal Event(%s)) (Using another normal file's timestamp)"},
    {F::Detected, K::Reversal_First, V::None, true,
     u"[Malicious] $SI, $FN timestamp manipulation of \"%s\" (Guessed) is detected. (Time Reversal Event(%s) -> Move(Before) -> Move(After) -> Time Reversal Event(%s))"},
    {F::Detected, K::Reversal_First, V::Zero, true,
     u"[Malicious] $SI, $FN timestamp manipulation of \"%s\" (Guessed) is detected. (Time Reversal Event(%s) -> Move(Before) -> Move(After) -> Time Reversal Event(%s)) (Zero in changed timestamp's 100-nanoseconds)"},
    {F::Detected, K::Reversal_First, V::Using, true,
     u"[Malicious] $SI, $FN timestamp manipulation of \"%s\" (Guessed) is detected. (Time Reversal Event(%s) -> Move(Before) -> Move(After) -> Time Reversal Event(%s)) (Using another normal file's timestamp)"},
    {F::Detected, K::Update_First, V::None, false,
     u"[Malicious] $SI, $FN timestamp manipulation of \"%s\" is detected. (CreationTime Update Event(%s) -> Move(Before) -> Move(After) -> Time Reversal Event(%s))"},
    {F::Detected, K::Update_First, V::Zero, false,
     u"[Malicious] $SI, $FN timestamp manipulation of \"%s\" is detected. (CreationTime Update Event(%s) -> Move(Before) -> Move(After) -> Time Reversal Event(%s)) (Zero in changed timestamp's 100-nanoseconds)"},
    {F::Detected, K::Update_First, V::Using, false,
     u"[Malicious] $SI, $FN timestamp manipulation of \"%s\" is detected. (CreationTime Update Event(%s) -> Move(Before) -> Move(After) -> Time Reversal Event(%s)) (Using another normal file's timestamp)"},
    {F::Detected, K::Update_First, V::None, true,
     u"[Malicious] $SI, $FN timestamp manipulation of \"%s\" (Guessed) is detected. (CreationTime Update Event(%s) -> Move(Before) -> Move(After) -> Time Reversal Event(%s))"},
    {F::Detected, K::Update_First, V::Zero, true,
     u"[Malicious] $SI, $FN timestamp manipulation of \"%s\" (Guessed) is detected. (CreationTime Update Event(%s) -> Move(Before) -> Move(After) -> Time Reversal Event(%s)) (Zero in changed timestamp's 100-nanoseconds)"},
    {F::Detected, K::Update_First, V::Using, true,
     u"[Malicious] $SI, $FN timestamp manipulation of \"%s\" (Guessed) is detected. (CreationTime Update Event(%s) -> Move(Before) -> Move(After) -> Time Reversal Event(%s)) (Using another normal file's timestamp)"},
    {F::Detected_By_Move_Step, K::Reversal_First, V::Using, false,
     u"[Malicious] $SI, $FN timestamp manipulation of \"%s\" is detected. (Time Reversal Event(%s) -> Move(Before) -> Move(After) -> Time Reversal Event(%s))  (Using another normal file's timestamp)"},
    {F::Detected_By_Move_Step, K::Update_First, V::Using, false,
     u"[Malicious] $SI, $FN timestamp manipulation of \"%s\" is detected. (CreationTime Update Event(%s) -> Move(Before) -> Move(After) -> Time Reversal Event(%s))  (Using another normal file's timestamp)"},
    {F::Detected_By_Move_Step, K::Reversal_First, V::None, true,
     u"[Malicious] $SI, $FN timestamp manipulation of \"%s (Guessed) is detected. (Time Reversal Event(%s) -> Move(Before) -> Move(After) -> Time Reversal Event(%s))"},
    {F::Detected_By_Move_Step, K::Reversal_First, V::Zero, true,
     u"[Malicious] $SI, $FN timestamp manipulation of \"%s (Guessed) is detected. (Time Reversal Event(%s) -> Move(Before) -> Move(After) -> Time Reversal Event(%s)) (Zero in changed timestamp's 100-nanoseconds)"},
    {F::Detected_By_Move_Step, K::Reversal_First, V::Using, true,
     u"[Malicious] $SI, $FN timestamp manipulation of \"%s (Guessed) is detected. (Time Reversal Event(%s) -> Move(Before) -> Move(After) -> Time Reversal Event(%s)) (Using another normal file's timestamp)"},
    {F::Detected_By_Move_Step, K::Update_First, V::None, true,
     u"[Malicious] $SI, $FN timestamp manipulation of \"%s (Guessed) is detected. (CreationTime Update Event(%s) -> Move(Before) -> Move(After) -> Time Reversal Event(%s))"},
    {F::Detected_By_Move_Step, K::Update_First, V::Zero, true,
     u"[Malicious] $SI, $FN timestamp manipulation of \"%s (Guessed) is detected. (CreationTime Update Event(%s) -> Move(Before) -> Move(After) -> Time Reversal Event(%s)) (Zero in changed timestamp's 100-nanoseconds)"},
    {F::Detected_By_Move_Step, K::Update_First, V::Using, true,
     u"[Malicious] $SI, $FN timestamp manipulation of \"%s (Guessed) is detected. (CreationTime Update Event(%s) -> Move(Before) -> Move(After) -> Time Reversal Event(%s)) (Using another normal file's timestamp)"},
}};

}  // namespace

std::u16string_view Timestamp_Message_Format(Timestamp_Message_Form form, Timestamp_Change_Kind kind,
                                             Timestamp_Variant variant, bool guessed) {
    const auto find = [&](F wanted) -> const char16_t* {
        for (const Message_Row& row : Message_Rows)
            if (row.Form == wanted && row.Kind == kind && row.Variant == variant && row.Guessed == guessed)
                return row.Text;
        return nullptr;
    };
    const char16_t* text = find(form);
    if (text == nullptr && form == F::Detected_By_Move_Step) text = find(F::Detected);
    return text == nullptr ? std::u16string_view() : std::u16string_view(text);
}
