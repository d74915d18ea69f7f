#pragma once
// The robot's one clock: monotonic milliseconds and sleeps. Tests switch it to
// virtual time, where a sleep advances the clock at once instead of waiting.

namespace platform {

// Milliseconds since an arbitrary start; never goes back (the robot's clock()).
long long nowMs();
// The machine's own monotonic milliseconds, virtual time or not: for waits on
// devices and peers, which live in real time.
long long realNowMs();

// Sleeps ms milliseconds (the robot's Sleep()); in virtual time it only advances the clock.
void sleepMs(long long ms);

// Switches virtual time on or off; on, the clock starts from its current value.
void useVirtualTime(bool on);
bool virtualTime();

// Moves the virtual clock forward (tests); no effect in real time.
void advanceMs(long long ms);

// Tests: called after every virtual sleep, to look at what a pause shows
// (a blinking warning is gone once its pauses end). Null: nothing is called.
void onVirtualSleep(void (*observer)());

// Random number 0..32767, as the robot's formulas expect.
int rand15();
void seedRand15(unsigned seed);

}  // namespace platform
