#pragma once
// Common ground for the robot's tests: a blank in-memory console that does not
// write to the test log, virtual time, headless windows, recorded speech and
// scripted keys.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "shell/console/program_end.h"

namespace robotest {

// The status the call ends the program with, or -1 when it comes back.
template <typename Call>
int programEndStatus(Call call) {
    try {
        call();
    } catch (const ProgramEnd& end) {
        return end.status;
    }
    return -1;
}

class RobotTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    static std::string row(int y);  // console row y (1-based), code-page box bytes shown as + = |
    static std::string text(int y);  // row y without its trailing blanks
    static std::string screen();    // all rows, one line each
    static unsigned short attrAt(int x, int y);
};

// The console's 80 x 60 text against tests/data/screens/<name>.txt, byte for byte.
// ROBOTAS_UPDATE_SCREENS=1 stores the screen instead (review the diff).
void expectScreen(const std::string& name, const std::string& text);
void expectScreen(const std::string& name);  // the console as it is now

// The console at every virtual pause that shows something new, and at the end:
// a blinking warning is blank again once its pauses are over.
class ScreenFilm {
public:
    ScreenFilm();
    ~ScreenFilm();
    std::string text() const;  // the screens, each after a line "-- pause --", then the last
};

// A call that ends the program, run in a child process: its exit status (1 also
// when it ends by an exception) and the film of its console.
struct EndedProgram {
    int status = -1;
    std::string screen;
};
EndedProgram runToProgramEnd(const std::function<void()>& call);

// A folder of its own for a test, made the working directory for its lifetime.
class ScopedWorkDir {
public:
    ScopedWorkDir();
    ~ScopedWorkDir();
    const std::string& path() const { return path_; }

private:
    std::string path_, previous_;
};

std::string testData(const std::string& relative);  // tests/data (small copies in the repository)
std::string programPath(const std::string& name);   // a built program of the project, e.g. "robotas"
std::string cascadePath(const std::string& name);   // a Haar cascade of the system's vision data
std::string readFile(const std::string& path);      // empty when it cannot be read

// Starts a built program (one not named robotas... from the PATH), standard input from
// inFd (/dev/null when -1), standard output (error) on outFd (errFd) unless -1. Its pid, or -1.
int spawnProgram(const std::string& name, std::vector<std::string> arguments, int outFd = -1, int errFd = -1,
                 int inFd = -1);
// Checks every millisecond of real time until check holds or timeoutMs pass.
bool waitUntil(const std::function<bool()>& check, int timeoutMs);

// A built program run to its end in the current folder.
struct ProgramRun {
    int status = -1;  // exit status; -1 when it could not start or was killed
    std::string out, err;
};
ProgramRun runProgram(const std::string& name, const std::vector<std::string>& arguments);

}  // namespace robotest
