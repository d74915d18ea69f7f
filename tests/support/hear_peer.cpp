#include "tests/support/hear_peer.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/support/robot_test.h"

namespace robotest {

// The peer says "listening" once its port is bound. The wait only guards against
// a peer that never starts: a sanitizer build on a busy machine takes seconds.
constexpr int kStartTimeoutMs = 30000;

HearPeer::HearPeer(const std::string& script) {
    folder_ = (std::filesystem::temp_directory_path() / "robotas-hear-XXXXXX").string();
    if (!mkdtemp(folder_.data())) std::abort();
    std::ofstream(folder_ + "/script.txt") << script;
    const std::string outPath = folder_ + "/out.txt";
    const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    pid_ = spawnProgram("robotas-hear", {"--script", folder_ + "/script.txt", "--log", folder_ + "/received.log"}, out);
    close(out);
    if (pid_ < 0) startOutput_ = "cannot start " + programPath("robotas-hear");
    auto said = [&] { return (startOutput_ = readFile(outPath)).find("listening") != std::string::npos; };
    listening_ = pid_ > 0 && waitUntil([&] { return said() || (exited_ = waitpid(pid_, nullptr, WNOHANG) == pid_); }, kStartTimeoutMs) && said();
}

bool HearPeer::waitForExit(int timeoutMs) {
    if (pid_ > 0 && !exited_) exited_ = waitUntil([&] { return waitpid(pid_, nullptr, WNOHANG) == pid_; }, timeoutMs);
    return exited_;
}

std::vector<std::string> HearPeer::receivedLines() const {
    std::vector<std::string> lines;
    std::istringstream log(readFile(folder_ + "/received.log"));
    for (std::string line; std::getline(log, line);) lines.push_back(line);
    return lines;
}

HearPeer::~HearPeer() {
    if (pid_ > 0 && !exited_) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

}  // namespace robotest
