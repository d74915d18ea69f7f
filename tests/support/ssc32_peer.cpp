#include "tests/support/ssc32_peer.h"

#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "tests/support/robot_test.h"

namespace robotest {

Ssc32Simulator::Ssc32Simulator(const std::string& dir, const std::string& linkName, const std::string& inputs)
    : dir_(dir), logPath_(dir + "/ssc32sim.log"), controlPath_(dir + "/ssc32sim.inputs"), statePath_(dir + "/ssc32sim.state") {
    setInputs(inputs);
    pid_ = spawnProgram("robotas-ssc32sim", {"--dir", dir, "--name", linkName, "--log", logPath_, "--control",
                                             controlPath_, "--state", statePath_, "--exit-with-parent"});
    const std::string link = dir + "/" + linkName;
    bool ended = false;
    auto linked = [&] {
        struct stat info {};
        return lstat(link.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
    };
    waitUntil([&] { return pid_ <= 0 || linked() || (ended = waitpid(pid_, nullptr, WNOHANG) == pid_); }, 5000);
    if (ended) pid_ = -1;
    if (!linked()) kill();
}

Ssc32Simulator::~Ssc32Simulator() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
}

void Ssc32Simulator::setInputs(const std::string& reply) {
    // Written aside and renamed, so the simulator never reads half a file.
    std::ofstream(controlPath_ + ".new", std::ios::binary | std::ios::trunc) << reply;
    std::rename((controlPath_ + ".new").c_str(), controlPath_.c_str());
}

std::vector<std::string> Ssc32Simulator::lines() const {
    std::vector<std::string> out;
    std::istringstream in(readFile(logPath_));
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

std::vector<std::string> Ssc32Simulator::waitForLines(std::size_t count, int timeoutMs) const {
    std::vector<std::string> out;
    waitUntil([&] { return (out = lines()).size() >= count; }, timeoutMs);
    return out;
}

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
    const ssize_t put = ok() ? ::write(terminal_.master(), bytes.data(), bytes.size()) : 0;
    return put > 0 ? static_cast<std::size_t>(put) : 0;
}

std::string PtyPeer::receive(std::size_t count, int timeoutMs) {
    std::string out;
    waitUntil([&] {
        pollfd watch{terminal_.master(), POLLIN, 0};
        char buffer[512];
        for (ssize_t got = 1; ok() && out.size() < count && got > 0 && ::poll(&watch, 1, 0) > 0;)
            if ((got = ::read(terminal_.master(), buffer, sizeof buffer)) > 0) out.append(buffer, static_cast<std::size_t>(got));
        return !ok() || out.size() >= count;
    }, timeoutMs);
    return out;
}

void PtyPeer::close() { terminal_.close(); }

}  // namespace robotest
