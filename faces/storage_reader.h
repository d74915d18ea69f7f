#pragma once
// A strict reader of exactly the XML that cv::FileStorage writes for the face
// database: a header, an <opencv_storage> root of named elements, each an int,
// a real, a string, a matrix record or a one-channel float image record. The
// robot reads facedata.xml with it because OpenCV's own XML reader can crash on
// a damaged file before any of our checks runs. Anything outside that layout is
// refused as a whole; nothing is allocated for values before they are counted.

#include <opencv2/core.hpp>

#include <cstddef>
#include <map>
#include <string>
#include <string_view>

namespace storage {

// Bounds that keep a damaged or hostile file from taking the robot's memory.
constexpr std::size_t kMaxFileBytes = 256u << 20;
constexpr std::size_t kMaxValues = 64u << 20;   // in one matrix or picture
constexpr std::size_t kMaxElements = 250000;    // named entries under the root
constexpr std::size_t kMaxTextBytes = 4096;     // one string or tag name

enum class NodeKind { Int, Real, String, Matrix, Image };

struct Node {
    NodeKind kind = NodeKind::String;
    int integer = 0;     // Int
    double real = 0.0;   // Real
    std::string text;    // String, entities decoded, quotes removed
    cv::Mat matrix;      // Matrix: rows x cols of its stored type and channels;
                         // Image: the picture, CV_32F, its top row first
};

class Document {
public:
    // The entry of that name, nullptr when the file has none.
    const Node* find(std::string_view name) const;
    std::size_t size() const { return nodes_.size(); }
    // False when the name was already there (the robot never writes one twice).
    bool add(std::string name, Node node);
    void clear() { nodes_.clear(); }

private:
    std::map<std::string, Node, std::less<>> nodes_;
};

// Parses a whole file's bytes. Empty on success; otherwise what is wrong and on
// which line, and the document is left empty.
std::string parseDocument(std::string_view xml, Document& document);

enum class ReadStatus { Loaded, Unreadable, Damaged };

// Reads and parses a file no larger than maxBytes (checked before reading it).
// Unreadable: missing or not openable; Damaged: too large or not parsed, with
// the reason in fault.
ReadStatus readDocument(const std::string& path, Document& document, std::string& fault,
                        std::size_t maxBytes = kMaxFileBytes);

}  // namespace storage
