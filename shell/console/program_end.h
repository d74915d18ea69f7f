#pragma once
// Ending the program is the shell's decision. Code that finds the robot cannot
// go on prints why and throws ProgramEnd; main catches it and returns the
// status, so the process ends as it would from main: output flushed, the
// terminal given back.

struct ProgramEnd {
    int status;
};
