// Where the program's text goes: the console (standard output), and its error
// messages, one line each on standard error (nothing waits for an answer).
#pragma once

#include <ostream>
#include <string_view>

namespace platform {

// UTF-8 console text, written exactly as given (line ends are part of it).
void Console_Write(std::string_view text);
void Console_Write(std::u16string_view text);

// A message box becomes its text and a newline on the message stream.
void Message_Box(std::u16string_view text);
// One line on the message stream, its bytes as given (a path that is not
// UTF-8 stays as it is), then a newline. Safe from any thread.
void Message_Line(std::string_view text);

// Redirects both streams for the lifetime of the object (tests, Run_Main).
class Scoped_Output {
public:
    Scoped_Output(std::ostream& console, std::ostream& messages);
    ~Scoped_Output();
    Scoped_Output(const Scoped_Output&) = delete;
    Scoped_Output& operator=(const Scoped_Output&) = delete;

private:
    std::ostream* previous_console_;
    std::ostream* previous_messages_;
};

}  // namespace platform
