#pragma once
// The hardware steps of the robot's start-up and shutdown, run by sysinitas and
// meniupabaiga. Each missing device is reported on its console row; none stops
// the robot.

// Opens serial port cport_nr at bdrate (row 42), probes the servo controller with
// "<COM number>ver" (rows 43, 44) and centres the head when it answered.
void sysinitasSerial();
// Opens the I/O board (row 46), initialises board 0 (row 48) and sets up its pins:
// port B outputs at level 1, port E pins 0..3 inputs, then port B inputs.
void sysinitasBoard();

// Centres the head, waits 2 s for it to get there, then switches both servos off.
void shutdownHead();
// Closes the I/O board, then the serial port.
void closeHardware();

// The two halves of closeHardware, for re-initialising the interfaces.
void closeSerialPort();
void closeBoardHandle();
