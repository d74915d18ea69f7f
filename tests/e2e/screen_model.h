#pragma once
// What a terminal shows: the robot's console output (cursor moves, text, the
// code-page box characters as UTF-8) replayed onto a grid of cells, so that a
// test reads rows as the user sees them.

#include <string>
#include <vector>

namespace e2e {

class ScreenModel {
public:
    ScreenModel(int columns, int rows);

    void feed(const std::string& bytes);
    // The terminal's window changes size: what it showed stays where it was.
    void resize(int columns, int rows);
    // Row y (1-based) as text; cells never written are blanks, box characters '+', '=', '|'.
    std::string row(int y) const;
    std::string text() const;  // all rows, one line each

private:
    void put(char cell);
    void control(char c);
    void finishEscape(char final);

    int columns_, rows_;
    std::vector<std::string> cells_;
    int x_ = 0, y_ = 0;
    enum class State { Text, Escape, Csi, Osc, Utf8 } state_ = State::Text;
    std::string parameters_;
    std::string utf8_;
    int utf8Left_ = 0;
};

}  // namespace e2e
