// One received line handed to the word parser (do_deshifre) in a buffer of
// exactly the length given, so that any access past it is caught. The word
// buffer must stay a terminated string.

#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "speech/speech.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzing::quietRobot();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 4 * kRecogniserLineSize) return -1;
    // The line buffer is of the client's size; the line in it need not fill it.
    std::vector<char> line(data, data + size);
    const char* word = do_deshifre(line.data(), static_cast<int>(line.size()));
    if (strnlen(word, kRecogniserLineSize) >= static_cast<std::size_t>(kRecogniserLineSize)) std::abort();
    return 0;
}
