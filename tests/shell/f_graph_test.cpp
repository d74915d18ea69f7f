#include "shell/console/f_graph.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/keys.h"
#include "platform/terminal.h"
#include "tests/support/robot_test.h"

namespace {

class ConsoleScreen : public robotest::RobotTest {};

TEST_F(ConsoleScreen, InvalidHandleMakesConsoleCallsDoNothing) {
    gf.setHandleValid(false);
    EXPECT_EQ(gf.gotoxy(5, 5), 0);
    EXPECT_EQ(gf.whereX(), 0);
    EXPECT_EQ(gf.getDimensionY(), 0);
    gf.setHandleValid(true);
}

TEST_F(ConsoleScreen, BoxCornersUseTheCodePageBytes) {
    gf.gotoxy(3, 3);
    gf.box(5, 2, 10, 6);
    EXPECT_EQ(charAt(5, 2), 201);
    EXPECT_EQ(charAt(6, 2), 205);
    EXPECT_EQ(charAt(10, 2), 187);
    EXPECT_EQ(charAt(5, 4), 186);
    EXPECT_EQ(charAt(10, 4), 186);
    EXPECT_EQ(charAt(5, 6), 255);  // a blank glyph, not a corner
    EXPECT_EQ(charAt(10, 6), 188);
    EXPECT_EQ(gf.whereX(), 3);  // cursor restored
    EXPECT_EQ(gf.whereY(), 3);
}

TEST_F(ConsoleScreen, ClearAreaWithRowsReversedChangesNothing) {
    gf.gotoxy(1, 5);
    gf.printf("xxxxxxxx");
    gf.gotoxy(2, 2);
    gf.clearArea(1, 6, 8, 5);
    EXPECT_EQ(row(5).substr(0, 8), "xxxxxxxx");
    EXPECT_EQ(gf.whereX(), 2);
    gf.clearArea(2, 5, 4, 5);
    EXPECT_EQ(row(5).substr(0, 8), "x   xxxx");
    EXPECT_EQ(gf.whereY(), 2);
}

TEST_F(ConsoleScreen, ClrscrFillsWithColourAndHomesKeepingTheTextColour) {
    gf.setColor(12);
    gf.gotoxy(10, 10);
    gf.clrscr(128);
    EXPECT_EQ(attrAt(40, 30), 128);
    EXPECT_EQ(gf.whereX(), 1);
    EXPECT_EQ(gf.whereY(), 1);
    EXPECT_EQ(gf.getColor(), 12);
}

TEST_F(ConsoleScreen, TitleOf67CharactersStartsAtColumn7) {
    const std::string title(67, 'T');
    gf.headerLine(title.c_str());
    EXPECT_EQ(row(5).substr(6, 67), title);
    EXPECT_EQ(charAt(6, 5), ' ');
    EXPECT_EQ(charAt(5, 2), 201);
    EXPECT_FALSE(platform::Terminal::instance().cursorVisible());
}

TEST_F(ConsoleScreen, ShortTitleIsCentredOnRow5) {
    gf.headerLine("ABCD");
    EXPECT_EQ(row(5).substr(37, 4), "ABCD");  // column 40 - 2
}

// Too long a title or prompt ends the program once the operator has read why.
TEST_F(ConsoleScreen, TitleOrPromptOver67CharactersEndsTheProgramAfterAKey) {
    const std::string title(68, 'T'), prompt(70, 'P');
    const std::string why = "Your string's length can not be larger than 67 character.";
    platform::scriptKeys("xy");
    EXPECT_EQ(robotest::programEndStatus([&] { gf.headerLine(title.c_str()); }), 1);
    EXPECT_EQ(row(3).find(why), 11u);
    EXPECT_EQ(robotest::programEndStatus([&] { gf.footerLine(prompt.c_str()); }), 1);
    EXPECT_EQ(row(36).find(why), 11u);
    EXPECT_EQ(platform::_getch(), platform::kEndOfInput) << "each waited for a key";
}

TEST_F(ConsoleScreen, PromptLineLeavesVisibleCursorBehindTheText) {
    gf.footerLine("Isrinkite");
    EXPECT_EQ(row(36).substr(7, 9), "Isrinkite");
    EXPECT_EQ(gf.whereX(), 17);
    EXPECT_EQ(gf.whereY(), 36);
    EXPECT_TRUE(platform::Terminal::instance().cursorVisible());
}

TEST_F(ConsoleScreen, RightBottomTextEndsInColumn75) {
    gf.rightBottomText("Labas", 10);
    EXPECT_EQ(row(40).substr(70, 5), "Labas");
    EXPECT_EQ(attrAt(75, 40), 10);
    EXPECT_EQ(gf.getColor(), 10);
}

TEST_F(ConsoleScreen, TextWrapsAtTheRightBoxEdgeStartingOnSecondInnerRow) {
    // 41 inner columns (31..71); words of 10 letters and a blank: three fit per row.
    gf.showRightSide("aaaaaaaaaa bbbbbbbbbb cccccccccc dddddddddd", true);
    EXPECT_EQ(row(11).substr(30, 41), std::string(41, ' '));
    EXPECT_EQ(row(12).substr(30, 32), "aaaaaaaaaa bbbbbbbbbb cccccccccc");
    EXPECT_EQ(row(13).substr(30, 10), "dddddddddd");
    EXPECT_EQ(countLine, 13);
}

TEST_F(ConsoleScreen, WordLongerThanTheBoxIsBrokenAtTheEdge) {
    const std::string word(50, 'w');
    gf.showRightSide(word.c_str(), true);
    EXPECT_EQ(row(12).substr(30, 43), std::string(41, 'w') + " |");
    EXPECT_EQ(row(13).substr(30, 9), std::string(9, 'w'));
}

TEST_F(ConsoleScreen, OverflowPagesWithPromptOnRow40AndAKey) {
    std::string text;
    for (int i = 0; i < 18; ++i) text += std::string(40, 'a' + i % 26) + " ";
    platform::scriptKeys("k");
    gf.showRightSide(text.c_str(), true);
    EXPECT_EQ(row(40).substr(39, 36), "Press any key to go to the next page");
    EXPECT_EQ(attrAt(75, 40), 10);
    // Rows 12..28 held the first 17 words; the 18th starts the new page.
    EXPECT_EQ(row(12).substr(30, 40), std::string(40, 'r'));
    EXPECT_EQ(row(13).substr(30, 40), std::string(40, ' '));
    EXPECT_EQ(attrAt(31, 12), 2);
    EXPECT_EQ(row(24).substr(0, 28), std::string(28, ' '));  // rows 24..30 blanked across
}

TEST_F(ConsoleScreen, LeftSideWritesInGreenAndRestoresTheColour) {
    gf.setColor(128);
    gf.showLeftSide("  MENIU", true);
    // A run of blanks is written blank by blank, one more than it holds.
    EXPECT_EQ(row(12).substr(8, 8), "   MENIU");
    EXPECT_EQ(attrAt(11, 12), 32);
    EXPECT_EQ(gf.getColor(), 128);
}

}  // namespace
