// The servo controller's answers to the "A B C D" input query: a device on a
// pseudo-terminal linked as COM1 answers each query with the fuzzer's bytes
// (any length, any values), and the robot reads, shows and decodes them
// (ssc32in). Real time: the reply is taken as it arrives, as on the robot.

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include "fuzz/fuzz_support.h"
#include "hardware/hardware.h"
#include "platform/clock.h"
#include "platform/pseudo_terminal.h"

namespace {

int master = -1;
std::mutex replyLock;
std::string reply;
std::atomic<int> queriesAnswered{0};

// The device: answers every command line (ended by CR) with the current reply.
void answerQueries() {
    char bytes[256];
    for (;;) {
        pollfd wait{master, POLLIN, 0};
        if (poll(&wait, 1, 1000) <= 0) continue;
        const ssize_t got = read(master, bytes, sizeof bytes);
        if (got <= 0) continue;
        for (ssize_t i = 0; i < got; ++i) {
            if (bytes[i] != '\r') continue;
            std::string answer;
            {
                std::lock_guard<std::mutex> guard(replyLock);
                answer = reply;
            }
            if (!answer.empty() && write(master, answer.data(), answer.size()) < 0) std::abort();
            ++queriesAnswered;
        }
    }
}

// Never closed: the answering thread reads it until the fuzzer ends. Kept in a
// program-wide pointer so the leak checker sees it is still in use at exit.
platform::PseudoTerminal* device = nullptr;

void openDevice() {
    device = new platform::PseudoTerminal;
    if (!device->open(false) || !device->link("COM1")) std::abort();
    master = device->master();
    cport_nr = 0;
    if (OpenComport(cport_nr, 115200) != 0) std::abort();
    std::thread(answerQueries).detach();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzing::quietRobot();
    platform::useVirtualTime(false);
    fuzzing::enterPrivateFolder("servo");
    openDevice();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 64) return -1;
    {
        std::lock_guard<std::mutex> guard(replyLock);
        reply.assign(reinterpret_cast<const char*>(data), size);
    }
    const unsigned char before = daviklisSSC.load();
    const unsigned char mask = ssc32in();
    // Without input D the reading only adds bits to what earlier readings left.
    if (!(mask & 128) && (mask & before) != before) std::abort();
    return 0;
}
