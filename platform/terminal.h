#pragma once
// What the standard output is: a terminal that can be redrawn in place, or a
// pipe or file that is read line by line.

namespace platform {

// Readies the standard output for the program's UTF-8 texts: a Windows
// console is switched to UTF-8 and to the escape sequences that redraw it,
// and put back as it was when the process ends (through exit, ExitAtOnce or
// a Ctrl-C that ends it). Nothing to do on POSIX terminals. Called first thing
// in main.
void PrepareStandardOutput();
// Puts the console back as PrepareStandardOutput found it, after writing out
// what the standard streams hold; nothing when it was not prepared.
void RestoreStandardOutput();
// Ends the process at once, as std::_Exit does (no destructors, no atexit
// handlers), with the console put back first.
[[noreturn]] void ExitAtOnce(int status);

// A terminal that understands the escape sequences that redraw in place.
bool StandardOutputIsTerminal();
// The terminal's size in character cells; 0 when it does not say.
int StandardOutputRows();
int StandardOutputColumns();

}  // namespace platform
