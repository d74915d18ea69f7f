#include "platform/terminal.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace platform {
namespace {

using Guard = std::lock_guard<std::recursive_mutex>;

constexpr unsigned short kNoticeAttr = 0x70;  // black on grey, as the console's own notices

std::atomic<bool> terminalResized{false};
// The signal may reach any of the program's threads, not the one waiting for a
// key: a byte in this pipe wakes the key reader's wait wherever it lands.
int resizeWake[2] = {-1, -1};

void noteResize(int) {
    const int saved = errno;
    terminalResized = true;
    const char byte = 1;
    if (resizeWake[1] >= 0 && ::write(resizeWake[1], &byte, 1) < 0) {
        // full: a wake-up is already waiting
    }
    errno = saved;
}

void drainResizeWake() {
    char bytes[64];
    while (resizeWake[0] >= 0 && ::read(resizeWake[0], bytes, sizeof bytes) > 0) {
    }
}

// A resize wakes the key reader's wait, which then asks for the screen to be
// drawn again.
void watchForResize() {
    if (pipe2(resizeWake, O_NONBLOCK | O_CLOEXEC) != 0) resizeWake[0] = resizeWake[1] = -1;
    struct sigaction action {};
    action.sa_handler = noteResize;
    sigemptyset(&action.sa_mask);
    sigaction(SIGWINCH, &action, nullptr);
}


bool querySize(int& columns, int& rows) {
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0 || size.ws_row == 0) return false;
    columns = size.ws_col;
    rows = size.ws_row;
    return true;
}

// The terminal's size before the robot asked it to grow; 0 when it did not ask.
int originalColumns = 0;
int originalRows = 0;

void giveBackOriginalSize() {
    if (originalColumns <= 0) return;
    const std::string request =
        "\x1b[8;" + std::to_string(originalRows) + ";" + std::to_string(originalColumns) + "t";
    std::fwrite(request.data(), 1, request.size(), stdout);
    std::fflush(stdout);
}

// Console attributes name colours blue=1, green=2, red=4; ANSI names red=1, green=2, blue=4.
int ansiColour(int consoleColour) {
    return ((consoleColour & 1) << 2) | (consoleColour & 2) | ((consoleColour & 4) >> 2);
}

std::string ansiAttr(unsigned short attr) {
    const int fg = attr & 0x0F;
    const int bg = (attr >> 4) & 0x0F;
    const int fgCode = (fg & 8 ? 90 : 30) + ansiColour(fg & 7);
    const int bgCode = (bg & 8 ? 100 : 40) + ansiColour(bg & 7);
    return "\x1b[0;" + std::to_string(fgCode) + ";" + std::to_string(bgCode) + "m";
}

}  // namespace

bool standardOutputIsTerminal() { return isatty(STDOUT_FILENO) == 1; }

std::string codePageToUtf8(unsigned char byte) {
    switch (byte) {
        case 201: return "\u2554";
        case 205: return "\u2550";
        case 187: return "\u2557";
        case 186: return "\u2551";
        case 188: return "\u255D";
        case 200: return "\u255A";
        case 255: return " ";
        default: break;
    }
    if (byte < 32 || byte >= 127) return "?";
    return std::string(1, static_cast<char>(byte));
}

Terminal& Terminal::instance() {
    static Terminal terminal;
    return terminal;
}

Terminal::Terminal()
    : chars_(kWidth * kHeight, ' '), attrs_(kWidth * kHeight, 7) {
    if (!standardOutputIsTerminal()) return;
    watchForResize();
    measureTerminal();
}

// How much of the 80 x 60 console the terminal shows; a smaller one keeps its
// last row for the notice.
void Terminal::measureTerminal() {
    int columns = kWidth, rows = kHeight;
    if (standardOutputIsTerminal()) querySize(columns, rows);
    terminalColumns_ = columns;
    terminalRows_ = rows;
    const bool small = columns < kWidth || rows < kHeight;
    shownColumns_ = std::min(columns, kWidth);
    shownRows_ = small ? std::min(rows - 1, kHeight) : kHeight;
}

bool Terminal::cellShown(int col, int row) const { return col < shownColumns_ && row < shownRows_; }

