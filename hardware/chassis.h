#pragma once
// The chassis: port B pins 0 and 2 of the I/O board (or the parallel port's data lines).

#include <atomic>

// Direction code each mechanics step passes; only 1 moves anything (nothing sets it yet).
extern std::atomic<unsigned char> vazDR;
// Cached levels of port B pins 0..7 (0 or 1), shared by the chassis and the board panel.
extern std::atomic<unsigned char> RB0, RB1, RB2, RB3, RB4, RB5, RB6, RB7;
namespace chassis {
// Result of the last pin call the chassis made.
extern std::atomic<int> Status;
}  // namespace chassis

// The cached level of port B pin 0..7 (RB0..RB7).
std::atomic<unsigned char>& cachedPinLevel(int pin);

// One drive step. Direction 1 lowers pins 0 and 2 when they are high and raises
// them again at the first call at least duration ms after the lowering; any other
// direction does nothing. Returns direction.
unsigned char vaziuokle(unsigned char direction, long duration);

// Writes value to the parallel port at I/O address port (0x378, 0x278, 0x3BC are
// parallel ports 0, 1, 2); does nothing when that port cannot be reached.
void lptout(int port, unsigned char value);
