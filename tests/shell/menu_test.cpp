// The shell: start-up, shutdown, the robot-mode loop and the menus, with every
// mode and device replaced by a recording hook.

#include "shell/menu.h"

#include <gtest/gtest.h>
#include <opencv2/core/version.hpp>

#include "faces/camera/camera.h"
#include "platform/clock.h"
#include "platform/keys.h"
#include "platform/runner.h"
#include "platform/terminal.h"
#include "platform/ui.h"
#include "shell/console/f_graph.h"
#include "shell/menu_input.h"
#include "shell/modes.h"
#include "shell/startup.h"
#include "speech/speech.h"
#include "tests/support/robot_test.h"

namespace {

std::vector<std::string> ran;  // the modes the menus called, in order

// Every mode and device as the program has it, again after the test.
class StartUp : public robotest::RobotTest {
protected:
    void SetUp() override { RobotTest::SetUp(), robotModes() = RobotModes{}; }
    void TearDown() override { robotModes() = RobotModes{}, RobotTest::TearDown(); }
    std::function<void()> step(const char* name) { return [this, name] { steps.push_back(name); }; }
    std::vector<std::string> steps;  // the start-up's and shutdown's calls, in order
};

class Menus : public StartUp {
protected:
    void SetUp() override {
        StartUp::SetUp();
        ran.clear();
        RobotModes& m = robotModes();
        for (auto [mode, name] : {std::pair{&m.ivedimasiscam, "ivedimasiscam"}, {&m.VeidoAtpazinimas, "VeidoAtpazinimas"},
                                  {&m.VeidoProfilis, "VeidoProfilis"}, {&m.objsekimas, "objsekimas"},
                                  {&m.daikto_isskyrimas, "daikto_isskyrimas"}, {&m.PazistamiDaiktai, "PazistamiDaiktai"},
                                  {&m.stereoBM, "stereoBM"}, {&m.stereoGC, "stereoGC"}, {&m.kamkalibr, "kamkalibr"},
                                  {&m.ssc32inDemo, "ssc32inDemo"}, {&m.eproaktyv, "eproaktyv"},
                                  {&m.KalboaAtpazinimas_demo, "KalboaAtpazinimas_demo"}})
            *mode = [name = std::string(name)] { ran.push_back(name); };
        m.judesys = [](int a, int b) { ran.push_back("judesys " + std::to_string(a) + " " + std::to_string(b)); };
        m.judesys1 = [](int a) { ran.push_back("judesys1 " + std::to_string(a)); };
        m.trekingas = [](int a) { ran.push_back("trekingas " + std::to_string(a)); };
        m.DialogasRobRezimas = [] {
            ran.push_back("DialogasRobRezimas");
            return ran.size() == 1 ? 1 : 0;  // 1 (stay in the dialogue's menu) the first time in a walk
        };
        m.connectRecogniser = [] { ran.push_back("reinitialise"); return 1; };  // only the re-initialisation connects
        readFaceStatistics = [] {
            ran.push_back("statistics");
            return FaceStatistics{7, 12, 0.5f, 85, 3.25f, 9};
        };
        MenuInput::instance().discardLine();
    }

