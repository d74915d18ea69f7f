#include "tests/support/robot_test.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <opencv2/core/utils/logger.hpp>

#include "platform/clock.h"
#include "platform/keys.h"
#include "platform/runner.h"
#include "platform/terminal.h"
#include "platform/ui.h"
#include "shell/console/f_graph.h"

extern char** environ;

namespace robotest {

namespace {
std::vector<std::string> filmed;
void filmPause() {
    std::string now = platform::Terminal::instance().screenText();
    if (filmed.empty() || filmed.back() != now) filmed.push_back(std::move(now));
}

int exitStatus(pid_t child) {
    int status = 0;
    return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A pipe, not a file: a test may limit the size of the files the call writes.
int endedScreenOut = -1;
const ScreenFilm* endedFilm = nullptr;
void sendScreen() {
    const std::string text = endedFilm->text();
    for (std::size_t sent = 0; sent < text.size();) {
        const ssize_t n = write(endedScreenOut, text.data() + sent, text.size() - sent);
        if (n <= 0) return;
        sent += static_cast<std::size_t>(n);
    }
}

// An environment variable overrides the path the build compiled in.
std::string configuredPath(const char* variable, const char* built) {
    const char* value = std::getenv(variable);
    return value && *value ? value : built;
}
}  // namespace

void RobotTest::SetUp() {
    // As in the program: a one-picture recording's search for its next picture is not news.
    cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_ERROR);
    auto& terminal = platform::Terminal::instance();
    terminal.setEcho(false);
    terminal.reset();
    countLine = 7;  // the text boxes start at their top
    platform::useVirtualTime(true);
    ui::setHeadless(true);
    platform::recordCommands(true);
    platform::clearRecordedCommands();
    RobotTest::TearDown();  // the same keys and windows as after a test
}

void RobotTest::TearDown() {
    platform::useTerminalKeys();
    platform::scriptKeys("");
    ui::destroyAllWindows();
}

std::string RobotTest::row(int y) { return platform::Terminal::instance().rowText(y - 1); }
std::string RobotTest::text(int y) {
    std::string line = row(y);
    return line.erase(line.find_last_not_of(' ') + 1);
}
std::string RobotTest::screen() { return platform::Terminal::instance().screenText(); }
unsigned short RobotTest::attrAt(int x, int y) { return platform::Terminal::instance().attrAt(x - 1, y - 1); }

void expectScreen(const std::string& name, const std::string& text) {
    const std::string path = testData("screens/" + name + ".txt");
    const char* update = std::getenv("ROBOTAS_UPDATE_SCREENS");
    if (update && std::string(update) == "1") {
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream(path, std::ios::binary) << text;
        return;
    }
    EXPECT_EQ(text, readFile(path)) << "screen " << name << " (ROBOTAS_UPDATE_SCREENS=1 stores it)";
}

void expectScreen(const std::string& name) { expectScreen(name, platform::Terminal::instance().screenText()); }

ScreenFilm::ScreenFilm() {
    filmed.clear();
    platform::onVirtualSleep(filmPause);
}
ScreenFilm::~ScreenFilm() { platform::onVirtualSleep(nullptr); }
std::string ScreenFilm::text() const {
    std::string all;
    for (const std::string& screen : filmed) all += "-- pause --\n" + screen;
    return all + "-- end --\n" + platform::Terminal::instance().screenText();
}


EndedProgram runToProgramEnd(const std::function<void()>& call) {
    int ends[2];
    if (pipe(ends) != 0) return {-1, ""};
    const pid_t child = fork();
    if (child == 0) {
        close(ends[0]);
        endedScreenOut = ends[1];
        static const ScreenFilm film;
        endedFilm = &film;
        std::atexit(sendScreen);
        try {
            call();
        } catch (...) {
            std::exit(1);
        }
        std::exit(0);
    }
    close(ends[1]);
    std::string screen;
    char chunk[4096];
    for (ssize_t got; (got = read(ends[0], chunk, sizeof chunk)) > 0;) screen.append(chunk, static_cast<std::size_t>(got));
    close(ends[0]);
    return {exitStatus(child), screen};
}

ScopedWorkDir::ScopedWorkDir() {
    namespace fs = std::filesystem;
    previous_ = fs::current_path().string();
    std::string pattern = (fs::temp_directory_path() / "robotas-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) std::abort();
    path_ = pattern;
    fs::current_path(path_);
}

ScopedWorkDir::~ScopedWorkDir() {
    std::error_code ignored;  // a test that fails half-way may have left either
    std::filesystem::current_path(previous_, ignored);
    std::filesystem::remove_all(path_, ignored);
}

std::string testData(const std::string& relative) {
    return configuredPath("ROBOTAS_TESTDATA", ROBOTAS_TESTDATA_DIR) + "/" + relative;
}
std::string programPath(const std::string& name) { return configuredPath("ROBOTAS_BIN", ROBOTAS_BIN_DIR) + "/" + name; }
std::string cascadePath(const std::string& name) {
    return configuredPath("ROBOTAS_CASCADES", ROBOTAS_CASCADE_DIR) + "/" + name;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

int spawnProgram(const std::string& name, std::vector<std::string> arguments, int outFd, int errFd, int inFd) {
    arguments.insert(arguments.begin(), name.rfind("robotas", 0) == 0 ? programPath(name) : name);
    std::vector<char*> argv;
    for (std::string& word : arguments) argv.push_back(word.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    if (inFd >= 0) posix_spawn_file_actions_adddup2(&files, inFd, STDIN_FILENO);
    else posix_spawn_file_actions_addopen(&files, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (outFd >= 0) posix_spawn_file_actions_adddup2(&files, outFd, STDOUT_FILENO);
    if (errFd >= 0) posix_spawn_file_actions_adddup2(&files, errFd, STDERR_FILENO);
    pid_t child = -1;
    const int started = posix_spawnp(&child, argv[0], &files, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&files);
    return started == 0 ? child : -1;
}

bool waitUntil(const std::function<bool()>& check, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!check()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

ProgramRun runProgram(const std::string& name, const std::vector<std::string>& arguments) {
    // The output goes to files beside the test's own, so a long report cannot
    // fill a pipe that nobody reads yet.
    const std::string outPath = ".program-out.txt", errPath = ".program-err.txt";
    const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const pid_t child = spawnProgram(name, arguments, out, err);
    close(out);
    close(err);
    ProgramRun run;
    run.status = exitStatus(child);
    run.out = readFile(outPath);
    run.err = readFile(errPath);
    std::remove(outPath.c_str());
    std::remove(errPath.c_str());
    return run;
}

}  // namespace robotest
