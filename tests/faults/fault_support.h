#pragma once
// Helpers of the fault tests: the Aloe pair as the two cameras, the Q matrix
// of the depth mode, and bounded real-time waits for what a running mode shows.

#include <functional>
#include <string>

namespace faults {

// ./video<index> folders holding the Aloe pair (right camera kamera1, left kamera2).
void recordAloe();
// Q.xml as the block-matching mode reads it.
void writeQ();
// Waits (real time, bounded) until condition holds; its last value.
bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 60000);
// Waits until the window has been shown at least count times.
bool waitForShows(const std::string& window, int count, int timeoutMs = 60000);

}  // namespace faults
