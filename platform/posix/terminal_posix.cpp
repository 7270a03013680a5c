#include "platform/terminal.h"

#include <sys/ioctl.h>
#include <unistd.h>

namespace platform {

namespace {
winsize Size() {
    winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0) return winsize{};
    return size;
}
}  // namespace

void PrepareStandardOutput() {}
void RestoreStandardOutput() {}

bool StandardOutputIsTerminal() { return ::isatty(STDOUT_FILENO) != 0; }
int StandardOutputRows() { return Size().ws_row; }
int StandardOutputColumns() { return Size().ws_col; }

}  // namespace platform