void Terminal::emitSmallTerminalNotice() {
    if (shownColumns_ == kWidth && shownRows_ == kHeight) return;
    std::string notice = " The console needs 80 x 60; this terminal is " + std::to_string(terminalColumns_) + " x " +
                         std::to_string(terminalRows_) + ": what lies outside is not shown ";
    notice.resize(static_cast<std::size_t>(std::min(terminalColumns_, kWidth)) - 1, ' ');
    emit("\x1b[" + std::to_string(terminalRows_) + ";1H" + ansiAttr(kNoticeAttr) + notice + "\x1b[K" +
         ansiAttr(attr_));
    cursorLost_ = true;
}

int Terminal::resizeWakeFd() const { return resizeWake[0]; }

void Terminal::refreshIfResized() {
    drainResizeWake();
    if (!terminalResized.exchange(false)) return;
    Guard guard(mutex_);
    measureTerminal();
    emit("\x1b[0m\x1b[2J");  // what the old size left behind goes
    repaint();
}

void Terminal::emit(const std::string& bytes) {
    if (!echo_ || bytes.empty()) return;
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    std::fflush(stdout);
}

// The terminal would put a cursor below its last row on that row, so text
// meant for a hidden row would overwrite a shown one: it is not drawn instead.
void Terminal::emitCursor() {
    cursorLost_ = !cellShown(std::min(col_, shownColumns_ - 1), row_);
    if (cursorLost_) return;
    emit("\x1b[" + std::to_string(row_ + 1) + ";" + std::to_string(col_ + 1) + "H");
}

void Terminal::emitCell(unsigned char byte) {
    if (!cellShown(col_, row_)) {
        cursorLost_ = true;
        return;
    }
    if (cursorLost_) emitCursor();
    emit(codePageToUtf8(byte));
}

void Terminal::emitAttr() { emit(ansiAttr(attr_)); }

void Terminal::moveTo(int col, int row) {
    refreshIfResized();
    Guard guard(mutex_);
    col_ = std::clamp(col, 0, kWidth - 1);
    row_ = std::clamp(row, 0, kHeight - 1);
    emitCursor();
}

int Terminal::col() const { Guard guard(mutex_); return col_; }
int Terminal::row() const { Guard guard(mutex_); return row_; }

void Terminal::setAttr(unsigned short attr) {
    Guard guard(mutex_);
    attr_ = attr;
    emitAttr();
}

unsigned short Terminal::attr() const { Guard guard(mutex_); return attr_; }

void Terminal::setCursorShape(bool visible, int sizePercent) {
    Guard guard(mutex_);
    cursorVisible_ = visible;
    cursorSize_ = sizePercent;
    // Block cursor for a solid cell, underline for the normal one.
    emit(std::string(visible ? "\x1b[?25h" : "\x1b[?25l") + (sizePercent >= 100 ? "\x1b[2 q" : "\x1b[4 q"));
}

bool Terminal::cursorVisible() const { Guard guard(mutex_); return cursorVisible_; }
int Terminal::cursorSize() const { Guard guard(mutex_); return cursorSize_; }

void Terminal::setTitle(const std::string& title) {
    Guard guard(mutex_);
    title_ = title;
    emit("\x1b]0;" + title + "\x07");
}

std::string Terminal::title() const { Guard guard(mutex_); return title_; }

void Terminal::scrollUp() {
    std::move(chars_.begin() + kWidth, chars_.end(), chars_.begin());
    std::move(attrs_.begin() + kWidth, attrs_.end(), attrs_.begin());
    std::fill(chars_.end() - kWidth, chars_.end(), ' ');
    std::fill(attrs_.end() - kWidth, attrs_.end(), attr_);
    row_ = kHeight - 1;
    repaint();
}

void Terminal::putByte(unsigned char byte) {
    switch (byte) {
        case '\n':
            col_ = 0;
            if (++row_ >= kHeight) scrollUp();
            emitCursor();
            return;
        case '\r':
            col_ = 0;
            emitCursor();
            return;
        case '\a':
            ++bells_;
            emit("\a");
            return;
        case '\b':
            if (col_ > 0) --col_;
            emitCursor();
            return;
        default:
            break;
    }
    chars_[row_ * kWidth + col_] = byte;
    attrs_[row_ * kWidth + col_] = attr_;
    emitCell(byte);
    if (++col_ >= kWidth) {
        col_ = 0;
        if (++row_ >= kHeight) scrollUp();
        emitCursor();
    }
}

