#include "tests/e2e/screen_model.h"

#include <algorithm>
#include <cstdlib>

namespace e2e {
namespace {

// The console's box characters back to the letters the robot's tests use.
char boxCell(const std::string& utf8) {
    if (utf8 == "\u2550") return '=';
    if (utf8 == "\u2551") return '|';
    if (utf8 == "\u2554" || utf8 == "\u2557" || utf8 == "\u255a" || utf8 == "\u255d") return '+';
    return '?';
}

int utf8Length(unsigned char lead) {
    if ((lead & 0xE0) == 0xC0) return 1;
    if ((lead & 0xF0) == 0xE0) return 2;
    if ((lead & 0xF8) == 0xF0) return 3;
    return 0;
}

}  // namespace

ScreenModel::ScreenModel(int columns, int rows)
    : columns_(columns), rows_(rows), cells_(static_cast<std::size_t>(rows), std::string(static_cast<std::size_t>(columns), ' ')) {}

void ScreenModel::resize(int columns, int rows) {
    columns_ = columns;
    rows_ = rows;
    cells_.resize(static_cast<std::size_t>(rows));
    for (std::string& line : cells_) line.resize(static_cast<std::size_t>(columns), ' ');
    x_ = std::min(x_, columns - 1);
    y_ = std::min(y_, rows - 1);
}

void ScreenModel::put(char cell) {
    if (x_ >= columns_) {  // the terminal wraps at its right edge
        x_ = 0;
        y_ = std::min(y_ + 1, rows_ - 1);
    }
    cells_[static_cast<std::size_t>(y_)][static_cast<std::size_t>(x_)] = cell;
    ++x_;
}

void ScreenModel::control(char c) {
    switch (c) {
        case '\r': x_ = 0; break;
        case '\n': y_ = std::min(y_ + 1, rows_ - 1); break;
        case '\b': x_ = std::max(x_ - 1, 0); break;
        case '\t': x_ = std::min((x_ / 8 + 1) * 8, columns_ - 1); break;
        default: break;  // bell and the like
    }
}

// Cursor position, screen and line erasing; everything else (colours, cursor
// shape, window requests) does not change the text.
void ScreenModel::finishEscape(char final) {
    const std::size_t semicolon = parameters_.find(';');
    const int first = std::atoi(parameters_.c_str());
    const int second = semicolon == std::string::npos ? 0 : std::atoi(parameters_.c_str() + semicolon + 1);
    if (final == 'H' || final == 'f') {
        y_ = std::clamp(std::max(first, 1) - 1, 0, rows_ - 1);
        x_ = std::clamp(std::max(second, 1) - 1, 0, columns_ - 1);
    } else if (final == 'J' && first == 2) {
        for (std::string& line : cells_) line.assign(static_cast<std::size_t>(columns_), ' ');
    } else if (final == 'K') {
        std::string& line = cells_[static_cast<std::size_t>(y_)];
        if (first == 0) line.replace(static_cast<std::size_t>(x_), std::string::npos, static_cast<std::size_t>(columns_ - x_), ' ');
        if (first == 2) line.assign(static_cast<std::size_t>(columns_), ' ');
    }
}

void ScreenModel::feed(const std::string& bytes) {
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        switch (state_) {
            case State::Text:
                if (c == '\x1b') {
                    state_ = State::Escape;
                } else if (byte < 0x20) {
                    control(c);
                } else if (byte >= 0x80) {
                    utf8_.assign(1, c);
                    utf8Left_ = utf8Length(byte);
                    if (utf8Left_ == 0) put('?');
                    else state_ = State::Utf8;
                } else {
                    put(c);
                }
                break;
            case State::Utf8:
                utf8_ += c;
                if (--utf8Left_ == 0) {
                    put(boxCell(utf8_));
                    state_ = State::Text;
                }
                break;
            case State::Escape:
                parameters_.clear();
                state_ = c == '[' ? State::Csi : c == ']' ? State::Osc : State::Text;
                break;
            case State::Csi:
                if (byte >= 0x40 && byte <= 0x7E) {
                    finishEscape(c);
                    state_ = State::Text;
                } else {
                    parameters_ += c;
                }
                break;
            case State::Osc:  // a window title: ends with BEL or ESC backslash
                if (c == '\a' || c == '\x1b') state_ = State::Text;
                break;
        }
    }
}

std::string ScreenModel::row(int y) const {
    if (y < 1 || y > rows_) return {};
    std::string line = cells_[static_cast<std::size_t>(y - 1)];
    line.erase(line.find_last_not_of(' ') + 1);
    return line;
}

std::string ScreenModel::text() const {
    std::string all;
    for (int y = 1; y <= rows_; ++y) all += row(y) + "\n";
    return all;
}

}  // namespace e2e
