#pragma once
// Keyboard of the robot's console: single keys without echo and whole lines for
// the menus, from the terminal or, in tests, from a scripted key source.

#include <string>

namespace platform {

constexpr int kEndOfInput = -1;

// One key without echo, waiting for it; kEndOfInput when input has ended
// (standard input closed, or a scripted source that has run out).
int _getch();
// Non-zero when a key is waiting (or input has ended, so that _getch returns at once).
int _kbhit();
// Like _getch, and echoes the key on the console.
int _getche();

// One line typed and ended with Enter, echoed on the console; false at end of input
// (Ctrl-D on an empty line is the end of input there).
bool readLine(std::string& line);

// Tests: from now on keys come from this script (appended to what is left).
void scriptKeys(const std::string& keys);
// Tests: drop the script and go back to the terminal.
void useTerminalKeys();
bool scriptedKeys();

// Puts the terminal back as it was (at exit).
void restoreTerminalMode();

}  // namespace platform
