#include "shell/console/f_graph.h"

#include <opencv2/core/version.hpp>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <mutex>
#include <vector>

#include "platform/clock.h"
#include "platform/keys.h"
#include "platform/terminal.h"
#include "shell/console/program_end.h"

std::atomic<int> keyPressed{0};
int countLine = 7;
f_graph gf;

namespace {

using platform::Terminal;
using Guard = std::lock_guard<std::recursive_mutex>;

Terminal& term() { return Terminal::instance(); }

constexpr unsigned char kTopLeft = 201, kHorizontal = 205, kTopRight = 187, kVertical = 186,
                        kBottomRight = 188, kBottomLeftBlank = 255;
constexpr std::size_t kMaxLineLength = 67;  // title and prompt boxes hold 67 characters
const char* const kTooLongText = "Your string's length can not be larger than 67 character.";
const char* const kNextPageText = "Press any key to go to the next page";

// Remembers the cursor and puts it back when the operation ends.
class CursorKeeper {
public:
    CursorKeeper() : x_(term().col()), y_(term().row()), exceptions_(std::uncaught_exceptions()) {}
    // The program's end leaves the cursor where the cut-short operation had it.
    ~CursorKeeper() {
        if (std::uncaught_exceptions() == exceptions_) term().moveTo(x_, y_);
    }

private:
    int x_, y_;
    int exceptions_;
};

}  // namespace

f_graph::f_graph() = default;

int f_graph::gotoxy(int x, int y) {
    if (!handleValid_) return 0;
    term().moveTo(x - 1, y - 1);
    return 1;
}

int f_graph::whereX() { return handleValid_ ? term().col() + 1 : 0; }
int f_graph::whereY() { return handleValid_ ? term().row() + 1 : 0; }
int f_graph::getDimensionX() { return handleValid_ ? term().windowColumns() : 0; }
int f_graph::getDimensionY() { return handleValid_ ? term().windowRows() : 0; }

void f_graph::setColor(unsigned short attr) {
    if (handleValid_) term().setAttr(attr);
}

unsigned short f_graph::getColor() { return handleValid_ ? term().attr() : 0; }

void f_graph::setCursor(CursorMode mode) {
    if (!handleValid_) return;
    switch (mode) {
        case Normal: term().setCursorShape(true, 10); break;
        case Hidden: term().setCursorShape(false, 10); break;
        case Solid: term().setCursorShape(true, 100); break;
    }
}

void f_graph::setTitle(const char* title) { term().setTitle(title ? title : ""); }

void f_graph::wait(int ms) { platform::sleepMs(ms); }

void f_graph::clrscr(unsigned short attr) {
    if (!handleValid_) return;
    Guard guard(term().lock());
    const unsigned short before = term().attr();
    term().fill(attr);
    term().moveTo(0, 0);
    term().setAttr(before);
}

void f_graph::clrscr() { clrscr(7); }

void f_graph::goUp() { gotoxy(whereX(), whereY() - 1); }
void f_graph::goDown() { gotoxy(whereX(), whereY() + 1); }
void f_graph::goLeft() { gotoxy(whereX() - 1, whereY()); }
void f_graph::goRight() { gotoxy(whereX() + 1, whereY()); }

void f_graph::putCode(int x, int y, unsigned char code) {
    gotoxy(x, y);
    const char c = static_cast<char>(code);
    term().write(&c, 1);
}

void f_graph::box(int x1, int y1, int x2, int y2) {
    Guard guard(term().lock());
    CursorKeeper keeper;
    putCode(x1, y1, kTopLeft);
    for (int x = x1 + 1; x < x2; ++x) putCode(x, y1, kHorizontal);
    putCode(x2, y1, kTopRight);
    for (int y = y1 + 1; y < y2; ++y) {
        putCode(x1, y, kVertical);
        putCode(x2, y, kVertical);
    }
    putCode(x1, y2, kBottomLeftBlank);
    for (int x = x1 + 1; x < x2; ++x) putCode(x, y2, kHorizontal);
    putCode(x2, y2, kBottomRight);
}

void f_graph::clearArea(int x1, int y1, int x2, int y2) {
    if (y1 > y2 || x1 > x2) return;
    Guard guard(term().lock());
    CursorKeeper keeper;
    const std::string blanks(x2 - x1 + 1, ' ');
    for (int y = y1; y <= y2; ++y) {
        gotoxy(x1, y);
        // A blank row may reach the last column; the terminal wraps, the cursor is restored.
        term().write(blanks);
    }
}

void f_graph::makeSkeleton(unsigned short attr) {
    setColor(attr);
    box(5, 9, 75, 31);
    box(9, 12, 27, 30);
    box(29, 10, 73, 30);
    box(5, 32, 75, 35);
    gotoxy(6, 22);
}

void f_graph::checkLineLength(const char* text, int messageX, int messageY) {
    if (std::strlen(text) <= kMaxLineLength) return;
    printAt(messageX, messageY, "%s", kTooLongText);
    platform::_getch();
    throw ProgramEnd{1};
}

void f_graph::headerLine(const char* text) {
    Guard guard(term().lock());
    setCursor(Hidden);
    CursorKeeper keeper;
    clearArea(6, 3, 74, 7);
    box(5, 2, 75, 8);
    checkLineLength(text, 12, 3);
    printAt(40 - static_cast<int>(std::strlen(text)) / 2, 5, "%s", text);
}

