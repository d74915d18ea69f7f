#include "faces/storage_reader.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

#include "platform/datafiles.h"

namespace storage {

const Node* Document::find(std::string_view name) const {
    const auto found = nodes_.find(name);
    return found == nodes_.end() ? nullptr : &found->second;
}

bool Document::add(std::string name, Node node) {
    return nodes_.emplace(std::move(name), std::move(node)).second;
}

namespace {

constexpr std::size_t kMaxNameBytes = 256;
constexpr std::size_t kMaxHeaderBytes = 256;

// Every view the parser hands around points into the file's bytes, so a fault
// carries the place it was found and becomes a line number at the end.
struct ParseError {
    const char* at;
    std::string what;
};

[[noreturn]] void fail(const char* at, std::string what) { throw ParseError{at, std::move(what)}; }

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isNameStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool isNameChar(char c) { return isNameStart(c) || isDigit(c) || c == '-' || c == '.' || c == ':'; }

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
    return text;
}

// Whitespace-separated words of a text, one at a time.
bool nextWord(std::string_view& rest, std::string_view& word) {
    std::size_t begin = 0;
    while (begin < rest.size() && isSpace(rest[begin])) ++begin;
    std::size_t end = begin;
    while (end < rest.size() && !isSpace(rest[end])) ++end;
    word = rest.substr(begin, end - begin);
    rest.remove_prefix(end);
    return !word.empty();
}

std::size_t countWords(std::string_view text) {
    std::size_t count = 0;
    std::string_view word;
    while (nextWord(text, word)) ++count;
    return count;
}

// ---- numbers: exactly the forms the writer prints ------------------------

// "-12", "0": what the writer prints for integers.
bool parseInteger(std::string_view word, int& value) {
    const char* end = word.data() + word.size();
    const auto result = std::from_chars(word.data(), end, value);
    return !word.empty() && result.ec == std::errc() && result.ptr == end;
}

bool looksLikeInteger(std::string_view word) {
    if (!word.empty() && word.front() == '-') word.remove_prefix(1);
    return !word.empty() && std::all_of(word.begin(), word.end(), isDigit);
}

// "1.", "5.00000000e-01", "-1.0000000000000001e+300" and the three words the
// writer uses for values that are not finite. No hexadecimal, no "inf"/"nan"
// spellings, no leading '+'.
bool parseReal(std::string_view word, double& value) {
    if (word == ".Inf" || word == "-.Inf") {
        value = word.front() == '-' ? -std::numeric_limits<double>::infinity()
                                    : std::numeric_limits<double>::infinity();
        return true;
    }
    if (word == ".Nan") {
        value = std::numeric_limits<double>::quiet_NaN();
        return true;
    }
    const bool plainDecimal = std::all_of(word.begin(), word.end(), [](char c) {
        return isDigit(c) || c == '.' || c == 'e' || c == 'E' || c == '-' || c == '+';
    });
    if (word.empty() || !plainDecimal || word.front() == '+') return false;
    const char* end = word.data() + word.size();
    const auto result = std::from_chars(word.data(), end, value, std::chars_format::general);
    return result.ec == std::errc() && result.ptr == end;
}

// The writer quotes every string that starts like a number, so an unquoted
// text starting so must be a number.
bool startsLikeNumber(char c) { return isDigit(c) || c == '-' || c == '+' || c == '.'; }

// ---- strings --------------------------------------------------------------

// One of the five named entities or a character reference for a control
// character (the writer escapes tabs and line breaks as "&#x0a;").
std::size_t decodeEntity(std::string_view text, std::size_t amp, std::string& out) {
    const std::size_t semicolon = text.find(';', amp);
    if (semicolon == std::string_view::npos || semicolon - amp > 8) fail(text.data() + amp, "a bare '&'");
    const std::string_view name = text.substr(amp + 1, semicolon - amp - 1);
    static const std::pair<std::string_view, char> named[] = {
        {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
    for (const auto& [entity, character] : named) {
        if (name == entity) {
            out += character;
            return semicolon + 1;
        }
    }
    const bool hex = name.size() > 2 && name[0] == '#' && name[1] == 'x';
    const bool decimal = name.size() > 1 && name[0] == '#' && !hex;
    const std::string_view digits = name.substr(hex ? 2 : 1);
    int code = 0;
    const auto result = std::from_chars(digits.data(), digits.data() + digits.size(), code, hex ? 16 : 10);
    const bool whole = result.ec == std::errc() && result.ptr == digits.data() + digits.size();
    if (!(hex || decimal) || !whole || code < 1 || code > 127) fail(text.data() + amp, "an unknown entity");
    out += static_cast<char>(code);
    return semicolon + 1;
}

// "..." with entities: names with blanks or XML's special characters.
std::string quotedString(std::string_view text) {
    if (text.size() < 2 || text.back() != '"') fail(text.data(), "a quote without its end");
    const std::string_view inner = text.substr(1, text.size() - 2);
    std::string out;
    for (std::size_t i = 0; i < inner.size();) {
        const char c = inner[i];
        if (c == '&') {
            i = decodeEntity(inner, i, out);
            continue;
        }
        if (c == '"' || static_cast<unsigned char>(c) < 0x20)
            fail(inner.data() + i, "a raw quote or control character");
        out += c;
        ++i;
    }
    return out;
}

// A plain word: no blanks, nothing the writer would have escaped.
std::string plainString(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (isSpace(c) || c == '&' || c == '"' || c == '>' || static_cast<unsigned char>(c) < 0x20)
            fail(text.data() + i, "more than one word or an unescaped character");
    }
    return std::string(text);
}

// ---- scalars ----------------------------------------------------------------

Node numberNode(std::string_view word) {
    Node node;
    if (parseInteger(word, node.integer)) {
        node.kind = NodeKind::Int;
        return node;
    }
    if (looksLikeInteger(word)) fail(word.data(), "an integer out of range");
    if (!parseReal(word, node.real)) fail(word.data(), "not a number");
    node.kind = NodeKind::Real;
    return node;
}

// The text of a plain element: an int, a real or a string, as the writer tells
// them apart.
Node scalarNode(std::string_view content) {
    const std::string_view text = trimmed(content);
    if (text.size() > kMaxTextBytes) fail(text.data(), "a text too long");
    Node node;
    node.kind = NodeKind::String;
    if (text == "\"") {
        node.text = text;  // the writer leaves a lone quote unquoted
    } else if (!text.empty() && text.front() == '"') {
        node.text = quotedString(text);
    } else if (!text.empty() && startsLikeNumber(text.front())) {
        node = numberNode(text);
    } else {
        node.text = plainString(text);
    }
    return node;
}

// ---- the cursor over the file -----------------------------------------------

class Cursor {
public:
    explicit Cursor(std::string_view text) : text_(text) {}

    const char* here() const { return text_.data() + pos_; }
    bool atEnd() const { return pos_ >= text_.size(); }
    bool startsWith(std::string_view s) const { return text_.substr(pos_, s.size()) == s; }

    void expect(std::string_view s, const char* what) {
        if (!startsWith(s)) fail(here(), std::string("expected ") + what);
        pos_ += s.size();
    }

    void skipSpace() {
        while (!atEnd() && isSpace(text_[pos_])) ++pos_;
    }

    void skipSpaceAndComments() {
        for (skipSpace(); startsWith("<!--"); skipSpace()) {
            const std::size_t end = text_.find("-->", pos_ + 4);
            if (end == std::string_view::npos) fail(here(), "a comment without its end");
            pos_ = end + 3;
        }
    }

    std::string_view name() {
        const std::size_t begin = pos_;
        if (atEnd() || !isNameStart(text_[pos_])) fail(here(), "a name");
        while (!atEnd() && isNameChar(text_[pos_])) ++pos_;
        if (pos_ - begin > kMaxNameBytes) fail(text_.data() + begin, "a name too long");
        return text_.substr(begin, pos_ - begin);
    }

    // The bytes up to the next tag: an element's text never holds a '<'.
    std::string_view textUntilTag() {
        const std::size_t end = std::min(text_.find('<', pos_), text_.size());
        const std::string_view text = text_.substr(pos_, end - pos_);
        pos_ = end;
        return text;
    }

    // <?xml version="1.0"?>: required, its attributes not otherwise read.
    void header() {
        skipSpace();
        expect("<?xml", "the XML header");
        const std::size_t end = text_.find("?>", pos_);
        if (end == std::string_view::npos || end - pos_ > kMaxHeaderBytes) fail(here(), "the end of the XML header");
        const std::string_view inside = text_.substr(pos_, end - pos_);
        if (inside.empty() || !isSpace(inside.front()) || inside.find_first_of("<>") != std::string_view::npos)
            fail(here(), "a plain XML header");
        pos_ = end + 2;
    }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
};

// ---- tags ---------------------------------------------------------------------

struct OpenTag {
    std::string_view name;
    std::string_view typeId;  // empty for a plain element
};

// <name> or <name type_id="...">: the one attribute the writer uses.
OpenTag openTag(Cursor& in) {
    in.expect("<", "an element");
    OpenTag tag;
    tag.name = in.name();
    if (!in.startsWith(">")) {
        if (!in.startsWith(" ")) fail(in.here(), "'>'");
        in.skipSpace();
        in.expect("type_id=\"", "type_id=\"");
        tag.typeId = in.name();
        in.expect("\"", "the end of type_id");
        in.skipSpace();
    }
    in.expect(">", "'>'");
    return tag;
}

void closeTag(Cursor& in, std::string_view name) {
    const char* at = in.here();
    in.expect("</", "a closing tag");
    if (in.name() != name) fail(at, "</" + std::string(name) + ">");
    in.skipSpace();
    in.expect(">", "'>'");
}

// ---- records ------------------------------------------------------------------

// A record's fields by name: each a plain element holding text.
using Fields = std::map<std::string_view, std::string_view>;

Fields readFields(Cursor& in, std::string_view record) {
    Fields fields;
    for (in.skipSpaceAndComments(); !in.startsWith("</"); in.skipSpaceAndComments()) {
        const char* at = in.here();
        const OpenTag field = openTag(in);
        if (!field.typeId.empty()) fail(at, "a record inside a record");
        const std::string_view text = in.textUntilTag();
        closeTag(in, field.name);
        if (!fields.emplace(field.name, text).second) fail(at, "a field given twice");
    }
    closeTag(in, record);
    return fields;
}

// Exactly these fields, no others.
void requireFields(const Fields& fields, std::initializer_list<std::string_view> names, const char* at) {
    if (fields.size() != names.size()) fail(at, "other fields than a record of its kind holds");
    for (const std::string_view name : names) {
        if (fields.count(name) == 0) fail(at, "a record without " + std::string(name));
    }
}

int sizeField(const Fields& fields, std::string_view name) {
    const std::string_view text = fields.at(name);
    const Node node = scalarNode(text);
    if (node.kind != NodeKind::Int || node.integer < 0) fail(text.data(), std::string(name) + " not a size");
    return node.integer;
}

std::string stringField(const Fields& fields, std::string_view name) {
    const std::string_view text = fields.at(name);
    const Node node = scalarNode(text);
    if (node.kind != NodeKind::String) fail(text.data(), std::string(name) + " not a word");
    return node.text;
}

// rows x cols x channels, refused past kMaxValues before anything is allocated.
std::size_t valueCount(int rows, int cols, int channels, const char* at) {
    const std::uint64_t cells = static_cast<std::uint64_t>(rows) * static_cast<std::uint64_t>(cols);
    if (cells > kMaxValues || cells * static_cast<std::uint64_t>(channels) > kMaxValues) fail(at, "a size too large");
    return static_cast<std::size_t>(cells) * static_cast<std::size_t>(channels);
}

// "f", "i", "u" ..., with a channel count in front for more than one ("3f").
int elementType(const std::string& dt, const char* at) {
    static const std::pair<char, int> depths[] = {{'u', CV_8U},  {'c', CV_8S},  {'w', CV_16U}, {'s', CV_16S},
                                                  {'i', CV_32S}, {'f', CV_32F}, {'d', CV_64F}};
    const bool counted = dt.size() == 2 && dt[0] >= '1' && dt[0] <= '4';
    if (dt.size() != 1 && !counted) fail(at, "an unknown dt");
    const int channels = counted ? dt[0] - '0' : 1;
    for (const auto& [letter, depth] : depths) {
        if (dt.back() == letter) return CV_MAKETYPE(depth, channels);
    }
    fail(at, "an unknown dt");
}

template <typename T>
void fillIntegers(std::string_view data, T* out, std::size_t count) {
    std::string_view word;
    for (std::size_t i = 0; i < count && nextWord(data, word); ++i) {
        int value = 0;
        const bool fits = parseInteger(word, value) && value >= std::numeric_limits<T>::lowest() &&
                          value <= std::numeric_limits<T>::max();
        if (!fits) fail(word.data(), "not an integer of the matrix's type");
        out[i] = static_cast<T>(value);
    }
}

// Reals as OpenCV reads them: the nearest double, then the nearest float.
template <typename T>
void fillReals(std::string_view data, T* out, std::size_t count) {
    std::string_view word;
    for (std::size_t i = 0; i < count && nextWord(data, word); ++i) {
        double value = 0.0;
        if (!parseReal(word, value)) fail(word.data(), "not a number");
        const T stored = static_cast<T>(value);
        if (std::isfinite(value) && !std::isfinite(stored)) fail(word.data(), "a number out of range");
        out[i] = stored;
    }
}

// The data field into a fresh matrix, once its word count is known to match.
cv::Mat dataMatrix(std::string_view data, int rows, int cols, int type) {
    const std::size_t count = valueCount(rows, cols, CV_MAT_CN(type), data.data());
    if (countWords(data) != count) fail(data.data(), "a data count other than the size");
    cv::Mat matrix(rows, cols, type);
    switch (CV_MAT_DEPTH(type)) {
        case CV_8U: fillIntegers(data, matrix.ptr<std::uint8_t>(), count); break;
        case CV_8S: fillIntegers(data, matrix.ptr<std::int8_t>(), count); break;
        case CV_16U: fillIntegers(data, matrix.ptr<std::uint16_t>(), count); break;
        case CV_16S: fillIntegers(data, matrix.ptr<std::int16_t>(), count); break;
        case CV_32S: fillIntegers(data, matrix.ptr<std::int32_t>(), count); break;
        case CV_32F: fillReals(data, matrix.ptr<float>(), count); break;
        default: fillReals(data, matrix.ptr<double>(), count); break;
    }
    return matrix;
}

Node matrixRecord(const Fields& fields, const char* at) {
    requireFields(fields, {"rows", "cols", "dt", "data"}, at);
    const int rows = sizeField(fields, "rows");
    const int cols = sizeField(fields, "cols");
    const int type = elementType(stringField(fields, "dt"), fields.at("dt").data());
    Node node;
    node.kind = NodeKind::Matrix;
    node.matrix = dataMatrix(fields.at("data"), rows, cols, type);
    return node;
}

// The classic picture record; the robot stores only one-channel float pictures.
Node imageRecord(const Fields& fields, const char* at) {
    requireFields(fields, {"width", "height", "origin", "layout", "dt", "data"}, at);
    const int width = sizeField(fields, "width");
    const int height = sizeField(fields, "height");
    const std::string origin = stringField(fields, "origin");
    if (origin != "top-left" && origin != "bottom-left") fail(fields.at("origin").data(), "an unknown origin");
    if (stringField(fields, "layout") != "interleaved") fail(fields.at("layout").data(), "an unknown layout");
    if (stringField(fields, "dt") != "f") fail(fields.at("dt").data(), "a picture other than float");
    Node node;
    node.kind = NodeKind::Image;
    node.matrix = dataMatrix(fields.at("data"), height, width, CV_32F);
    if (origin == "bottom-left" && !node.matrix.empty()) cv::flip(node.matrix, node.matrix, 0);
    return node;
}

// ---- the document ---------------------------------------------------------------

// One entry under the root: a plain element or a record, never deeper.
void readEntry(Cursor& in, Document& document) {
    const char* at = in.here();
    const OpenTag tag = openTag(in);
    Node node;
    if (tag.typeId.empty()) {
        const std::string_view text = in.textUntilTag();
        closeTag(in, tag.name);
        node = scalarNode(text);
    } else if (tag.typeId == "opencv-matrix") {
        node = matrixRecord(readFields(in, tag.name), at);
    } else if (tag.typeId == "opencv-image") {
        node = imageRecord(readFields(in, tag.name), at);
    } else {
        fail(at, "an unknown type_id");
    }
    if (document.size() >= kMaxElements) fail(at, "too many entries");
    if (!document.add(std::string(tag.name), std::move(node))) fail(at, "an entry given twice");
}

void readRoot(Cursor& in, Document& document) {
    in.header();
    in.skipSpaceAndComments();
    in.expect("<opencv_storage>", "<opencv_storage>");
    for (in.skipSpaceAndComments(); !in.startsWith("</"); in.skipSpaceAndComments()) {
        if (in.atEnd()) fail(in.here(), "</opencv_storage>");
        readEntry(in, document);
    }
    closeTag(in, "opencv_storage");
    in.skipSpaceAndComments();
    if (!in.atEnd()) fail(in.here(), "nothing after </opencv_storage>");
}

std::size_t lineOf(std::string_view xml, const char* at) {
    const std::size_t offset = std::min(static_cast<std::size_t>(at - xml.data()), xml.size());
    const std::string_view before = xml.substr(0, offset);
    return 1 + static_cast<std::size_t>(std::count(before.begin(), before.end(), '\n'));
}

}  // namespace

std::string parseDocument(std::string_view xml, Document& document) {
    document.clear();
    Cursor in(xml);
    try {
        readRoot(in, document);
        return {};
    } catch (const ParseError& error) {
        document.clear();
        return "line " + std::to_string(lineOf(xml, error.at)) + ": " + error.what;
    } catch (const std::exception& error) {  // memory for a picture or a name ran out
        document.clear();
        return error.what();
    }
}

ReadStatus readDocument(const std::string& path, Document& document, std::string& fault, std::size_t maxBytes) {
    document.clear();
    std::uintmax_t size = 0;
    if (!platform::plainFileSize(path, size)) return ReadStatus::Unreadable;
    if (size > maxBytes) {
        fault = "larger than " + std::to_string(maxBytes) + " bytes";
        return ReadStatus::Damaged;
    }
    std::string bytes;
    try {
        if (!platform::readWholeFile(path, bytes)) return ReadStatus::Unreadable;
    } catch (const std::bad_alloc&) {
        fault = "no memory for " + std::to_string(size) + " bytes";
        return ReadStatus::Damaged;
    }
    if (bytes.size() != size) {
        fault = "changed while read";
        return ReadStatus::Damaged;
    }
    fault = parseDocument(bytes, document);
    return fault.empty() ? ReadStatus::Loaded : ReadStatus::Damaged;
}

}  // namespace storage
