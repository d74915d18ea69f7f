#include "tests/hear/listening_hear.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>

#include "platform/socket.h"
#include "speech/client1.h"
#include "tests/support/robot_test.h"

extern char** environ;

namespace heartest {
namespace {

using Clock = std::chrono::steady_clock;

int msLeft(Clock::time_point deadline) {
    return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
}

// A file of this test process's own in the temporary folder.
std::string scratch(const std::string& name) {
    return (std::filesystem::temp_directory_path() / ("robotas-hear-test-" + std::to_string(getpid()) + "-" + name)).string();
}

// Starts a program (found on the PATH) reading input (when >= 0), both its outputs to the file output.
pid_t start(std::vector<std::string> arguments, int input, const std::string& output) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (input >= 0) posix_spawn_file_actions_adddup2(&actions, input, STDIN_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    std::vector<char*> argv;
    for (std::string& a : arguments) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

}  // namespace

ListeningHear::ListeningHear(const std::vector<std::string>& arguments) : outputPath_(scratch("hear.out")) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) return;
    std::vector<std::string> words{robotest::programPath("robotas-hear")};
    words.insert(words.end(), arguments.begin(), arguments.end());
    pid_ = start(words, ends[0], outputPath_);
    close(ends[0]);
    input_ = ends[1];
    signal(SIGPIPE, SIG_IGN);  // writing to a recogniser that has ended must fail, not end the test
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(10);
    while (pid_ > 0 && (output_ = robotest::readFile(outputPath_)).find("listening on") == std::string::npos &&
           msLeft(deadline) > 0 && waitForExit(2) == -1) {
    }
    output_ = robotest::readFile(outputPath_);
    listening_ = pid_ > 0 && output_.find("listening on") != std::string::npos;
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
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (int status = 0; pid_ > 0; std::this_thread::sleep_for(std::chrono::milliseconds(2))) {
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        } else if (msLeft(deadline) <= 0) {
            return -1;
        }
    }
    return status_;
}

ListeningHear::~ListeningHear() {
    endSound();
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    std::remove(outputPath_.c_str());
}

hear::Samples spoken(const std::string& voice, const std::string& text) {
    const std::string wav = scratch("spoken.wav");
    const pid_t pid = start({"espeak-ng", "-v", voice, "-w", wav, "--", text}, -1, scratch("espeak.out"));
    if (pid > 0) waitpid(pid, nullptr, 0);
    hear::Samples samples;
    std::string why;
    hear::parseWav(robotest::readFile(wav), samples, why);
    std::remove(wav.c_str());
    std::remove(scratch("espeak.out").c_str());
    return samples;
}

hear::Samples silence(double seconds) { return hear::Samples(static_cast<std::size_t>(seconds * hear::kSampleRate)); }

std::string wavBytes(const hear::Samples& samples, int rate, int channels) {
    std::string bytes;
    const auto put = [&bytes](unsigned value, int count) {
        for (int i = 0; i < count; ++i) bytes.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    };
    const unsigned data = static_cast<unsigned>(samples.size() * 2), frame = static_cast<unsigned>(channels * 2);
    bytes += "RIFF";
    put(36 + data, 4);
    bytes += "WAVEfmt ";
    for (unsigned field : {16u, 1u | unsigned(channels) << 16}) put(field, 4);  // header size, PCM, channels
    for (unsigned field : {unsigned(rate), rate * frame, 16u << 16 | frame}) put(field, 4);  // rates, frame, bits
    bytes += "data";
    put(data, 4);
    for (std::int16_t sample : samples) put(static_cast<std::uint16_t>(sample), 2);
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
