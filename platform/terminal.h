#pragma once
// What the standard output is: a terminal that can be redrawn in place, or a
// pipe or file that is read line by line.

namespace platform {

// Readies the standard output for the program's UTF-8 texts: a Windows
// console is switched to UTF-8 and to the escape sequences that redraw it.
// Nothing to do on POSIX terminals. Called first thing in main.
void PrepareStandardOutput();

// A terminal that understands the escape sequences that redraw in place.
bool StandardOutputIsTerminal();
// The terminal's size in character cells; 0 when it does not say.
int StandardOutputRows();
int StandardOutputColumns();

}  // namespace platform
