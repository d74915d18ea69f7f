#pragma once
// Reads the numbers the menus ask for the way a formatted stream read does:
// blanks and empty lines are skipped, a number may be followed by more on the
// same line (read next time), anything else is "no value".

#include <string>

class MenuInput {
public:
    enum class Result { Number, NotANumber, EndOfInput };

    static MenuInput& instance();

    Result readInt(int& value);
    // Forgets the rest of the current line (after a bad answer).
    void discardLine() { pending_.clear(); }

private:
    std::string pending_;
};
