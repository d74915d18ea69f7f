// The recogniser's messages as a byte stream: whatever arrives on the
// connection is read line by line (do_receive) and every word line parsed
// (do_deshifre) until the recogniser closes it. The word buffer must stay a
// terminated string of at most 255 characters.

#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "fuzz/fuzz_support.h"
#include "speech/speech.h"

namespace {

// A line the client cannot hold ends the robot program on purpose (its
// message and exit status 1); such streams are not this target's concern.
bool everyLineFits(const std::uint8_t* data, std::size_t size) {
    int position = 0;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == '\n' && position > 0) {
            position = 0;
            continue;
        }
        if (++position >= kRecogniserLineSize) return false;
    }
    return true;
}

bool moreToRead(int sd) {
    char byte;
    return recv(sd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) > 0;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzing::quietRobot();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 64 * 1024 || !everyLineFits(data, size)) return -1;
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, ends) != 0) std::abort();
    const int buffer = 256 * 1024;
    setsockopt(ends[1], SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
    if (size && write(ends[1], data, size) != static_cast<ssize_t>(size)) std::abort();
    close(ends[1]);
    do {
        const char* word = do_output(ends[0]);
        if (strnlen(word, kRecogniserLineSize) >= static_cast<std::size_t>(kRecogniserLineSize)) std::abort();
    } while (moreToRead(ends[0]));
    close(ends[0]);
    return 0;
}
