#include "platform/terminal.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace platform {
namespace {

using Guard = std::lock_guard<std::recursive_mutex>;

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
    : chars_(kWidth * kHeight, ' '), attrs_(kWidth * kHeight, 7) {}

void Terminal::emit(const std::string& bytes) {
    if (!echo_ || bytes.empty()) return;
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    std::fflush(stdout);
}

void Terminal::emitCursor() {
    emit("\x1b[" + std::to_string(row_ + 1) + ";" + std::to_string(col_ + 1) + "H");
}

void Terminal::emitAttr() { emit(ansiAttr(attr_)); }

void Terminal::moveTo(int col, int row) {
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
    emit(codePageToUtf8(byte));
    if (++col_ >= kWidth) {
        col_ = 0;
        if (++row_ >= kHeight) scrollUp();
        emitCursor();
    }
}

void Terminal::write(const char* bytes, std::size_t count) {
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
    for (int r = 0; r < kHeight; ++r) {
        out += "\x1b[" + std::to_string(r + 1) + ";1H";
        for (int c = 0; c < kWidth; ++c) {
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
    if (windowColumns() < kWidth || windowRows() < kHeight) emit("\x1b[8;60;80t");
}

void Terminal::placeWindow(int x, int y, int width, int height) {
    Guard guard(mutex_);
    emit("\x1b[3;" + std::to_string(x) + ";" + std::to_string(y) + "t\x1b[4;" + std::to_string(height) + ";" +
         std::to_string(width) + "t");
}

unsigned char Terminal::charAt(int col, int row) const {
    Guard guard(mutex_);
    if (col < 0 || col >= kWidth || row < 0 || row >= kHeight) return ' ';
    return chars_[row * kWidth + col];
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
