#include "tests/hear/listening_hear.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "platform/socket.h"
#include "speech/client1.h"
#include "tests/support/robot_test.h"

extern char** environ;

namespace heartest {
namespace {

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
    const auto said = [&] { return (output_ = robotest::readFile(outputPath_)).find("listening on") != std::string::npos; };
    listening_ = pid_ > 0 && robotest::waitUntil([&] { return said() || (waitForExit(0), pid_ < 0); }, 10000) && said();
}

bool ListeningHear::play(const hear::Samples& samples) {
    return input_ >= 0 && write(input_, samples.data(), samples.size() * 2) == static_cast<ssize_t>(samples.size() * 2);
}

int ListeningHear::waitForExit(int timeoutMs) {
    int status = 0;
    if (pid_ > 0 && robotest::waitUntil([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, timeoutMs))
        pid_ = -1, status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return pid_ > 0 ? -1 : status_;
}

ListeningHear::~ListeningHear() {
    if (input_ >= 0) close(input_);
    if (pid_ > 0) kill(pid_, SIGTERM), waitpid(pid_, nullptr, 0);
    std::remove(outputPath_.c_str());
}

hear::Samples spoken(const std::string& voice, const std::string& text) {
    const std::string wav = scratch("spoken.wav"), out = scratch("espeak.out");
    const pid_t pid = start({"espeak-ng", "-v", voice, "-w", wav, "--", text}, -1, out);
    if (pid > 0) waitpid(pid, nullptr, 0);
    hear::Samples samples;
    std::string why;
    hear::parseWav(robotest::readFile(wav), samples, why);
    std::remove(wav.c_str()), std::remove(out.c_str());
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
    robotest::waitUntil([&] {
        if (platform::waitReadable(sd_, 0) == 1) do_output(sd_);
        return recognisedWord()[0] != '\0';
    }, timeoutMs);
    return recognisedWord();
}

bool RobotEar::waitForLine(const std::string& prefix, int timeoutMs, std::vector<std::string>* seen) {
    char line[kRecogniserLineSize];
    return robotest::waitUntil([&] {
        if (platform::waitReadable(sd_, 0) != 1 || !do_receive(sd_, line, kRecogniserLineSize)) return false;
        if (seen) seen->push_back(line);
        return std::strncmp(line, prefix.c_str(), prefix.size()) == 0;
    }, timeoutMs);
}

}  // namespace heartest
