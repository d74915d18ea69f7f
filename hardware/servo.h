#pragma once
// The camera head's servo controller on the serial port: pan on channel 7, tilt
// on channel 0, and the four optical inputs A..D. The modes only write the
// shared position variables below and call these.

#include <atomic>

// Head servos: speeds, limits (microseconds) and the shared positions and targets.
// The mechanics step reads them while a mode writes them, hence the atomic words.
extern std::atomic<int> servo_greitisX, servo_greitisY;
extern int servo_xmin, servo_xmax;
extern int servo_ymin, servo_ymax;
extern std::atomic<int> servo_x, servo_xk, servo_xd, servo_xksen, servo_xdsen;
extern std::atomic<int> servo_y, servo_yk, servo_yd, servo_yksen, servo_ydsen;
constexpr int kServoCentreX = 1400;
constexpr int kServoCentreY = 1850;

// Centres the head: all five X variables 1400, all five Y variables 1850.
void centreAllServoVariables();

extern int cport_nr;  // serial port index of the servo controller: 1 = COM2
extern int bdrate;    // its baud rate

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
