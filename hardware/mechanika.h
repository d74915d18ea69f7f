#pragma once
// The mechanics step: once per camera frame a short-lived worker thread sends the
// head position, reads the optical inputs and steps the chassis. A mode writes its
// targets into the shared variables (hardware/servo.h), starts the step, and joins
// it before the next one; at most one step runs at any time.

#include <atomic>

// Flag every step inverts (0, 1, 0, 1 ... over the whole run).
extern std::atomic<unsigned char> daviklisePD;

// One step: akys_servo, ssc32in, the status rows 58 and 59, vaziuokle(vazDR, 1).
void Mechanika();

// Starts one step on a worker thread. False when the thread could not be made
// (the frame then goes on without a step) or a step is still running.
bool startMechanika();
// Waits for the step started last; does nothing when none was started.
void joinMechanika();
bool mechanikaRunning();
