#include "platform/terminal.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace platform {

namespace {

HANDLE Output() { return ::GetStdHandle(STD_OUTPUT_HANDLE); }

CONSOLE_SCREEN_BUFFER_INFO Window() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!::GetConsoleScreenBufferInfo(Output(), &info)) return CONSOLE_SCREEN_BUFFER_INFO{};
    return info;
}

// The console's code page and mode belong to every program in it, the
// user's cmd.exe too: what Prepare changed is kept to be put back.
std::atomic<std::uint8_t> g_changed{0};
UINT g_codePage = 0;  // 0: there was no console to change
DWORD g_mode = 0;
bool g_modeChanged = false;

// Last in the console's list of handlers, so it runs only for a Ctrl-C that
// no InterruptSignals takes: the system's own handler then ends the process.
BOOL WINAPI RestoreBeforeTheEnd(DWORD) {
    RestoreStandardOutput();
    return FALSE;
}

}  // namespace

void PrepareStandardOutput() {
    if (g_changed.load() != 0) return;
    g_codePage = ::GetConsoleOutputCP();
    // The program's texts are UTF-8 bytes; without this a console shows the
    // Chinese messages in its ANSI code page, as garbage.
    ::SetConsoleOutputCP(CP_UTF8);
    g_modeChanged = ::GetConsoleMode(Output(), &g_mode) &&
                    ::SetConsoleMode(Output(), g_mode | ENABLE_PROCESSED_OUTPUT | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    g_changed.store(1);
    static const bool registered = [] {
        std::atexit(RestoreStandardOutput);
        ::SetConsoleCtrlHandler(RestoreBeforeTheEnd, TRUE);
        return true;
    }();
    (void)registered;
}

void RestoreStandardOutput() {
    if (g_changed.exchange(0) == 0) return;
    // Written in the code page they were made for.
    std::fflush(stdout);
    std::fflush(stderr);
    if (g_codePage != 0) ::SetConsoleOutputCP(g_codePage);
    if (g_modeChanged) ::SetConsoleMode(Output(), g_mode);
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
