// The real robot program in a pseudo-terminal of 80 x 60, with every device it
// looks for present: the servo controller simulator on COM2, the typed-word
// recogniser on port 10500,
// recordings as video1/video2, a face database in the
// working directory, and a stand-in synthesiser first on PATH that writes each
// command line it gets to a file. Keys are typed into the terminal; words into
// the recogniser. Time in the program is virtual, so its pauses pass at once.

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/screen_model.h"
#include "tests/support/robot_test.h"
#include "tests/support/ssc32_peer.h"

namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;
using Clock = std::chrono::steady_clock;

constexpr int kColumns = 80, kRows = 60;
constexpr int kStepTimeoutMs = 30000;  // one step of the dialogue, in real time

using robotest::readFile;

Lines readLines(const std::string& path) {
    Lines lines;
    std::istringstream in(readFile(path));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

bool waitUntil(const std::function<bool()>& done, int timeoutMs, const std::function<void()>& meanwhile = [] {}) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (Clock::now() > deadline) return false;
        meanwhile();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

std::string cascadeFile() {
    const std::string configured = robotest::cascadePath("haarcascade_frontalface_alt.xml");
    if (fs::exists(configured)) return configured;
    return "/usr/share/opencv4/haarcascades/haarcascade_frontalface_alt.xml";
}

// Runs a tool in a folder and waits for it; its output goes to a log there.
int runIn(const std::string& folder, Lines args) {
    const pid_t pid = fork();
    if (pid == 0) {
        const int log = open((folder + "/tools.log").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (chdir(folder.c_str()) != 0 || log < 0) _exit(127);
        dup2(log, STDOUT_FILENO);
        dup2(log, STDERR_FILENO);
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The robot's working directory as the demo prepares it, in a folder of the test's own.
class DemoWorkDir {
public:
    DemoWorkDir() {
        std::string pattern = (fs::temp_directory_path() / "robotas-e2e-XXXXXX").string();
        if (!mkdtemp(pattern.data())) std::abort();
        path_ = pattern;
    }
    ~DemoWorkDir() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

    // Short recordings of the known person and a database of three persons, two
// pictures each (the recordings show the same two).
    bool prepare() {
        fs::copy_file(cascadeFile(), file("haarcascade_frontalface_alt.xml"));
        if (runIn(path_, {robotest::programPath("robotas-demo-data"), "--samples", robotest::testData(""), "--cascade",
                          cascadeFile(), "--out", ".", "--only", "faces", "--crossing", "20", "--pictures", "2"}) != 0)
            return false;
        if (runIn(path_, {robotest::programPath("robotas-faces"), "learn", "train.txt"}) != 0) return false;
        fs::create_symlink("faces-right.avi", file("video1"));
        fs::create_symlink("faces-left.avi", file("video2"));
        return fs::exists(file("facedata.xml")) && installSpeechRecorder();
    }

    // espeak-ng first on PATH: one line per call, each argument in brackets,
    // written at once so that two voices at the same moment do not mix.
    bool installSpeechRecorder() {
        fs::create_directory(file("fakebin"));
        std::ofstream(file("fakebin/espeak-ng"))
            << "#!/bin/sh\nline=\nfor a in \"$@\"; do line=\"$line[$a]\"; done\n"
               "printf '%s\\n' \"$line\" >> \"$ROBOTAS_SPEECH_LOG\"\n";
        return chmod(file("fakebin/espeak-ng").c_str(), 0755) == 0;
    }

    Lines speech() const { return readLines(file("speech.log")); }

private:
    std::string path_;
};

// robotas-hear reading the words the test types into its standard input.
class Recogniser {
public:
    explicit Recogniser(const std::string& folder)
        : log_(folder + "/recogniser.log"), output_(folder + "/recogniser.out") {
        Lines options = {"--log", log_};
        int words[2];
        if (pipe(words) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            const int out = open(output_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(words[0], STDIN_FILENO);
            dup2(out, STDOUT_FILENO);
            dup2(out, STDERR_FILENO);
            close(words[1]);
            std::string program = robotest::programPath("robotas-hear");
            std::vector<char*> argv{program.data()};
            for (std::string& option : options) argv.push_back(option.data());
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(words[0]);
        input_ = words[1];
        listening_ = waitUntil([&] { return readFile(output_).find("listening") != std::string::npos; }, 5000);
    }
    ~Recogniser() {
        if (input_ >= 0) close(input_);
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    bool listening() const { return listening_; }
    void say(const std::string& words) {
        const std::string line = words + "\n";
        ASSERT_EQ(write(input_, line.data(), line.size()), static_cast<ssize_t>(line.size()));
    }
    // Every line the robot sent.
    Lines received() const { return readLines(log_); }
    // What the recogniser printed.
    std::string output() const { return readFile(output_); }

private:
    std::string log_, output_;
    pid_t pid_ = -1;
    int input_ = -1;
    bool listening_ = false;
};

struct RobotOptions {
    int rows = kRows;
    bool virtualTime = true;
};

// The robot program on a pseudo-terminal: its screen as the user sees it.
class RobotProgram {
public:
    RobotProgram(const DemoWorkDir& work, RobotOptions options = {}) : screen_(kColumns, options.rows) {
        winsize size{};
        size.ws_col = kColumns;
        size.ws_row = static_cast<unsigned short>(options.rows);
        pid_ = forkpty(&terminal_, nullptr, nullptr, &size);
        if (pid_ == 0) {
            if (chdir(work.path().c_str()) != 0) _exit(127);
            const std::string path = work.file("fakebin") + ":" + (std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin");
            setenv("PATH", path.c_str(), 1);
            setenv("ROBOTAS_SPEECH_LOG", work.file("speech.log").c_str(), 1);
            setenv("ROBOTAS_NO_REALTIME", "1", 1);
            setenv("ROBOTAS_HEADLESS", "1", 1);
            setenv("ROBOTAS_VIRTUAL_TIME", options.virtualTime ? "1" : "0", 1);
            setenv("TERM", "xterm", 1);
            unsetenv("DISPLAY");
            unsetenv("WAYLAND_DISPLAY");
            const std::string program = robotest::programPath("robotas");
            execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
    }
    ~RobotProgram() {
        if (pid_ > 0 && !ended_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (terminal_ >= 0) close(terminal_);
    }
    bool started() const { return pid_ > 0; }

    // Takes what the program has written so far.
    void readOutput() {
        char chunk[4096];
        for (;;) {
            pollfd watch{terminal_, POLLIN, 0};
            if (poll(&watch, 1, 0) <= 0 || !(watch.revents & POLLIN)) return;
            const ssize_t got = read(terminal_, chunk, sizeof chunk);
            if (got <= 0) return;
            screen_.feed(std::string(chunk, static_cast<std::size_t>(got)));
        }
    }

    bool waitForScreen(const std::string& text, int timeoutMs = kStepTimeoutMs) {
        return waitUntil([&] { return screen_.text().find(text) != std::string::npos; }, timeoutMs, [&] { readOutput(); });
    }
    // Waits for a condition outside the terminal while keeping the screen current.
    bool waitFor(const std::function<bool()>& done, int timeoutMs = kStepTimeoutMs) {
        return waitUntil(done, timeoutMs, [&] { readOutput(); });
    }

    // The terminal's window is resized, as a person drags it larger.
    void resize(int rows) {
        readOutput();
        winsize size{};
        size.ws_col = kColumns;
        size.ws_row = static_cast<unsigned short>(rows);
        ioctl(terminal_, TIOCSWINSZ, &size);  // the program is told by SIGWINCH
        screen_.resize(kColumns, rows);
    }

    void type(const std::string& keys) {
        ASSERT_EQ(write(terminal_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
    }

    // The exit status, or -1 when the program has not ended in time.
    int waitForExit(int timeoutMs = kStepTimeoutMs) {
        int status = 0;
        const bool ended = waitFor([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, timeoutMs);
        if (!ended) return -1;
        ended_ = true;
        readOutput();
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    std::string row(int y) const { return screen_.row(y); }
    std::string screen() const { return screen_.text(); }

private:
    e2e::ScreenModel screen_;
    pid_t pid_ = -1;
    int terminal_ = -1;
    bool ended_ = false;
};

std::string spoken(const std::string& voice, const std::string& text) { return "[-v][" + voice + "][--][" + text + "]"; }

std::size_t count(const Lines& lines, const std::string& line) {
    return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), line));
}

class RobotProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(work.prepare()) << readFile(work.file("tools.log"));
        servo = std::make_unique<robotest::Ssc32Simulator>(work.path());
        ASSERT_TRUE(servo->running());
    }

    // The typed-word recogniser, then the robot.
    void start() {
        recogniser = std::make_unique<Recogniser>(work.path());
        ASSERT_TRUE(recogniser->listening()) << recogniser->output();
        robot = std::make_unique<RobotProgram>(work);
        ASSERT_TRUE(robot->started());
    }

    // The known-faces mode has started when the robot greets the person in
    // the recording by name ("101_Jonas" without its ID) and shows the name.
    void expectKnownFacesModeGreetsJonas() {
        const std::string greeting = spoken("lv+m4", "_Jonas");
        ASSERT_TRUE(robot->waitFor([&] { return count(work.speech(), greeting) == 1; })) << robot->screen();
        EXPECT_TRUE(robot->waitForScreen("101_Jonas")) << robot->screen();
    }

    // The words are typed when the robot shows that it listens for them.
    void sayWhenAsked(const std::string& prompt, const std::string& word) {
        ASSERT_TRUE(robot->waitForScreen(prompt)) << robot->screen();
        recogniser->say(word);
    }

    DemoWorkDir work;
    std::unique_ptr<robotest::Ssc32Simulator> servo;
    std::unique_ptr<Recogniser> recogniser;
    std::unique_ptr<RobotProgram> robot;
};

TEST_F(RobotProgramTest, StartsWithEveryDeviceGreetsNamesTheKnownPersonAndEndsFromTheMenu) {
    start();
    // Start-up: every device answers.
    sayWhenAsked("Pasakyk zodi: 'SVEIKAS' tada pasikurs", "SVEIKAS");
    EXPECT_NE(robot->screen().find("PRISIJUNGE prie 'JULIUS' serverio"), std::string::npos) << robot->screen();
    EXPECT_NE(robot->screen().find("'SSC32' atsakymas i 'RS232'"), std::string::npos) << robot->screen();

    // SVEIKAS is answered and the robot asks what to do; KAS starts the known-faces
    // mode, which names the person in the recording.
    sayWhenAsked("Isrink roboto darbo rezima:", "KAS");
    const Lines beforeTheMode = servo->lines();
    expectKnownFacesModeGreetsJonas();
    const std::string greeting = spoken("lv+m4", "_Jonas");

    // The head follows the face across the picture: the pan servo (channel 7) is
    // sent to new places while the mode runs.
    auto panTargets = [&] {
        const Lines wire = servo->lines();
        std::set<std::string> targets;
        for (std::size_t i = beforeTheMode.size(); i < wire.size(); ++i)
            if (wire[i].rfind("#7 P", 0) == 0) targets.insert(wire[i].substr(0, wire[i].find(' ', 4)));
        return targets.size();
    };
    EXPECT_TRUE(robot->waitFor([&] { return panTargets() >= 4; })) << panTargets();

    // m leaves the mode for the menu; 9 ends the program.
    robot->type("m");
    ASSERT_TRUE(robot->waitForScreen("Isrinkite : [1-9] ir spausti - Enter")) << robot->screen();
    EXPECT_NE(robot->screen().find("[9] Iseiti"), std::string::npos);
    robot->type("9\r");
    EXPECT_EQ(robot->waitForExit(), 1) << robot->screen();

    // What the robot said: every line once, the greeting of the known person
    // and no question to a stranger among them.
    const std::string farewell = spoken("lv+m4", "viyszo....gearroo");
    ASSERT_TRUE(robot->waitFor([&] { return count(work.speech(), farewell) == 1; }));
    Lines said = work.speech();
    std::sort(said.begin(), said.end());
    Lines expected = {spoken("en+m4", "ashsh"), spoken("lv+m4", "ee`szu....rroobootasz"), spoken("lv+m4", "la'ba'sz"),
                      spoken("lv+m4", "kaaa......daa`ryi`tiii"), spoken("lv+m4", "kaasz"),
                      spoken("lv+m4", "eiyyyy.........kaasz.......eszyy"), greeting, farewell};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(said, expected);

    // On the wire: the probe, the head centred, and both servos switched off at the end.
    const Lines wire = servo->lines();
    ASSERT_GE(wire.size(), 5u);
    EXPECT_NE(wire.front().find("ver"), std::string::npos) << wire.front();
    EXPECT_GE(count(wire, "#7 P1400 S400 |"), 1u);
    EXPECT_GE(count(wire, "#0 P1850 S300 |"), 1u);
    EXPECT_EQ(Lines(wire.end() - 2, wire.end()), (Lines{"#0 P0 S0 |", "#7 P0 S0 |"}));

    // The recogniser was told to end.
    ASSERT_FALSE(recogniser->received().empty());
    EXPECT_EQ(recogniser->received().back(), "DIE");
}

// A person at a terminal without a display, in real time and without a
// recogniser: the console fits a small terminal with a notice and is drawn
// whole when the terminal grows; enrolment takes n, t and Esc typed once each
// at random moments while the right camera plays at its recording's pace.
TEST_F(RobotProgramTest, EnrolsInRealTimeFromASmallTerminalWithKeysTypedOnceAtRandomMoments) {
    robot = std::make_unique<RobotProgram>(work, RobotOptions{30, false});
    ASSERT_TRUE(robot->started());
    ASSERT_TRUE(robot->waitForScreen("The console needs 80 x 60")) << robot->screen();
    ASSERT_TRUE(robot->waitForScreen("[9] Iseiti")) << robot->screen();
    EXPECT_EQ(robot->screen().find("Isrinkite"), std::string::npos) << "row 36 is below the terminal: not drawn";
    robot->resize(kRows);
    ASSERT_TRUE(robot->waitForScreen("Isrinkite : [1-9] ir spausti - Enter")) << robot->screen();
    EXPECT_EQ(robot->screen().find("The console needs"), std::string::npos) << robot->screen();

    std::mt19937 random(std::random_device{}());
    auto typeOnceAtARandomMoment = [&](const std::string& key) {
        const int pauseMs = std::uniform_int_distribution<int>(0, 400)(random);
        robot->waitFor([] { return false; }, pauseMs);
        robot->type(key);
    };
    robot->type("1\r");
    ASSERT_TRUE(robot->waitForScreen("patvirtinkite (Taip=[1]/Ne=[0])")) << robot->screen();
    robot->type("1\r");
    ASSERT_TRUE(robot->waitForScreen("Nauja fizionomija spausti -[N]")) << robot->screen();
    typeOnceAtARandomMoment("n");
    ASSERT_TRUE(robot->waitForScreen("ID numeris :", 5000)) << "n was lost\n" << robot->screen();
    robot->type("104\rAlgis\rA1\r12345678\r12345678\r");
    ASSERT_TRUE(robot->waitForScreen("Issaugoti informacija? (y/n):")) << robot->screen();
    robot->type("y");
    const auto capturing = Clock::now();
    ASSERT_TRUE(robot->waitForScreen("Issaugoju pav.")) << robot->screen();
    typeOnceAtARandomMoment("t");
    ASSERT_TRUE(robot->waitForScreen("Jusu veidas patalpintas i DB", 10000)) << "t was lost\n" << robot->screen();
    const double capturedSeconds = std::chrono::duration<double>(Clock::now() - capturing).count();

    // The recording plays at 15 frames a second: never more pictures than that.
    std::size_t pictures = 0;
    for (const auto& entry : fs::directory_iterator(work.file("data")))
        if (entry.path().filename().string().find("_104_Algis") != std::string::npos) ++pictures;
    EXPECT_GE(pictures, 1u);
    EXPECT_LE(static_cast<double>(pictures), capturedSeconds * 15 + 2) << capturedSeconds << " s";

    typeOnceAtARandomMoment("\x1b");
    ASSERT_TRUE(robot->waitForScreen("Isrinkite : [1-9] ir spausti - Enter", 5000)) << "Esc was lost";
    robot->type("9\r");
    EXPECT_EQ(robot->waitForExit(), 1) << robot->screen();
}

}  // namespace
