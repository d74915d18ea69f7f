// Offline work on the robot's face database, with the functions the robot uses:
//   robotas-faces learn LIST   trains facedata.xml from a list file
//   robotas-faces test LIST    recognises the pictures of a list against facedata.xml
// Both run in the working directory, where the robot keeps its database. In a
// terminal the test report is drawn on the robot's console screen; into a pipe or
// a file it is printed as plain lines, one fact a line.

#include <cstdio>
#include <string>

#include "faces/faces.h"
#include "platform/terminal.h"
#include "shell/console/f_graph.h"
#include "shell/console/program_end.h"

namespace {

int usage() {
    std::fputs("Naudojimas: robotas-faces learn SARASAS | robotas-faces test SARASAS\n", stderr);
    return 2;
}

// Faults go to standard error, so that the report itself stays only facts.
int printPlainReport(const FaceListReport& report) {
    for (const std::string& line : faceListReportLines(report)) std::printf("%s\n", line.c_str());
    std::fflush(stdout);
    if (!report.databaseFault.footer.empty())
        std::fprintf(stderr, "robotas-faces: %s\n", faultLine(report.databaseFault).c_str());
    if (!report.pictureFault.empty()) std::fprintf(stderr, "robotas-faces: %s\n", report.pictureFault.c_str());
    return report.accuracy >= 0 ? 0 : 1;
}

// The shell's prompt comes under the last row drawn, not inside the footer box.
void leaveBelowTheScreen() {
    const platform::Terminal& screen = platform::Terminal::instance();
    int last = platform::Terminal::kHeight - 1;
    while (last > 0 && screen.rowText(last).find_first_not_of(' ') == std::string::npos) --last;
    gf.gotoxy(1, last + 1);
    gf.printf("\n");
}

int drawReport(const std::string& list) {
    accuracy = -1;
    recognizeFileList(list);
    leaveBelowTheScreen();
    return accuracy >= 0 ? 0 : 1;
}

int learnDatabase(const std::string& list) {
    const int status = learn(list) ? 0 : 1;
    gf.printf("\n");
    return status;
}

}  // namespace

// The face library ends the program by throwing ProgramEnd after its message.
int main(int argc, char** argv) try {
    if (argc != 3) return usage();
    const std::string command = argv[1];
    const std::string list = argv[2];
    if (command == "learn") return learnDatabase(list);
    if (command != "test") return usage();
    if (platform::standardOutputIsTerminal()) return drawReport(list);
    return printPlainReport(testFileList(list));
} catch (const ProgramEnd& end) {
    return end.status;
}
