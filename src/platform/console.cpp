#include "platform/console.h"

#include <iostream>
#include <mutex>

#include "platform/text.h"

namespace platform {

namespace {
std::ostream* g_Console = &std::cout;
std::ostream* g_Messages = &std::cerr;
// A stage that reads its input on a thread of its own reports from there.
std::mutex g_Messages_Mutex;
}  // namespace

void Console_Write(std::string_view text) {
    g_Console->write(text.data(), static_cast<std::streamsize>(text.size()));
    g_Console->flush();
}

void Console_Write(std::u16string_view text) { Console_Write(Utf16_To_Utf8(text)); }

void Message_Box(std::u16string_view text) { Message_Line(Utf16_To_Utf8(text)); }

void Message_Line(std::string_view text) {
    std::lock_guard<std::mutex> lock(g_Messages_Mutex);
    g_Messages->write(text.data(), static_cast<std::streamsize>(text.size()));
    *g_Messages << '\n';
    g_Messages->flush();
}

Scoped_Output::Scoped_Output(std::ostream& console, std::ostream& messages)
    : previous_console_(g_Console), previous_messages_(g_Messages) {
    g_Console = &console;
    g_Messages = &messages;
}

Scoped_Output::~Scoped_Output() {
    g_Console = previous_console_;
    g_Messages = previous_messages_;
}

}  // namespace platform
