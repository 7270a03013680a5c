#include "platform/terminal.h"

#include <windows.h>

namespace platform {

namespace {

HANDLE Output() { return ::GetStdHandle(STD_OUTPUT_HANDLE); }

CONSOLE_SCREEN_BUFFER_INFO Window() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!::GetConsoleScreenBufferInfo(Output(), &info)) return CONSOLE_SCREEN_BUFFER_INFO{};
    return info;
}

}  // namespace

void PrepareStandardOutput() {
    // The program's texts are UTF-8 bytes; without this a console shows the
    // Chinese messages in its ANSI code page, as garbage.
    ::SetConsoleOutputCP(CP_UTF8);
    DWORD mode = 0;
    if (::GetConsoleMode(Output(), &mode))
        ::SetConsoleMode(Output(), mode | ENABLE_PROCESSED_OUTPUT | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}

// A console that would print the escape sequences as text (before Windows 10)
// counts as no terminal: its reader gets plain lines.
bool StandardOutputIsTerminal() {
    DWORD mode = 0;
    return ::GetConsoleMode(Output(), &mode) && (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

int StandardOutputRows() {
    const CONSOLE_SCREEN_BUFFER_INFO info = Window();
    return info.dwSize.X == 0 ? 0 : info.srWindow.Bottom - info.srWindow.Top + 1;
}

int StandardOutputColumns() {
    const CONSOLE_SCREEN_BUFFER_INFO info = Window();
    return info.dwSize.X == 0 ? 0 : info.srWindow.Right - info.srWindow.Left + 1;
}

}  // namespace platform
