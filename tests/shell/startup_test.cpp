#include "shell/startup.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/keys.h"
#include "platform/runner.h"
#include "platform/ui.h"
#include "shell/console/f_graph.h"
#include "faces/camera/camera.h"
#include "speech/speech.h"
#include "shell/modes.h"
#include "tests/support/robot_test.h"

namespace {

class StartUp : public robotest::RobotTest {
protected:
    void SetUp() override {
        RobotTest::SetUp();
        robotModes() = RobotModes{};
    }
    void TearDown() override {
        robotModes() = RobotModes{};
        RobotTest::TearDown();
    }
};

TEST_F(StartUp, WithoutDevicesReportsTheMissingRecogniserAndSpeaks) {
    long long serialDone = -1, boardStarted = -2;
    robotModes().startSerialAndServos = [&] { serialDone = platform::nowMs(); };
    robotModes().startBoard = [&] { boardStarted = platform::nowMs(); };
    const robotest::ScreenFilm film;
    sysinitas();
    EXPECT_EQ(boardStarted, serialDone);  // the board's start makes its own 100 ms pause
    robotest::expectScreen("startup-without-devices", film.text());
    const std::vector<std::string> spoken = platform::recordedCommands();
    ASSERT_EQ(spoken.size(), 2u);
    EXPECT_EQ(spoken[0], "eSpeak.exe -v en+m4  ashsh");
    EXPECT_EQ(spoken[1], "eSpeak.exe -v lv+m4  ee`szu....rroobootasz");
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

TEST_F(StartUp, ShutdownParksSaysFarewellAndExitsWithStatusOne) {
    std::vector<std::string> steps;
    robotModes().parkHead = [&] { steps.push_back("park"); };
    robotModes().disconnectRecogniser = [&] { steps.push_back("disconnect"); };
    robotModes().closeBoard = [&] { steps.push_back("board"); };
    robotModes().closeSerialPort = [&] { steps.push_back("port"); };
    ui::namedWindow("Desine");
    const robotest::ScreenFilm film;
    EXPECT_EQ(robotest::programEndStatus(meniupabaiga), 1);
    EXPECT_EQ(steps, (std::vector<std::string>{"park", "disconnect", "board", "port"}));
    EXPECT_FALSE(ui::windowExists("Desine"));
    robotest::expectScreen("shutdown", film.text());
    ASSERT_FALSE(platform::recordedCommands().empty());
    EXPECT_EQ(platform::recordedCommands().back(), "eSpeak.exe -v lv+m4 viyszo....gearroo");
}

TEST_F(StartUp, ReinitialisationLetsTheOldConnectionsGoBeforeConnectingAgain) {
    std::vector<std::string> steps;
    prisijungimas = 7;
    robotModes().closeSerialPort = [&] { steps.push_back("port"); };
    robotModes().closeBoard = [&] { steps.push_back("board"); };
    robotModes().disconnectRecogniser = [&] { steps.push_back("die"); };  // must not be sent: it ends the recogniser
    robotModes().dropRecogniserConnection = [&] { steps.push_back("drop"); };
    robotModes().connectRecogniser = [&] {
        steps.push_back("connect");
        return 8;
    };
    robotModes().startSerialAndServos = [&] { steps.push_back("serial"); };
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
    std::vector<std::string> ran;
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

}  // namespace
