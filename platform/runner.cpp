#include "platform/runner.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <mutex>

extern char** environ;

namespace platform {
namespace {

std::mutex runnerLock;
bool recording = false;
std::vector<std::string> recorded;
std::vector<pid_t> children;  // programs we started and have not reaped yet

const char* const kSynthesiserName = "eSpeak.exe";
const char* const kSynthesiserProgram = "espeak-ng";

// Reaps only our own finished children: other parts of the program (and tests)
// wait for the processes they start themselves.
void reapFinishedChildren() {
    std::lock_guard<std::mutex> guard(runnerLock);
    std::vector<pid_t> running;
    for (pid_t pid : children)
        if (waitpid(pid, nullptr, WNOHANG) == 0) running.push_back(pid);
    children.swap(running);
}

std::vector<std::string> splitAtBlanks(const std::string& text) {
    std::vector<std::string> words;
    std::string word;
    for (char c : text) {
        if (c == ' ' || c == '\t') {
            if (!word.empty()) words.push_back(word);
            word.clear();
        } else {
            word += c;
        }
    }
    if (!word.empty()) words.push_back(word);
    return words;
}

// Takes the next blank-separated word of text from position pos on.
std::string takeWord(const std::string& text, std::size_t& pos) {
    while (pos < text.size() && text[pos] == ' ') ++pos;
    const std::size_t start = pos;
    while (pos < text.size() && text[pos] != ' ') ++pos;
    return text.substr(start, pos - start);
}

}  // namespace

std::vector<std::string> commandLineToArgv(const std::string& commandLine) {
    std::size_t pos = 0;
    const std::string program = takeWord(commandLine, pos);
    if (program != kSynthesiserName) return splitAtBlanks(commandLine);

    std::vector<std::string> argv{kSynthesiserProgram};
    const std::string option = takeWord(commandLine, pos);
    if (option == "-v") {
        argv.push_back("-v");
        argv.push_back(takeWord(commandLine, pos));
    } else if (!option.empty()) {
        pos -= option.size();
    }
    while (pos < commandLine.size() && commandLine[pos] == ' ') ++pos;
    argv.push_back("--");  // a text that starts with '-' is still text
    argv.push_back(commandLine.substr(pos));
    return argv;
}

bool startProgram(const std::vector<std::string>& argv) {
    if (argv.empty() || argv[0].empty()) return false;
    reapFinishedChildren();

    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // The synthesiser reads standard input when it gets no text; give it nothing.
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int status = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (status != 0) return false;
    std::lock_guard<std::mutex> guard(runnerLock);
    children.push_back(pid);
    return true;
}

int WinExec(const std::string& commandLine, int /*showWindow*/) {
    {
        std::lock_guard<std::mutex> guard(runnerLock);
        if (recording) {
            recorded.push_back(commandLine);
            return 33;
        }
    }
    return startProgram(commandLineToArgv(commandLine)) ? 33 : 2;  // WinExec's "started" / "not found"
}

void recordCommands(bool on) {
    std::lock_guard<std::mutex> guard(runnerLock);
    recording = on;
}

std::vector<std::string> recordedCommands() {
    std::lock_guard<std::mutex> guard(runnerLock);
    return recorded;
}

void clearRecordedCommands() {
    std::lock_guard<std::mutex> guard(runnerLock);
    recorded.clear();
}

}  // namespace platform