void Terminal::write(const char* bytes, std::size_t count) {
    refreshIfResized();
    Guard guard(mutex_);
    for (std::size_t i = 0; i < count; ++i) putByte(static_cast<unsigned char>(bytes[i]));
}

void Terminal::fill(unsigned short attr) {
    Guard guard(mutex_);
    std::fill(chars_.begin(), chars_.end(), ' ');
    std::fill(attrs_.begin(), attrs_.end(), attr);
    repaint();
}

void Terminal::repaint() {
    if (!echo_) return;
    std::string out = "\x1b[H";
    unsigned short current = 0xFFFF;
    for (int r = 0; r < shownRows_; ++r) {
        out += "\x1b[" + std::to_string(r + 1) + ";1H";
        for (int c = 0; c < shownColumns_; ++c) {
            const unsigned short a = attrs_[r * kWidth + c];
            if (a != current) {
                out += ansiAttr(a);
                current = a;
            }
            out += codePageToUtf8(chars_[r * kWidth + c]);
        }
    }
    out += ansiAttr(attr_);
    emit(out);
    emitSmallTerminalNotice();
    emitCursor();
}

int Terminal::windowColumns() const {
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return kWidth;
}

int Terminal::windowRows() const {
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_row > 0) return size.ws_row;
    return kHeight;
}

void Terminal::requestMinimumSize() {
    Guard guard(mutex_);
    measureTerminal();
    if (!echo_ || !standardOutputIsTerminal() || (terminalColumns_ >= kWidth && terminalRows_ >= kHeight)) return;
    if (originalColumns == 0) {
        originalColumns = terminalColumns_;
        originalRows = terminalRows_;
        std::atexit(giveBackOriginalSize);
    }
    emit("\x1b[8;" + std::to_string(std::max(terminalRows_, kHeight)) + ";" +
         std::to_string(std::max(terminalColumns_, kWidth)) + "t");
    emitSmallTerminalNotice();
}

void Terminal::placeWindow(int x, int y, int width, int height) {
    Guard guard(mutex_);
    emit("\x1b[3;" + std::to_string(x) + ";" + std::to_string(y) + "t\x1b[4;" + std::to_string(height) + ";" +
         std::to_string(width) + "t");
}

unsigned short Terminal::attrAt(int col, int row) const {
    Guard guard(mutex_);
    if (col < 0 || col >= kWidth || row < 0 || row >= kHeight) return 0;
    return attrs_[row * kWidth + col];
}

std::string Terminal::rowText(int row) const {
    Guard guard(mutex_);
    std::string text;
    if (row < 0 || row >= kHeight) return text;
    for (int c = 0; c < kWidth; ++c) {
        const unsigned char byte = chars_[row * kWidth + c];
        switch (byte) {
            case 201: case 187: case 188: case 200: text += '+'; break;
            case 205: text += '='; break;
            case 186: text += '|'; break;
            case 255: text += ' '; break;
            default: text += (byte < 32 || byte >= 127) ? '?' : static_cast<char>(byte);
        }
    }
    return text;
}

std::string Terminal::screenText() const {
    Guard guard(mutex_);
    std::string text;
    for (int r = 0; r < kHeight; ++r) {
        std::string line = rowText(r);
        line.erase(line.find_last_not_of(' ') + 1);
        text += line + "\n";
    }
    return text;
}

int Terminal::bellCount() const { Guard guard(mutex_); return bells_; }

void Terminal::setEcho(bool toStdout) { Guard guard(mutex_); echo_ = toStdout; }

void Terminal::reset() {
    Guard guard(mutex_);
    std::fill(chars_.begin(), chars_.end(), ' ');
    std::fill(attrs_.begin(), attrs_.end(), 7);
    col_ = row_ = 0;
    attr_ = 7;
    bells_ = 0;
    cursorVisible_ = true;
    cursorSize_ = 10;
    title_.clear();
}

}  // namespace platform
