#include "tests/support/ssc32_peer.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/support/robot_test.h"

extern char** environ;

namespace robotest {
namespace {

long long realMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// Short real pauses while a peer process catches up; bounded by the callers.
void pause() { std::this_thread::sleep_for(std::chrono::milliseconds(2)); }

bool isLink(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

constexpr int kStartTimeoutMs = 5000;

}  // namespace

Ssc32Simulator::Ssc32Simulator(const std::string& dir, const std::string& linkName, const std::string& inputs)
    : dir_(dir),
      logPath_(dir + "/ssc32sim.log"),
      controlPath_(dir + "/ssc32sim.inputs"),
      statePath_(dir + "/ssc32sim.state") {
    setInputs(inputs);
    const std::string program = programPath("robotas-ssc32sim");
    std::vector<std::string> args = {program, "--dir", dir, "--name", linkName, "--log", logPath_,
                                     "--control", controlPath_, "--state", statePath_, "--exit-with-parent"};
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return;
    pid_ = pid;
    const std::string link = dir + "/" + linkName;
    const long long deadline = realMs() + kStartTimeoutMs;
    while (!isLink(link) && realMs() < deadline) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return;
        }
        pause();
    }
    if (!isLink(link)) kill();
}

Ssc32Simulator::~Ssc32Simulator() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

void Ssc32Simulator::setInputs(const std::string& reply) {
    // Written aside and renamed, so the simulator never reads half a file.
    const std::string temporary = controlPath_ + ".new";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << reply;
    }
    std::rename(temporary.c_str(), controlPath_.c_str());
}

std::vector<std::string> Ssc32Simulator::lines() const {
    std::vector<std::string> out;
    std::istringstream in(readFile(logPath_));
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

std::vector<std::string> Ssc32Simulator::waitForLines(std::size_t count, int timeoutMs) const {
    const long long deadline = realMs() + timeoutMs;
    std::vector<std::string> out = lines();
    while (out.size() < count && realMs() < deadline) {
        pause();
        out = lines();
    }
    return out;
}

std::string Ssc32Simulator::state() const { return readFile(statePath_); }

void Ssc32Simulator::kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

PtyPeer::PtyPeer(const std::string& dir, const std::string& linkName) {
    if (terminal_.open(true) && !terminal_.link(dir + "/" + linkName)) close();
}

std::size_t PtyPeer::send(const std::string& bytes) {
    if (!ok()) return 0;
    const ssize_t put = ::write(terminal_.master(), bytes.data(), bytes.size());
    return put > 0 ? static_cast<std::size_t>(put) : 0;
}

std::string PtyPeer::receive(std::size_t count, int timeoutMs) {
    std::string out;
    const long long deadline = realMs() + timeoutMs;
    while (ok() && out.size() < count) {
        long long left = deadline - realMs();
        if (left < 0) left = 0;
        pollfd watch{terminal_.master(), POLLIN, 0};
        if (::poll(&watch, 1, static_cast<int>(left)) <= 0) break;
        char buffer[512];
        const ssize_t got = ::read(terminal_.master(), buffer, sizeof buffer);
        if (got > 0) out.append(buffer, static_cast<std::size_t>(got));
        else if (got < 0 && errno != EAGAIN && errno != EINTR) break;
    }
    return out;
}

std::string PtyPeer::receiveAvailable() { return receive(static_cast<std::size_t>(-1) >> 1, 0); }

void PtyPeer::close() { terminal_.close(); }

}  // namespace robotest
