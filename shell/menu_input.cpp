#include "shell/menu_input.h"

#include <cctype>
#include <climits>

#include "platform/keys.h"

MenuInput& MenuInput::instance() {
    static MenuInput input;
    return input;
}

namespace {

std::size_t skipBlanks(const std::string& text, std::size_t pos) {
    while (pos < text.size() && std::isspace(static_cast<unsigned char>(text[pos]))) ++pos;
    return pos;
}

}  // namespace

MenuInput::Result MenuInput::readInt(int& value) {
    std::size_t pos = skipBlanks(pending_, 0);
    while (pos >= pending_.size()) {
        std::string line;
        if (!platform::readLine(line)) return Result::EndOfInput;
        pending_ = line;
        pos = skipBlanks(pending_, 0);
    }

    std::size_t end = pos;
    bool negative = false;
    if (pending_[end] == '+' || pending_[end] == '-') negative = pending_[end++] == '-';
    long long number = 0;
    bool digits = false, overflow = false;
    while (end < pending_.size() && std::isdigit(static_cast<unsigned char>(pending_[end]))) {
        digits = true;
        number = number * 10 + (pending_[end++] - '0');
        if (number > static_cast<long long>(INT_MAX) + 1) overflow = true, number = INT_MAX;
    }
    if (!digits) return Result::NotANumber;
    if (negative) number = -number;
    if (overflow || number > INT_MAX || number < INT_MIN) return Result::NotANumber;

    pending_.erase(0, end);
    value = static_cast<int>(number);
    return Result::Number;
}
