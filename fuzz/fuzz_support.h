#pragma once
// Shared pieces of the fuzz targets: a quiet in-memory console, a private
// working folder, and a reader that takes typed values off the front of the
// fuzzer's bytes.

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzzing {

// Console text goes only to the in-memory screen; time is virtual; windows
// are headless; standard input is /dev/null (a list entry naming it must not
// block). Call once, from LLVMFuzzerInitialize.
void quietRobot();
// Makes a fresh folder under the temporary directory and enters it; returns
// its path. It is removed when the program ends.
std::string enterPrivateFolder(const char* name);
// Writes bytes to path, replacing it.
void writeFile(const std::string& path, const std::uint8_t* data, std::size_t size);

// Takes values off the front of the input; past the end everything reads as 0.
class Bytes {
public:
    Bytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::uint8_t byte() { return position_ < size_ ? data_[position_++] : 0; }
    // A value in low..high (inclusive).
    int inRange(int low, int high) { return low + byte() % (high - low + 1); }
    std::size_t left() const { return size_ - position_; }
    const std::uint8_t* rest() const { return data_ + position_; }
    void skip(std::size_t count) { position_ += count < left() ? count : left(); }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

}  // namespace fuzzing

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
