#include "shell/menu.h"

#include <gtest/gtest.h>
#include <opencv2/core/version.hpp>

#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/keys.h"
#include "platform/terminal.h"
#include "shell/console/f_graph.h"
#include "shell/menu_input.h"
#include "shell/modes.h"
#include "tests/support/robot_test.h"

namespace {

std::vector<std::string> ran;  // the modes the menus called, in order

class Menus : public robotest::RobotTest {
protected:
    void SetUp() override {
        RobotTest::SetUp();
        ran.clear();
        RobotModes& m = robotModes();
        m = RobotModes{};
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
        m.DialogasRobRezimas = [] { ran.push_back("DialogasRobRezimas"); return 0; };
        m.connectRecogniser = [] { ran.push_back("reinitialise"); return 1; };  // only the re-initialisation connects
        readFaceStatistics = [] {
            ran.push_back("statistics");
            FaceStatistics stats;
            stats.noofegineface = 7;
            stats.nooftraingimage = 12;
            stats.confi = 0.5f;
            stats.accuracy = 85;
            stats.detectiontime = 3.25f;
            stats.detectfacetime = 9;
            return stats;
        };
        MenuInput::instance().discardLine();
    }
    void TearDown() override {
        robotModes() = RobotModes{};
        RobotTest::TearDown();
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

// Every entry of every menu: the keys after the main menu's number, what it
// calls, and how long it shows its screen. Each walk goes back with 0 and ends with 9.
TEST_F(Menus, EveryEntryCallsItsMode) {
    const long long shutdownMs = runMainMenu("9\n");
    const struct {
        const char* keys;
        std::vector<std::string> calls;
        long long viewingMs;
    } entries[] = {
        {"1\n", {"ivedimasiscam"}, 0},
        {"2\n1\n0\n", {"VeidoAtpazinimas"}, 0},
        {"2\n2\n0\n", {"VeidoProfilis"}, 0},
        {"2\n3\n0\n", {"objsekimas"}, 0},
        {"2\n4\n0\n", {"judesys 1000 0"}, 0},
        {"2\n5\n0\n", {"daikto_isskyrimas"}, 0},
        {"2\n6\n0\n", {"PazistamiDaiktai"}, 0},
        {"2\n7\n0\n", {"trekingas 1"}, 0},
        {"2\n8\n0\n", {"judesys1 1000"}, 0},
        {"3\n1\n0\n", {"stereoBM"}, 0},
        {"3\n2\n0\n", {"stereoGC"}, 0},
        {"3\n3\n4\n5\n6\n7\n8\n-3\n0\n", {}, 0},
        {"4\n", {}, 0},
        {"5\n1\n", {"DialogasRobRezimas"}, 0},  // the dialogue's 0 goes back to the main menu
        {"5\n2\n3\n4\n5\n6\n7\n8\n0\n", {}, 0},
        {"6\n1\n0\n", {"kamkalibr"}, 0},
        {"6\n2\n3\n4\n0\n", {}, 0},
        {"6\n5\n0\n", {"ssc32inDemo"}, 0},
        {"6\n6\n0\n", {"KalboaAtpazinimas_demo"}, 0},
        {"6\n7\n0\n", {"eproaktyv"}, 0},
        {"7\n", {"statistics"}, 10000},
        {"8\n", {}, 10000},
    };
    for (const auto& entry : entries) {
        ran.clear();
        EXPECT_EQ(runMainMenu(entry.keys + std::string("9\n")) - shutdownMs, entry.viewingMs) << entry.keys;
        EXPECT_EQ(ran, entry.calls) << entry.keys;
    }
    ran.clear();
    EXPECT_GE(runMainMenu("6\n8\n0\n9\n") - shutdownMs, 10000);  // re-initialisation shows its screen 10 s
    EXPECT_EQ(ran, std::vector<std::string>{"reinitialise"});
    // Nine in a sub-menu ends the program: the 1 after it is never read.
    for (const char* subMenu : {"2", "3", "5", "6"}) {
        ran.clear();
        runMainMenu(subMenu + std::string("\n9\n1\n"));
        EXPECT_EQ(ran, std::vector<std::string>{}) << subMenu;
    }
}

TEST_F(Menus, DialogueEntryStaysOnlyWhenTheDialogueAnswersOne) {
    std::vector<int> answers{1, 0};
    int calls = 0;
    robotModes().DialogasRobRezimas = [&] { return answers[calls++]; };
    runMainMenu("5\n1\n1\n9\n");
    EXPECT_EQ(calls, 2);
}

// The screens as the operator reads them, with the typed number that ends each.
TEST_F(Menus, ScreensMatchTheStoredOnes) {
    const struct {
        const char* name;
        const char* typed;
        std::function<void()> show;
    } screens[] = {
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

TEST_F(Menus, RefusedNumbersBeepAndWarnOnce) {
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
}

TEST_F(Menus, EndOfInputEndsTheProgramInsteadOfSpinning) {
    runMainMenu("abc\n");
    platform::Terminal::instance().reset();
    runMainMenu("\x04" "4\n");  // Ctrl-D on an empty line ends the input there
    EXPECT_EQ(platform::Terminal::instance().bellCount(), 0);
}

TEST(MenuInputParsing, ReadsNumbersLikeAFormattedStream) {
    platform::scriptKeys("  12 7\n+5x\n-0\n");
    MenuInput& input = MenuInput::instance();
    input.discardLine();
    int value = 0;
    for (int expected : {12, 7, 5}) {  // the rest of a line is read next
        ASSERT_EQ(input.readInt(value), MenuInput::Result::Number);
        EXPECT_EQ(value, expected);
    }
    EXPECT_EQ(input.readInt(value), MenuInput::Result::NotANumber);  // "x" stays until discarded
    input.discardLine();
    ASSERT_EQ(input.readInt(value), MenuInput::Result::Number);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(input.readInt(value), MenuInput::Result::EndOfInput);
    platform::useTerminalKeys();
}

}  // namespace
