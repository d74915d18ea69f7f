#include "tests/support/hear_peer.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "tests/support/robot_test.h"

extern char** environ;

namespace robotest {
namespace {

constexpr int kStartTimeoutMs = 5000;

std::string makeFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "robotas-hear-XXXXXX").string();
    if (!mkdtemp(pattern.data())) std::abort();
    return pattern;
}

}  // namespace

HearPeer::HearPeer(const std::string& script) : folder_(makeFolder()) {
    const std::string scriptPath = folder_ + "/script.txt";
    std::ofstream(scriptPath) << script;
    const std::string program = programPath("robotas-hear");
    const std::string logPath = folder_ + "/received.log";

    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    std::vector<std::string> args{program, "--script", scriptPath, "--log", logPath};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int status = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeEnds[1]);
    output_ = pipeEnds[0];
    if (status != 0) {
        pid_ = -1;
        startOutput_ = "cannot start " + program;
        return;
    }
    readUntilListening();
}

// The peer says "listening" once its port is bound; the rest of what it says
// is not needed (it ignores a closed output).
void HearPeer::readUntilListening() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartTimeoutMs);
    while (startOutput_.find("listening") == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd watch{output_, POLLIN, 0};
        if (poll(&watch, 1, static_cast<int>(left.count())) <= 0) break;
        char chunk[256];
        const ssize_t got = read(output_, chunk, sizeof chunk);
        if (got <= 0) break;
        startOutput_.append(chunk, static_cast<std::size_t>(got));
    }
    listening_ = startOutput_.find("listening") != std::string::npos;
    close(output_);
    output_ = -1;
}

bool HearPeer::waitForExit(int timeoutMs) {
    if (pid_ < 0 || exited_) return exited_;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
            exited_ = true;
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

std::vector<std::string> HearPeer::receivedLines() const {
    std::vector<std::string> lines;
    std::ifstream log(folder_ + "/received.log");
    for (std::string line; std::getline(log, line);) lines.push_back(line);
    return lines;
}

HearPeer::~HearPeer() {
    if (output_ >= 0) close(output_);
    if (pid_ > 0 && !exited_) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

}  // namespace robotest
