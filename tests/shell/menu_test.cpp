#include "shell/menu.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/keys.h"
#include "platform/terminal.h"
#include "shell/config.h"
#include "shell/menu_input.h"
#include "shell/modes.h"
#include "tests/support/robot_test.h"

namespace {

class Menus : public robotest::RobotTest {
protected:
    void SetUp() override {
        RobotTest::SetUp();
        robotModes() = RobotModes{};
        MenuInput::instance().discardLine();
    }
    void TearDown() override {
        robotModes() = RobotModes{};
        RobotTest::TearDown();
    }

    // Runs the main menu on the typed lines until the shutdown.
    void runMainMenu(const std::string& typed) {
        platform::scriptKeys(typed);
        EXPECT_EQ(robotest::programEndStatus(meniupagr), 1);
    }
};

TEST_F(Menus, MainMenuShowsItsEntriesAndPrompt) {
    platform::scriptKeys("3\n");
    EXPECT_EQ(meniu(), 3u);
    EXPECT_NE(row(5).find("Roboto veido atpazinimo sistema + SSC32  COM 2 Greitis: 115200"), std::string::npos);
    EXPECT_NE(row(13).find(" [1] Naujas"), std::string::npos);
    EXPECT_NE(row(29).find(" [9] Iseiti"), std::string::npos);
    EXPECT_NE(row(36).find(" Isrinkite : [1-9] ir spausti - Enter "), std::string::npos);
    EXPECT_EQ(keyPressed.load(), 999);
}

TEST_F(Menus, MainMenuRefusesOutOfRangeAndLettersWithBeepsAndWarning) {
    for (const std::string typed : {"0\n4\n", "10\n4\n", "abc\n4\n", "99999999999999999999\n4\n"}) {
        platform::Terminal::instance().reset();
        platform::scriptKeys(typed);
        const long long start = platform::nowMs();
        EXPECT_EQ(meniu(), 4u) << typed;
        EXPECT_EQ(platform::Terminal::instance().bellCount(), 6) << typed;
        EXPECT_EQ(platform::nowMs() - start, 4700 + 1000) << typed;  // one warning, one pause
    }
}

TEST_F(Menus, EmptyLinesAreSkippedWithoutAWarning) {
    platform::scriptKeys("\n\n  \n7\n");
    EXPECT_EQ(meniu(), 7u);
    EXPECT_EQ(platform::Terminal::instance().bellCount(), 0);
}

TEST_F(Menus, SubMenuWarnsAboveNineAndAsksWithTheRetryPrompt) {
    platform::scriptKeys("12\n3\n");
    EXPECT_EQ(meniusistema(), 3);
    EXPECT_NE(row(36).find("Prasau isrinkti darbo rezima ir spausti ENTER [1-9]: "), std::string::npos);
    EXPECT_EQ(platform::Terminal::instance().bellCount(), 0);
}

TEST_F(Menus, SubMenuReturnsNegativeNumbersUnchanged) {
    platform::scriptKeys("-3\n");
    EXPECT_EQ(meniuStereo(), -3);
    EXPECT_NE(row(12).find("Grizti i pagrindini Meniu"), std::string::npos);
}

TEST_F(Menus, MainMenuWalksIntoSubMenusAndOutToShutdown) {
    std::vector<std::string> ran;
    robotModes().stereoBM = [&] { ran.push_back("stereoBM"); };
    robotModes().VeidoAtpazinimas = [&] { ran.push_back("VeidoAtpazinimas"); };
    robotModes().judesys = [&](int a, int b) { ran.push_back("judesys " + std::to_string(a) + " " + std::to_string(b)); };
    robotModes().ssc32inDemo = [&] { ran.push_back("ssc32inDemo"); };
    // stereo: -3 redraws, 5 redraws, 1 runs, 0 back; recognition 1 and 4; system 5; exit.
    runMainMenu("3\n-3\n5\n1\n0\n2\n1\n4\n0\n6\n5\n0\n9\n");
    EXPECT_EQ(ran, (std::vector<std::string>{"stereoBM", "VeidoAtpazinimas", "judesys 1000 0", "ssc32inDemo"}));
    EXPECT_NE(screen().find("VISO GEROOOOOOO ...."), std::string::npos);
}

TEST_F(Menus, DialogueEntryStaysOnlyWhenTheDialogueAnswersOne) {
    std::vector<int> answers{1, 0};
    int calls = 0;
    robotModes().DialogasRobRezimas = [&] { return answers[calls++]; };
    // 5: dialogue menu; 1 answers 1 (menu again); 1 answers 0 (back to main); 9 ends.
    runMainMenu("5\n1\n1\n9\n");
    EXPECT_EQ(calls, 2);
}

TEST_F(Menus, EntryWithoutModeOnlyRedraws) {
    runMainMenu("2\n5\n0\n1\n9\n");
}

TEST_F(Menus, SubMenuNineEndsTheProgram) {
    runMainMenu("2\n9\n");
}

TEST_F(Menus, AboutAndStatisticsScreensReturnAfterTenSeconds) {
    long long start = platform::nowMs();
    meniuapie();
    EXPECT_EQ(platform::nowMs() - start, 10000);
    EXPECT_NE(screen().find("Apie roboto, programa..."), std::string::npos);
    EXPECT_NE(screen().find("Versija 0.5"), std::string::npos);
    EXPECT_NE(row(36).find("Pause 10 sekundziu perziurai"), std::string::npos);

    readFaceStatistics = [] {
        FaceStatistics stats;
        stats.noofegineface = 7;
        stats.accuracy = 85;
        return stats;
    };
    start = platform::nowMs();
    menustatistika();
    EXPECT_EQ(platform::nowMs() - start, 10000);
    EXPECT_NE(screen().find("Pazistamu skaicius =    7"), std::string::npos);
    EXPECT_NE(screen().find("Tikslumas:  85%"), std::string::npos);
    EXPECT_NE(screen().find("Rezoliucija  320x240."), std::string::npos);
    EXPECT_NE(screen().find(" OpenCV  4."), std::string::npos);  // the library actually linked
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
    ASSERT_EQ(input.readInt(value), MenuInput::Result::Number);
    EXPECT_EQ(value, 12);
    ASSERT_EQ(input.readInt(value), MenuInput::Result::Number);  // the rest of the line
    EXPECT_EQ(value, 7);
    ASSERT_EQ(input.readInt(value), MenuInput::Result::Number);
    EXPECT_EQ(value, 5);
    EXPECT_EQ(input.readInt(value), MenuInput::Result::NotANumber);  // "x" stays until discarded
    input.discardLine();
    ASSERT_EQ(input.readInt(value), MenuInput::Result::Number);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(input.readInt(value), MenuInput::Result::EndOfInput);
    platform::useTerminalKeys();
}

}  // namespace
