#include "platform/clock.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <random>
#include <thread>

namespace platform {
namespace {

std::atomic<bool> virtualOn{false};
std::atomic<long long> virtualNow{0};

std::atomic<void (*)()> sleepObserver{nullptr};

std::mutex randomLock;
std::minstd_rand& randomEngine() {
    static std::minstd_rand engine(12345);
    return engine;
}

}  // namespace

long long realNowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

long long nowMs() { return virtualOn ? virtualNow.load() : realNowMs(); }

void sleepMs(long long ms) {
    if (ms <= 0) return;
    if (virtualOn) {
        virtualNow += ms;
        if (auto observer = sleepObserver.load()) observer();
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void useVirtualTime(bool on) {
    if (on && !virtualOn) virtualNow = realNowMs();
    virtualOn = on;
}

bool virtualTime() { return virtualOn; }

void onVirtualSleep(void (*observer)()) { sleepObserver = observer; }

void advanceMs(long long ms) {
    if (virtualOn && ms > 0) virtualNow += ms;
}

int rand15() {
    std::lock_guard<std::mutex> guard(randomLock);
    return static_cast<int>(randomEngine()() & 0x7FFF);
}

void seedRand15(unsigned seed) {
    std::lock_guard<std::mutex> guard(randomLock);
    randomEngine().seed(seed == 0 ? 1 : seed);
}

}  // namespace platform
