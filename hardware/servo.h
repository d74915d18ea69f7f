#pragma once
// The camera head's servo controller on the serial port: pan on channel 7, tilt
// on channel 0, and the four optical inputs A..D. The modes only write the
// shared position variables (shell/config.h) and call these.

#include <atomic>

// How far one press of a head key (, . q a) moves the pan or the tilt.
constexpr int kHeadKeyStep = 10;

// Mask of the four inputs from the last reading: D active gives 128 (192 with C),
// plus 32 for B and 16 for A; without D the bits 4 (C), 2 (B), 1 (A) are added
// to what earlier readings left.
extern std::atomic<unsigned char> daviklisSSC;

// Clamps every position and both speeds into their limits, shows the two
// commands on rows 50..53 and sends them, pan first.
void akys_servo();
// Asks the controller for its inputs, shows the reply on row 55, updates and
// returns daviklisSSC.
unsigned char ssc32in();
// A random look-around position into all position variables (nothing is sent).
void paieska_servo();
void rndservo();
// All position variables to the centre, then sends them.
void centreEyes();