void f_graph::footerLine(const char* text) {
    Guard guard(term().lock());
    clearArea(4, 32, 75, 37);
    box(5, 33, 75, 38);
    checkLineLength(text, 12, 36);
    printAt(8, 36, "%s", text);
    setCursor(Normal);
}

bool f_graph::showTextInBox(const char* text, bool clear, bool paging, int x1, int y1, int x2, int y2) {
    Guard guard(term().lock());
    setCursor(Hidden);
    box(x1, y1, x2, y2);
    if (clear) {
        clearArea(x1 + 2, y1 + 1, x2 - 2, y2 - 2);
        countLine = y1 + 1;
    }
    ++countLine;
    gotoxy(x1 + 2, countLine);

    const int width = x2 - x1 - 2;
    const int lastRow = y2 - 2;
    const std::size_t length = std::strlen(text);
    std::size_t i = 0, s = 0;
    while (i < length) {
        if (text[i] != ' ') {
            s = i;
            while (i < length && text[i] != ' ') ++i;
        }
        const std::string token(text + s, i - s);
        const int len = static_cast<int>(token.size());
        bool fits = len < (x2 - 1) - whereX();

        if (countLine == lastRow && !fits) {
            countLine = y1 + 1;
            if (paging) {
                setColor(12);
                rightBottomText(kNextPageText, 10);
                platform::_getch();
                clearArea(x1 + 2, y1 + 1, x2 - 2, y2 - 2);
                setColor(2);
                clearArea(1, 24, 80, 30);
                gotoxy(x1 + 3, y1 + 2);
            } else {
                clearArea(x1 + 2, y1 + 1, x2 - 2, y2 - 2);
                gotoxy(x1 + 2, y1 + 1);
                // A box of one inner row starts the token at once on that row.
                if (lastRow == y1 + 1) fits = len < (x2 - 1) - whereX();
            }
        }

        if (fits) {
            print(token);
        } else if (len < width) {
            ++countLine;
            gotoxy(x1 + 2, countLine);
            print(token);
        } else {
            // A word longer than a whole row is broken at the box's right edge.
            for (char c : token) {
                if (whereX() == x2 - 1) {
                    ++countLine;
                    gotoxy(x1 + 2, countLine);
                }
                term().write(&c, 1);
            }
        }

        s = i;
        if (whereX() != x2 - 2) print(" ");
        ++i;
    }
    return false;
}

bool f_graph::showRightSide(const char* text, bool clear, bool /*ignored*/) {
    return showTextInBox(text, clear, true, 29, 10, 73, 30);
}

void f_graph::showKeyHelp(int width, int height, HelpHeading heading, std::initializer_list<const char*> keys) {
    // The numbers are printed behind the box lines, not through them: the box
    // writer would double the blanks between them.
    showRightSide(" Rezoliucija : ", true);
    printf(" %dx%d.", width, height);
    if (heading == SizeAndLibrary) {
        showRightSide(" ", false);
        printf("OpenCV  %s (%d.%d.%d)\n", CV_VERSION, CV_VERSION_MAJOR, CV_VERSION_MINOR, CV_VERSION_REVISION);
    }
    for (const char* key : keys) showRightSide(key, false);
}

void f_graph::showLeftSide(const char* text, bool clear) {
    Guard guard(term().lock());
    const unsigned short before = getColor();
    setColor(32);
    showTextInBox(text, clear, true, 7, 10, 27, 30);
    setColor(before);
}

void f_graph::rightBottomText(const char* text, unsigned short attr) {
    Guard guard(term().lock());
    setCursor(Hidden);
    CursorKeeper keeper;
    setColor(attr);
    // Written from the right end leftwards: the terminating zero at column 76,
    // so the last character stands in column 75.
    int x = 76;
    putCode(x--, 40, ' ');
    for (std::size_t k = std::strlen(text); k > 0; --k) putCode(x--, 40, static_cast<unsigned char>(text[k - 1]));
    setColor(attr);
}

void f_graph::blink(const char* text, unsigned short attr) {
    const unsigned short before = getColor();
    setCursor(Hidden);
    const int x = whereX(), y = whereY();
    wait(1000);
    setColor(attr);
    rightBottomText(text, attr);
    wait(1000);
    clearArea(6, 39, 75, 42);
    wait(700);
    setColor(attr);
    rightBottomText(text, attr);
    wait(2000);
    clearArea(5, 39, 75, 42);
    gotoxy(x, y);
    setColor(before);
}

void f_graph::message(const char* text) { blink(text, 9); }
void f_graph::warning(const char* text) { blink(text, 12); }

int f_graph::vprintf(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    const int needed = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (needed <= 0) return needed;
    std::vector<char> buffer(static_cast<std::size_t>(needed) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, args);
    term().write(buffer.data(), static_cast<std::size_t>(needed));
    return needed;
}

int f_graph::printf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int written = vprintf(format, args);
    va_end(args);
    return written;
}

void f_graph::print(const std::string& text) { term().write(text); }

int f_graph::printAt(int x, int y, const char* format, ...) {
    Guard guard(term().lock());
    gotoxy(x, y);
    va_list args;
    va_start(args, format);
    const int written = vprintf(format, args);
    va_end(args);
    return written;
}
