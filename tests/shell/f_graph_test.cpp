#include "shell/console/f_graph.h"

#include <gtest/gtest.h>


#include "platform/keys.h"
#include "platform/terminal.h"
#include "tests/support/robot_test.h"

namespace {

class ConsoleScreen : public robotest::RobotTest {};

// An invalid handle makes console calls do nothing; clrscr fills, homes and keeps the text colour.
TEST_F(ConsoleScreen, InvalidHandleMakesConsoleCallsDoNothingAndClrscrFillsAndHomes) {
    gf.setHandleValid(false);
    EXPECT_EQ(gf.gotoxy(5, 5), 0);
    EXPECT_EQ(gf.whereX(), 0);
    EXPECT_EQ(gf.getDimensionY(), 0);
    gf.setHandleValid(true);
    gf.setColor(12);
    gf.gotoxy(10, 10);
    gf.clrscr(128);
    EXPECT_EQ(attrAt(40, 30), 128);
    EXPECT_EQ(gf.whereX() * 100 + gf.whereY(), 101);
    EXPECT_EQ(gf.getColor(), 12);
}

// Every drawing call once on one screen: a box (its bottom-left corner a blank
// glyph), a title, cleared areas, both text boxes wrapping words, the
// bottom-right text and the prompt.
TEST_F(ConsoleScreen, DrawingMatchesTheStoredScreen) {
    gf.headerLine(std::string(67, 'T').c_str());  // the longest title starts at column 7
    EXPECT_FALSE(platform::Terminal::instance().cursorVisible());
    gf.gotoxy(3, 3);
    gf.box(2, 42, 8, 46);
    EXPECT_EQ(gf.whereX() * 100 + gf.whereY(), 303) << "cursor restored";
    gf.gotoxy(1, 50);
    gf.printf("xxxxxxxx");
    gf.gotoxy(2, 2);
    gf.clearArea(1, 51, 8, 50);  // rows reversed: nothing
    gf.clearArea(2, 50, 4, 50);
    EXPECT_EQ(gf.whereX() * 100 + gf.whereY(), 202);
    gf.setColor(128);
    gf.showLeftSide("  MENIU", true);  // a run of blanks is written blank by blank, one more than it holds
    EXPECT_EQ(attrAt(11, 12), 32);
    EXPECT_EQ(gf.getColor(), 128);
    // 41 inner columns (31..71); words of 10 letters and a blank: three fit per row.
    gf.showRightSide("aaaaaaaaaa bbbbbbbbbb cccccccccc dddddddddd", true);
    EXPECT_EQ(countLine, 13);
    gf.rightBottomText("Labas", 10);
    EXPECT_EQ(attrAt(75, 40), 10);
    EXPECT_EQ(gf.getColor(), 10);
    gf.footerLine("Isrinkite");
    EXPECT_EQ(gf.whereX() * 100 + gf.whereY(), 1736) << "the cursor behind the prompt";
    EXPECT_TRUE(platform::Terminal::instance().cursorVisible());
    robotest::expectScreen("console-drawing");
    gf.showRightSide(std::string(50, 'w').c_str(), true);  // a word longer than the box is broken at its edge
    EXPECT_EQ(row(12).substr(30, 43), std::string(41, 'w') + " |");
    EXPECT_EQ(row(13).substr(30, 9), std::string(9, 'w'));
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

TEST_F(ConsoleScreen, OverflowPagesWithPromptOnRow40AndAKey) {
    std::string text;
    for (int i = 0; i < 18; ++i) text += std::string(40, 'a' + i % 26) + " ";
    platform::scriptKeys("k");
    gf.showRightSide(text.c_str(), true);
    // The prompt on row 40; the 18th word starts the new page on row 12, rows 24..30 blanked across.
    robotest::expectScreen("console-right-side-next-page");
    EXPECT_EQ(attrAt(75, 40), 10);
    EXPECT_EQ(attrAt(31, 12), 2);
}

}  // namespace
