#pragma once
// What the standard output is: a terminal that can be redrawn in place, or a
// pipe or file that is read line by line.

namespace platform {

bool StandardOutputIsTerminal();
// The terminal's size in character cells; 0 when it does not say.
int StandardOutputRows();
int StandardOutputColumns();

}  // namespace platform
