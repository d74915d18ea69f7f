#include "tests/hear/listening_hear.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "platform/socket.h"
#include "speech/client1.h"
#include "tests/support/robot_test.h"

extern char** environ;

namespace heartest {
namespace {

constexpr int kStartTimeoutMs = 10000;

using Clock = std::chrono::steady_clock;

int msLeft(Clock::time_point deadline) {
    return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
}

// Runs a program and collects its standard output.
std::string outputOf(const std::vector<std::string>& arguments) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) return "";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
    std::vector<std::string> args = arguments;
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int failed = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(ends[1]);
    std::string output;
    char chunk[4096];
    for (ssize_t got; !failed && (got = read(ends[0], chunk, sizeof chunk)) > 0;)
        output.append(chunk, static_cast<std::size_t>(got));
    close(ends[0]);
    if (!failed) waitpid(pid, nullptr, 0);
    return output;
}

void putLittle(std::string& bytes, unsigned value, int count) {
    for (int i = 0; i < count; ++i) bytes.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

}  // namespace

ListeningHear::ListeningHear(const std::vector<std::string>& arguments) {
    int inputEnds[2];
    int outputEnds[2];
    if (pipe2(inputEnds, O_CLOEXEC) != 0) return;
    if (pipe2(outputEnds, O_CLOEXEC) != 0) {
        close(inputEnds[0]);
        close(inputEnds[1]);
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, inputEnds[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, outputEnds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, outputEnds[1], STDERR_FILENO);
    const std::string program = robotest::programPath("robotas-hear");
    std::vector<std::string> args{program};
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int failed = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(inputEnds[0]);
    close(outputEnds[1]);
    input_ = inputEnds[1];
    outputPipe_ = outputEnds[0];
    if (failed) {
        pid_ = -1;
        output_ = "cannot start " + program;
        return;
    }
    signal(SIGPIPE, SIG_IGN);  // writing to a recogniser that has ended must fail, not end the test
    readUntilListening();
}

// The rest of what it says is not read: it ignores a closed output.
void ListeningHear::readUntilListening() {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kStartTimeoutMs);
    while (output_.find("listening on") == std::string::npos && msLeft(deadline) > 0) {
        pollfd watch{outputPipe_, POLLIN, 0};
        if (poll(&watch, 1, msLeft(deadline)) <= 0) break;
        char chunk[256];
        const ssize_t got = read(outputPipe_, chunk, sizeof chunk);
        if (got <= 0) break;
        output_.append(chunk, static_cast<std::size_t>(got));
    }
    listening_ = output_.find("listening on") != std::string::npos;
    close(outputPipe_);
    outputPipe_ = -1;
}

bool ListeningHear::play(const hear::Samples& samples) {
    if (input_ < 0) return false;
    return write(input_, samples.data(), samples.size() * 2) == static_cast<ssize_t>(samples.size() * 2);
}

void ListeningHear::endSound() {
    if (input_ >= 0) close(input_);
    input_ = -1;
}

int ListeningHear::waitForExit(int timeoutMs) {
    if (pid_ < 0) return status_;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    do {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            return status_;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    } while (msLeft(deadline) > 0);
    return -1;
}

ListeningHear::~ListeningHear() {
    endSound();
    if (outputPipe_ >= 0) close(outputPipe_);
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
}

hear::Samples spoken(const std::string& voice, const std::string& text) {
    hear::Samples samples;
    std::string why;
    hear::parseWav(outputOf({"espeak-ng", "-v", voice, "--stdout", "--", text}), samples, why);
    return samples;
}

hear::Samples silence(double seconds) { return hear::Samples(static_cast<std::size_t>(seconds * hear::kSampleRate)); }

std::string wavBytes(const hear::Samples& samples, int rate, int channels) {
    std::string bytes = "RIFF";
    putLittle(bytes, static_cast<unsigned>(36 + samples.size() * 2), 4);
    bytes += "WAVEfmt ";
    putLittle(bytes, 16, 4);
    putLittle(bytes, 1, 2);  // PCM
    putLittle(bytes, static_cast<unsigned>(channels), 2);
    putLittle(bytes, static_cast<unsigned>(rate), 4);
    putLittle(bytes, static_cast<unsigned>(rate * channels * 2), 4);
    putLittle(bytes, static_cast<unsigned>(channels * 2), 2);
    putLittle(bytes, 16, 2);
    bytes += "data";
    putLittle(bytes, static_cast<unsigned>(samples.size() * 2), 4);
    for (std::int16_t sample : samples) putLittle(bytes, static_cast<std::uint16_t>(sample), 2);
    return bytes;
}

RobotEar::RobotEar() : sd_(do_connect("localhost", 10500)) {}

RobotEar::~RobotEar() {
    if (connected()) platform::closeSocket(sd_);
}

std::string RobotEar::nextWord(int timeoutMs) {
    recognisedWord()[0] = '\0';
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (recognisedWord()[0] == '\0' && msLeft(deadline) > 0) {
        if (platform::waitReadable(sd_, msLeft(deadline)) != 1) break;
        do_output(sd_);
    }
    return recognisedWord();
}

bool RobotEar::waitForLine(const std::string& prefix, int timeoutMs, std::vector<std::string>* seen) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    char line[kRecogniserLineSize];
    while (msLeft(deadline) > 0) {
        if (platform::waitReadable(sd_, msLeft(deadline)) != 1) return false;
        if (!do_receive(sd_, line, kRecogniserLineSize)) return false;
        if (seen) seen->push_back(line);
        if (std::strncmp(line, prefix.c_str(), prefix.size()) == 0) return true;
    }
    return false;
}

}  // namespace heartest
