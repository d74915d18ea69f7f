#pragma once
// Starts other programs without a shell and without waiting for them.

#include <string>
#include <vector>

namespace platform {

// Starts argv[0] (looked up on PATH) with the given arguments, standard input
// from /dev/null, and returns at once; finished children are reaped. Returns
// false when the program could not be started. No shell ever sees the arguments.
bool startProgram(const std::vector<std::string>& argv);

// The robot's speech command line, "eSpeak.exe -v VOICE TEXT": the synthesiser
// runs as espeak-ng -v VOICE -- TEXT, the text being everything after the voice
// (leading blanks dropped) as one argument. Other command lines start their first
// word with the rest split at blanks. Failure is silent, as the robot expects.
int WinExec(const std::string& commandLine, int showWindow);

// How WinExec turns a command line into a program and its arguments.
std::vector<std::string> commandLineToArgv(const std::string& commandLine);

// Tests: record command lines instead of starting programs.
void recordCommands(bool on);
std::vector<std::string> recordedCommands();
void clearRecordedCommands();

}  // namespace platform
