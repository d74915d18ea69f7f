#pragma once
// The robot's console screen: cursor, colours, double-line boxes, the title and
// prompt lines, word-wrapped text in framed boxes with paging, and the blinking
// message row. Exactly one instance, gf. Coordinates are 1-based (column x, row y).
//
// Every text the program puts on the console goes through gf (printf, or print
// for plain text), so the in-memory copy of the screen stays true. printAt is a
// cursor move and a write as one step: the mechanics thread writes its status
// rows at the same time as the main thread writes elsewhere.

#include <cstdarg>
#include <initializer_list>
#include <string>

#include <atomic>

// The last key a mode or menu read; 109 ('m') leaves a mode.
extern std::atomic<int> keyPressed;
constexpr int kKeyLeaveMode = 109;  // 'm'
constexpr int kKeyMenuRead = 999;   // set by the menus before they read a number

extern int countLine;  // last row showTextInBox wrote on; continues on the next call

class f_graph {
public:
    enum CursorMode { Normal = 0, Hidden = 1, Solid = 2 };
    // The status colours: plain text, and a report that went well or failed.
    static constexpr unsigned short kNormal = 128, kGreen = 32, kRed = 192;

    f_graph();

    int gotoxy(int x, int y);
    int whereX();
    int whereY();
    int getDimensionX();
    int getDimensionY();
    void setColor(unsigned short attr);
    unsigned short getColor();
    void setCursor(CursorMode mode);
    void setTitle(const char* title);
    void wait(int ms);
    void clrscr(unsigned short attr);
    void clrscr();
    void goUp();
    void goDown();
    void goLeft();
    void goRight();
    void box(int x1, int y1, int x2, int y2);
    void clearArea(int x1, int y1, int x2, int y2);
    void makeSkeleton(unsigned short attr);
    void headerLine(const char* text);
    void footerLine(const char* text);
    bool showTextInBox(const char* text, bool clear, bool paging, int x1, int y1, int x2, int y2);
    bool showRightSide(const char* text, bool clear, bool ignored = true);
    // A camera mode's help in the right-hand box: the picture size, the vision
    // library's version when asked, then one line a key.
    enum HelpHeading { SizeOnly, SizeAndLibrary };
    void showKeyHelp(int width, int height, HelpHeading heading, std::initializer_list<const char*> keys);
    void showLeftSide(const char* text, bool clear);
    void rightBottomText(const char* text, unsigned short attr);
    void blink(const char* text, unsigned short attr);
    void message(const char* text);
    void warning(const char* text);

    // Formatted output at the cursor (the robot's printf to its console).
    int printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
    int vprintf(const char* format, va_list args);
    void print(const std::string& text);
    // Cursor move and formatted write as one step.
    int printAt(int x, int y, const char* format, ...) __attribute__((format(printf, 4, 5)));

    // Tests: false turns the console handle invalid, so the console calls do nothing.
    void setHandleValid(bool valid) { handleValid_ = valid; }

private:
    void putCode(int x, int y, unsigned char code);
    void checkLineLength(const char* text, int messageX, int messageY);
    bool handleValid_ = true;
};

extern f_graph gf;