    // Virtual ms the main menu takes on the typed lines until the shutdown.
    static long long runMainMenu(const std::string& typed) {
        platform::useTerminalKeys();  // drops what a shutdown left unread
        MenuInput::instance().discardLine();
        platform::scriptKeys(typed);
        const long long start = platform::nowMs();
        EXPECT_EQ(robotest::programEndStatus(meniupagr), 1) << typed;
        return platform::nowMs() - start;
    }
};

TEST_F(StartUp, WithoutDevicesReportsTheMissingRecogniser) {
    long long serialDone = -1, boardStarted = -2;
    robotModes().startSerialAndServos = [&] { serialDone = platform::nowMs(); };
    robotModes().startBoard = [&] { boardStarted = platform::nowMs(); };
    const robotest::ScreenFilm film;
    sysinitas();
    EXPECT_EQ(boardStarted, serialDone);  // the board's start makes its own 100 ms pause
    robotest::expectScreen("startup-without-devices", film.text());
}

TEST_F(StartUp, ConnectedRecogniserIsReportedGreenAndPaused) {
    bool paused = false;
    robotModes().connectRecogniser = [] { return 5; };
    robotModes().pauseRecogniser = [&] { paused = true; };
    sysinitas();
    EXPECT_EQ(prisijungimas, 5);
    EXPECT_TRUE(paused);
    robotest::expectScreen("startup-recogniser-connected");
}

TEST_F(StartUp, ShutdownParksClosesTheWindowsAndExitsWithStatusOne) {
    RobotModes& m = robotModes();
    m.parkHead = step("park"), m.disconnectRecogniser = step("disconnect"), m.closeBoard = step("board"), m.closeSerialPort = step("port");
    ui::namedWindow("Desine");
    const robotest::ScreenFilm film;
    EXPECT_EQ(robotest::programEndStatus(meniupabaiga), 1);
    EXPECT_EQ(steps, (std::vector<std::string>{"park", "disconnect", "board", "port"}));
    EXPECT_FALSE(ui::windowExists("Desine"));
    robotest::expectScreen("shutdown", film.text());
}

TEST_F(StartUp, ReinitialisationLetsTheOldConnectionsGoBeforeConnectingAgain) {
    prisijungimas = 7;
    RobotModes& m = robotModes();
    m.closeSerialPort = step("port"), m.closeBoard = step("board"), m.dropRecogniserConnection = step("drop");
    m.disconnectRecogniser = step("die");  // must not be sent: it ends the recogniser
    m.connectRecogniser = [&] { return steps.push_back("connect"), 8; };
    m.startSerialAndServos = step("serial");
    const long long start = platform::nowMs();
    const robotest::ScreenFilm film;
    perkrautiInterfeisus();
    EXPECT_EQ(steps, (std::vector<std::string>{"port", "board", "drop", "connect", "serial"}));
    EXPECT_EQ(prisijungimas, 8);
    EXPECT_GE(platform::nowMs() - start, 10000);
    robotest::expectScreen("reinitialisation", film.text());
}

TEST_F(StartUp, RobotModeLoopRunsTheChosenModesAndOpensTheMenuOnZero) {
    std::vector<int> answers{1, 11, 3, 2, 0};
    std::size_t next = 0;
    ran.clear();
    robotModes().DialogasRobRezimas = [&] { return answers.at(next++); };
    bool windowsOpen = false;
    robotModes().PazistamiVeidai = [&] {
        ran.push_back("veidai");
        windowsOpen = ui::windowExists("Desine") && ui::windowPosition("Kaire") == cv::Point(plotis + 5, 10);
    };
    robotModes().Klaidziojimas = [&] { ran.push_back("klaidziojimas"); };
    robotModes().PazistamiDaiktai = [&] {
        ran.push_back("daiktai");
        keyPressed = 'm';  // the operator leaves the mode with m: the menu is next
    };
    platform::scriptKeys("9\n");
    EXPECT_EQ(robotest::programEndStatus(robotasMain), 1);
    EXPECT_EQ(ran, (std::vector<std::string>{"veidai", "klaidziojimas", "daiktai"}));
    EXPECT_EQ(next, 4u);  // the menu came after the object search; 0 was never asked
    EXPECT_EQ(ekranorezimas, 2);
    EXPECT_TRUE(windowsOpen);
}

// Every entry of every menu: the keys after the main menu's number, what it
// calls, and how long it shows its screen. Each walk goes back with 0 and ends with 9.
TEST_F(Menus, EveryEntryCallsItsMode) {
    const long long shutdownMs = runMainMenu("9\n");
    const struct { const char* keys; std::vector<std::string> calls; long long viewingMs; } entries[] = {
        {"1\n", {"ivedimasiscam"}, 0}, {"4\n", {}, 0}, {"7\n", {"statistics"}, 10000}, {"8\n", {}, 10000},
        {"2\n1\n0\n", {"VeidoAtpazinimas"}, 0}, {"2\n2\n0\n", {"VeidoProfilis"}, 0}, {"2\n3\n0\n", {"objsekimas"}, 0},
        {"2\n4\n0\n", {"judesys 1000 0"}, 0}, {"2\n5\n0\n", {"daikto_isskyrimas"}, 0}, {"2\n6\n0\n", {"PazistamiDaiktai"}, 0},
        {"2\n7\n0\n", {"trekingas 1"}, 0}, {"2\n8\n0\n", {"judesys1 1000"}, 0},
        {"3\n1\n0\n", {"stereoBM"}, 0}, {"3\n2\n0\n", {"stereoGC"}, 0}, {"3\n3\n4\n5\n6\n7\n8\n-3\n0\n", {}, 0},
        {"5\n1\n1\n", {"DialogasRobRezimas", "DialogasRobRezimas"}, 0},  // its 0 goes back to the main menu
        {"5\n2\n3\n4\n5\n6\n7\n8\n0\n", {}, 0},
        {"6\n1\n0\n", {"kamkalibr"}, 0}, {"6\n2\n3\n4\n0\n", {}, 0}, {"6\n5\n0\n", {"ssc32inDemo"}, 0},
        {"6\n6\n0\n", {"KalboaAtpazinimas_demo"}, 0}, {"6\n7\n0\n", {"eproaktyv"}, 0},
        // Nine in a sub-menu ends the program: the 1 after it is never read.
        {"2\n9\n1\n", {}, 0}, {"3\n9\n1\n", {}, 0}, {"5\n9\n1\n", {}, 0}, {"6\n9\n1\n", {}, 0},
        // A line holds more than one number, read one after the other; a sign is allowed.
        {"2 1\n0\n", {"VeidoAtpazinimas"}, 0}, {"+2\n+1\n0\n", {"VeidoAtpazinimas"}, 0},
    };
    for (const auto& entry : entries) {
        ran.clear();
        EXPECT_EQ(runMainMenu(entry.keys + std::string("9\n")) - shutdownMs, entry.viewingMs) << entry.keys;
        EXPECT_EQ(ran, entry.calls) << entry.keys;
    }
    ran.clear();
    EXPECT_GE(runMainMenu("6\n8\n0\n9\n") - shutdownMs, 10000);  // re-initialisation shows its screen 10 s
    EXPECT_EQ(ran, std::vector<std::string>{"reinitialise"});
}

// The screens as the operator reads them, with the typed number that ends each.
TEST_F(Menus, ScreensMatchTheStoredOnes) {
    const struct { const char* name; const char* typed; std::function<void()> show; } screens[] = {
        {"menu-main", "3\n", [] { EXPECT_EQ(meniu(), 3u); }},
        {"menu-robot", "3\n", [] { EXPECT_EQ(meniurobrez(), 3); }},
        {"menu-stereo", "3\n", [] { EXPECT_EQ(meniuStereo(), 3); }},
        {"menu-dialogue", "3\n", [] { EXPECT_EQ(meniudialogas(), 3); }},
        {"menu-system", "3\n", [] { EXPECT_EQ(meniusistema(), 3); }},
        {"menu-main-refused", "0\n4\n", [] { EXPECT_EQ(meniu(), 4u); }},
        {"menu-sub-refused", "12\n3\n", [] { EXPECT_EQ(meniusistema(), 3); }},
        {"about", "", [] { meniuapie(); }},
        {"statistics", "", [] { menustatistika(); }},
    };
    for (const auto& screen : screens) {
        platform::Terminal::instance().reset();
        platform::scriptKeys(screen.typed);
        MenuInput::instance().discardLine();
        const robotest::ScreenFilm film;
        screen.show();
        std::string text = film.text();
        for (std::size_t at; (at = text.find(CV_VERSION)) != std::string::npos;) text.replace(at, std::string(CV_VERSION).size(), "x.y.z");
        robotest::expectScreen(screen.name, text);
    }
}

TEST_F(Menus, RefusedNumbersBeepAndWarnOnceAndTheEndOfInputEndsTheProgram) {
    for (const std::string typed : {"0\n4\n", "10\n4\n", "abc\n4\n", "99999999999999999999\n4\n"}) {
        platform::Terminal::instance().reset();
        platform::scriptKeys(typed);
        const long long start = platform::nowMs();
        EXPECT_EQ(meniu(), 4u) << typed;
        EXPECT_EQ(platform::Terminal::instance().bellCount(), 6) << typed;
        EXPECT_EQ(platform::nowMs() - start, 4700 + 1000) << typed;  // one warning, one pause
    }
    platform::Terminal::instance().reset();
    platform::scriptKeys("\n\n  \n7\n");  // empty lines: no warning
    EXPECT_EQ(meniu(), 7u);
    EXPECT_EQ(platform::Terminal::instance().bellCount(), 0);
    platform::scriptKeys("-3\n");
    EXPECT_EQ(meniuStereo(), -3);
    // The end of the input ends the program instead of spinning.
    runMainMenu("abc\n");
    platform::Terminal::instance().reset();
    runMainMenu("\x04" "4\n");  // Ctrl-D on an empty line ends the input there
    EXPECT_EQ(platform::Terminal::instance().bellCount(), 0);
}

}  // namespace
