#pragma once
// The robot's text console: ANSI/VT output on standard output plus an in-memory
// copy of the screen (character byte and colour attribute per cell, cursor,
// colour) that the console screen queries and tests read back.
// Coordinates here are 0-based; the console screen above adds one.

#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

namespace platform {

class Terminal {
public:
    static constexpr int kWidth = 80;   // the robot's console buffer is 80 columns wide
    static constexpr int kHeight = 60;  // and 60 rows high

    static Terminal& instance();

    // Held across a cursor move and its write so that the mechanics thread's
    // status rows never land in the middle of another line.
    std::recursive_mutex& lock() { return mutex_; }

    void moveTo(int col, int row);
    int col() const;
    int row() const;

    void setAttr(unsigned short attr);
    unsigned short attr() const;

    void setCursorShape(bool visible, int sizePercent);
    bool cursorVisible() const;
    int cursorSize() const;
    void setTitle(const std::string& title);
    std::string title() const;

    // Writes bytes at the cursor in the current colour: '\n' starts the next row,
    // '\r' returns to column 0, '\a' rings the bell, '\b' steps back; a write past
    // the last column continues on the next row; the screen scrolls at the bottom.
    void write(const char* bytes, std::size_t count);
    void write(const std::string& text) { write(text.data(), text.size()); }

    // Fills the whole buffer with blanks of attribute attr (cursor unchanged).
    void fill(unsigned short attr);

    // Largest window the real terminal offers (80 x 60 when it is not a terminal).
    int windowColumns() const;
    int windowRows() const;
    // Asks a smaller terminal to grow to at least 80 x 60 (xterm window
    // operation) and to take its old size back when the program ends. Where it
    // stays smaller, its last row says so and what falls outside is not drawn.
    void requestMinimumSize();
    // After the terminal was resized: draws the whole screen again for its new size.
    void refreshIfResized();
    // Readable after a resize (-1 when resizes are not watched): a key wait
    // polls it beside the keyboard so that it draws the new size at once.
    int resizeWakeFd() const;
    // Best-effort placement of the terminal window (xterm window operations).
    void placeWindow(int x, int y, int width, int height);

    // The in-memory copy.
    unsigned short attrAt(int col, int row) const;
    std::string rowText(int row) const;  // code-page bytes shown as plain ASCII
    std::string screenText() const;      // all rows, trailing blanks trimmed
    int bellCount() const;

    // Tests: stop sending to standard output, and start from a blank screen.
    void setEcho(bool toStdout);
    void reset();

private:
    Terminal();
    void putByte(unsigned char byte);
    void scrollUp();
    void emit(const std::string& bytes);
    void emitCell(unsigned char byte);
    bool cellShown(int col, int row) const;
    void measureTerminal();
    void emitSmallTerminalNotice();
    void emitCursor();
    void emitAttr();
    void repaint();

    mutable std::recursive_mutex mutex_;
    std::vector<unsigned char> chars_;
    std::vector<unsigned short> attrs_;
    int col_ = 0;
    int row_ = 0;
    unsigned short attr_ = 7;
    bool cursorVisible_ = true;
    int cursorSize_ = 10;
    std::string title_;
    int bells_ = 0;
    bool echo_ = true;
    // The part of the console the real terminal shows; the rest is clipped.
    int shownColumns_ = kWidth;
    int shownRows_ = kHeight;
    int terminalColumns_ = kWidth;
    int terminalRows_ = kHeight;
    bool cursorLost_ = false;  // the terminal's cursor is not where ours is
};

// True when standard output goes to a terminal, not to a pipe or a file: a tool
// then may draw on the console screen; otherwise it prints plain lines.
bool standardOutputIsTerminal();

// Shows a code-page byte the way the robot's console did (box lines, blank 255).
std::string codePageToUtf8(unsigned char byte);

}  // namespace platform
