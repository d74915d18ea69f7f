// The real robot program in a pseudo-terminal of 80 x 60 with every device it looks for:
// the servo controller simulator, the typed-word recogniser on port 10500, recordings,
// a face database and a stand-in synthesiser first on PATH that logs its command lines.

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>

#include "tests/support/robot_test.h"
#include "tests/support/ssc32_peer.h"

namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;
using Clock = std::chrono::steady_clock;
constexpr int kColumns = 80, kRows = 60, kStepTimeoutMs = 30000;  // one step of the dialogue, in real time
const std::string kCascade = "haarcascade_frontalface_alt.xml";

Lines readLines(const std::string& path) {
    Lines lines;
    std::istringstream in(robotest::readFile(path));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}
std::size_t count(const Lines& lines, const std::string& line) {
    return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), line));
}
std::string spoken(const std::string& voice, const std::string& text) { return "[-v][" + voice + "][--][" + text + "]"; }

void writeAll(int to, const std::string& bytes) {
    ASSERT_EQ(write(to, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

// What the terminal shows: text, cursor moves and erasing replayed onto a grid
// of cells; a character beyond ASCII (the console's box lines) takes one cell as '?'.
class ScreenModel {
public:
    explicit ScreenModel(int rows) { resize(rows); }
    void resize(int rows) {
        cells_.resize(static_cast<std::size_t>(rows), std::string(kColumns, ' '));
        y_ = std::min(y_, rows - 1);
    }
    void feed(const std::string& bytes) {
        for (const char c : bytes) {
            const auto byte = static_cast<unsigned char>(c);
            if (escape_ == 1) escape_ = c == '[' ? 2 : c == ']' ? 3 : 0, parameters_.clear();  // ESC [ or ESC ] (a title)
            else if (escape_ == 2 && byte >= 0x40 && byte <= 0x7E) escape_ = 0, finish(c);
            else if (escape_ == 2) parameters_ += c;
            else if (escape_ == 3) escape_ = c == '\a' || c == '\x1b' ? 0 : 3;
            else if (c == '\x1b') escape_ = 1;
            else if (c == '\r') x_ = 0;
            else if (c == '\n') y_ = std::min(y_ + 1, rows() - 1);
            else if (byte >= 0x20 && (byte & 0xC0) != 0x80) put(byte < 0x80 ? c : '?');
        }
    }
    std::string text() const {
        std::string all;
        for (std::string line : cells_) all += line.erase(line.find_last_not_of(' ') + 1) + "\n";
        return all;
    }

private:
    int rows() const { return static_cast<int>(cells_.size()); }
    void put(char cell) {
        if (x_ >= kColumns) x_ = 0, y_ = std::min(y_ + 1, rows() - 1);  // the terminal wraps at its right edge
        cells_[static_cast<std::size_t>(y_)][static_cast<std::size_t>(x_++)] = cell;
    }
    void finish(char final) {
        const int first = std::atoi(parameters_.c_str());
        const std::size_t semicolon = parameters_.find(';');
        const int second = semicolon == std::string::npos ? 0 : std::atoi(parameters_.c_str() + semicolon + 1);
        std::string& line = cells_[static_cast<std::size_t>(y_)];
        if (final == 'H') y_ = std::clamp(first - 1, 0, rows() - 1), x_ = std::clamp(second - 1, 0, kColumns - 1);
        else if (final == 'J' && first == 2) std::fill(cells_.begin(), cells_.end(), std::string(kColumns, ' '));
        else if (final == 'K' && first == 0) line.replace(static_cast<std::size_t>(x_), std::string::npos, static_cast<std::size_t>(kColumns - x_), ' ');
    }
    std::vector<std::string> cells_;
    std::string parameters_;
    int x_ = 0, y_ = 0, escape_ = 0;  // escape_: 1 after ESC, 2 in a control sequence, 3 in a title
};

// robotas-hear reading the words the test types into its standard input.
class Recogniser {
public:
    Recogniser() {
        int words[2];
        if (pipe2(words, O_CLOEXEC) != 0) return;
        const int out = open("recogniser.out", O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        pid_ = robotest::spawnProgram("robotas-hear", {"--log", "recogniser.log"}, out, out, words[0]);
        close(out);
        close(words[0]);
        input_ = words[1];
    }
    ~Recogniser() {
        close(input_);
        if (pid_ > 0) kill(pid_, SIGTERM), waitpid(pid_, nullptr, 0);
    }
    void say(const std::string& words) { writeAll(input_, words + "\n"); }

private:
    pid_t pid_ = -1;
    int input_ = -1;
};

// The robot program on a pseudo-terminal: its screen as the user sees it.
class RobotProgram {
public:
    RobotProgram(const std::string& folder, int rows, bool virtualTime) : screen_(rows) {
        winsize size{static_cast<unsigned short>(rows), kColumns, 0, 0};
        if ((pid_ = forkpty(&terminal_, nullptr, nullptr, &size)) == 0) {
            const char* path = std::getenv("PATH");
            for (const auto& [name, value] : std::vector<std::pair<const char*, std::string>>{
                     {"PATH", folder + "/fakebin:" + (path ? path : "/usr/bin:/bin")}, {"ROBOTAS_SPEECH_LOG", folder + "/speech.log"},
                     {"ROBOTAS_NO_REALTIME", "1"}, {"ROBOTAS_HEADLESS", "1"}, {"ROBOTAS_VIRTUAL_TIME", virtualTime ? "1" : "0"}, {"TERM", "xterm"}})
                setenv(name, value.c_str(), 1);
            unsetenv("DISPLAY"), unsetenv("WAYLAND_DISPLAY");
            const std::string program = robotest::programPath("robotas");
            execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
    }
    ~RobotProgram() {
        if (pid_ > 0 && !ended_) kill(pid_, SIGKILL), waitpid(pid_, nullptr, 0);
        close(terminal_);
    }
    bool waitFor(const std::function<bool()>& done, int timeoutMs = kStepTimeoutMs) {
        return robotest::waitUntil([&] { return readOutput(), done(); }, timeoutMs);
    }
    bool waitForScreen(const std::string& text, int timeoutMs = kStepTimeoutMs) {
        return waitFor([&] { return screen().find(text) != std::string::npos; }, timeoutMs);
    }
    // The terminal's window is resized, as a person drags it larger; SIGWINCH tells the program.
    void resize(int rows) {
        readOutput();
        const winsize size{static_cast<unsigned short>(rows), kColumns, 0, 0};
        ioctl(terminal_, TIOCSWINSZ, &size);
        screen_.resize(rows);
    }
    void type(const std::string& keys) { writeAll(terminal_, keys); }
    // The exit status, or -1 when the program has not ended in time.
    int waitForExit() {
        int status = 0;
        if (!waitFor([&] { return waitpid(pid_, &status, WNOHANG) == pid_; })) return -1;
        ended_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    std::string screen() const { return screen_.text(); }

private:
    void readOutput() {
        char chunk[4096];
        for (pollfd watch{terminal_, POLLIN, 0}; poll(&watch, 1, 0) > 0 && (watch.revents & POLLIN);) {
            const ssize_t got = read(terminal_, chunk, sizeof chunk);
            if (got <= 0) return;
            screen_.feed(std::string(chunk, static_cast<std::size_t>(got)));
        }
    }
    ScreenModel screen_;
    pid_t pid_ = -1;
    int terminal_ = -1;
    bool ended_ = false;
};

class RobotProgramTest : public ::testing::Test {
protected:
    // Short recordings of the known person and a database of three persons, two
    // pictures each, as the demo prepares them; espeak-ng writes one line per call,
    // each argument in brackets, at once so that two voices at one moment do not mix.
    void SetUp() override {
        fs::copy_file(robotest::cascadePath(kCascade), kCascade);
        const robotest::ProgramRun demo = robotest::runProgram(
            "robotas-demo-data", {"--samples", robotest::testData(""), "--cascade", kCascade, "--out", ".", "--only",
                                  "faces", "--crossing", "20", "--pictures", "2"});
        ASSERT_EQ(demo.status, 0) << demo.err;
        ASSERT_EQ(robotest::runProgram("robotas-faces", {"learn", "train.txt"}).status, 0);
        fs::create_symlink("faces-right.avi", "video1");
        fs::create_symlink("faces-left.avi", "video2");
        fs::create_directory("fakebin");
        std::ofstream("fakebin/espeak-ng") << "#!/bin/sh\nline=\nfor a in \"$@\"; do line=\"$line[$a]\"; done\n"
                                              "printf '%s\\n' \"$line\" >> \"$ROBOTAS_SPEECH_LOG\"\n";
        fs::permissions("fakebin/espeak-ng", fs::perms::owner_all, fs::perm_options::add);
        servo = std::make_unique<robotest::Ssc32Simulator>(dir.path());
        ASSERT_TRUE(servo->running());
    }
    void startRobot(int rows = kRows, bool virtualTime = true) {
        robot = std::make_unique<RobotProgram>(dir.path(), rows, virtualTime);
    }
    // The words are typed when the robot shows that it listens for them.
    void sayWhenAsked(const std::string& prompt, const std::string& word) {
        ASSERT_TRUE(robot->waitForScreen(prompt)) << robot->screen();
        recogniser->say(word);
    }

    robotest::ScopedWorkDir dir;
    std::unique_ptr<robotest::Ssc32Simulator> servo;
    std::unique_ptr<Recogniser> recogniser;
    std::unique_ptr<RobotProgram> robot;
};

TEST_F(RobotProgramTest, StartsWithEveryDeviceGreetsNamesTheKnownPersonAndEndsFromTheMenu) {
    recogniser = std::make_unique<Recogniser>();
    ASSERT_TRUE(robotest::waitUntil([] { return robotest::readFile("recogniser.out").find("listening") != std::string::npos; },
                                    5000)) << robotest::readFile("recogniser.out");
    startRobot();
    sayWhenAsked("Pasakyk zodi: 'SVEIKAS' tada pasikurs", "SVEIKAS");
    EXPECT_NE(robot->screen().find("'SSC32' atsakymas i 'RS232'"), std::string::npos) << robot->screen();
    // KAS starts the known-faces mode, which greets "101_Jonas" without the ID.
    sayWhenAsked("Isrink roboto darbo rezima:", "KAS");
    const std::size_t beforeTheMode = servo->lines().size();
    const std::string greeting = spoken("lv+m4", "_Jonas"), farewell = spoken("lv+m4", "viyszo....gearroo");
    ASSERT_TRUE(robot->waitFor([&] { return count(readLines("speech.log"), greeting) == 1; })) << robot->screen();
    // The program's mechanics step turns the head after the face: the pan servo (7) goes to new places.
    EXPECT_TRUE(robot->waitFor([&] {
        std::set<std::string> panTargets;
        const Lines wire = servo->lines();
        for (std::size_t i = beforeTheMode; i < wire.size(); ++i)
            if (wire[i].rfind("#7 P", 0) == 0) panTargets.insert(wire[i].substr(0, wire[i].find(' ', 4)));
        return panTargets.size() >= 4;
    })) << "the head did not follow";
    robot->type("m");  // back to the menu; 9 ends the program
    ASSERT_TRUE(robot->waitForScreen("Isrinkite : [1-9] ir spausti - Enter")) << robot->screen();
    robot->type("9\r");
    EXPECT_EQ(robot->waitForExit(), 1) << robot->screen();
    // Every line said once: the greeting of the known person, no question to a stranger.
    ASSERT_TRUE(robot->waitFor([&] { return count(readLines("speech.log"), farewell) == 1; }));
    Lines said = readLines("speech.log"), expected = {greeting, farewell};
    for (const char* line : {"ee`szu....rroobootasz", "la'ba'sz", "kaaa......daa`ryi`tiii", "kaasz", "eiyyyy.........kaasz.......eszyy"})
        expected.push_back(spoken("lv+m4", line));
    expected.push_back(spoken("en+m4", "ashsh"));
    std::sort(said.begin(), said.end()), std::sort(expected.begin(), expected.end());
    EXPECT_EQ(said, expected);
    // On the wire: both servos switched off at the end.
    const Lines wire = servo->lines();
    ASSERT_GE(wire.size(), 2u);
    EXPECT_EQ(Lines(wire.end() - 2, wire.end()), (Lines{"#0 P0 S0 |", "#7 P0 S0 |"}));
    const Lines told = readLines("recogniser.log");
    EXPECT_EQ(told.empty() ? "" : told.back(), "DIE") << "the recogniser was told to end";
}

// A person at a terminal without a display, in real time and without a
// recogniser: the console fits a small terminal with a notice and is drawn
// whole when the terminal grows; enrolment takes n, t and Esc typed once each
// at random moments while the right camera plays at its recording's pace.
TEST_F(RobotProgramTest, EnrolsInRealTimeFromASmallTerminalWithKeysTypedOnceAtRandomMoments) {
    startRobot(30, false);
    ASSERT_TRUE(robot->waitForScreen("The console needs 80 x 60")) << robot->screen();
    ASSERT_TRUE(robot->waitForScreen("[9] Iseiti")) << robot->screen();
    EXPECT_EQ(robot->screen().find("Isrinkite"), std::string::npos) << "row 36 is below the terminal: not drawn";
    robot->resize(kRows);
    ASSERT_TRUE(robot->waitForScreen("Isrinkite : [1-9] ir spausti - Enter")) << robot->screen();
    EXPECT_EQ(robot->screen().find("The console needs"), std::string::npos) << robot->screen();

    std::mt19937 random(std::random_device{}());
    const auto typeAtARandomMoment = [&](const std::string& key, const std::string& awaited, int timeoutMs) {
        robot->waitFor([] { return false; }, std::uniform_int_distribution<int>(0, 400)(random));
        robot->type(key);
        EXPECT_TRUE(robot->waitForScreen(awaited, timeoutMs)) << key << " was lost\n" << robot->screen();
    };
    robot->type("1\r");
    ASSERT_TRUE(robot->waitForScreen("patvirtinkite (Taip=[1]/Ne=[0])")) << robot->screen();
    robot->type("1\r");
    ASSERT_TRUE(robot->waitForScreen("Nauja fizionomija spausti -[N]")) << robot->screen();
    typeAtARandomMoment("n", "ID numeris :", 5000);
    robot->type("104\rAlgis\rA1\r12345678\r12345678\r");
    ASSERT_TRUE(robot->waitForScreen("Issaugoti informacija? (y/n):")) << robot->screen();
    robot->type("y");
    const auto capturing = Clock::now();
    ASSERT_TRUE(robot->waitForScreen("Issaugoju pav.")) << robot->screen();
    typeAtARandomMoment("t", "Jusu veidas patalpintas i DB", 10000);
    const double capturedSeconds = std::chrono::duration<double>(Clock::now() - capturing).count();
    // The recording plays at 15 frames a second: never more pictures than that.
    const auto pictures = std::count_if(fs::directory_iterator("data"), fs::directory_iterator(), [](const fs::directory_entry& e) {
        return e.path().filename().string().find("_104_Algis") != std::string::npos;
    });
    EXPECT_GE(pictures, 1);
    EXPECT_LE(static_cast<double>(pictures), capturedSeconds * 15 + 2) << capturedSeconds << " s";
    typeAtARandomMoment("\x1b", "Isrinkite : [1-9] ir spausti - Enter", 5000);
    robot->type("9\r");
    EXPECT_EQ(robot->waitForExit(), 1) << robot->screen();
}

}  // namespace
