#include "hardware/chassis.h"

#include "hardware/eprodas.h"
#include "platform/board.h"
#include "platform/clock.h"

std::atomic<unsigned char> vazDR{0};
std::atomic<unsigned char> RB0{0}, RB1{0}, RB2{0}, RB3{0}, RB4{0}, RB5{0}, RB6{0}, RB7{0};
namespace chassis {
std::atomic<int> Status{0};
}  // namespace chassis
using chassis::Status;

namespace {

std::atomic<long long> pulseStart{0};  // clock of the last lowering

// Lowers a high pin and starts the pulse.
void lowerIfHigh(std::atomic<unsigned char>& cached, int pin) {
    if (cached != 1) return;
    pulseStart = platform::nowMs();
    cached = 0;
    Status = eProDas_ConfigurePinAsOutput(0, kPortB, pin, 0);
}

// Raises a low pin once the pulse has lasted duration.
void raiseWhenDue(std::atomic<unsigned char>& cached, int pin, long duration) {
    if (cached != 0 || platform::nowMs() < pulseStart + duration) return;
    cached = 1;
    Status = eProDas_ConfigurePinAsOutput(0, kPortB, pin, 1);
}

}  // namespace

std::atomic<unsigned char>& cachedPinLevel(int pin) {
    static std::atomic<unsigned char>* const levels[8] = {&RB0, &RB1, &RB2, &RB3, &RB4, &RB5, &RB6, &RB7};
    return *levels[pin & 7];
}

unsigned char vaziuokle(unsigned char direction, long duration) {
    if (direction != 1) return direction;
    lowerIfHigh(RB0, 0);
    lowerIfHigh(RB2, 2);
    raiseWhenDue(RB0, 0, duration);
    raiseWhenDue(RB2, 2, duration);
    return direction;
}

void lptout(int port, unsigned char value) {
    switch (port) {
        case 0x378: platform::writeParallelPort(0, value); break;
        case 0x278: platform::writeParallelPort(1, value); break;
        case 0x3BC: platform::writeParallelPort(2, value); break;
        default: break;
    }
}
