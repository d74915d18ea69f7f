#pragma once
// Face profile following: both cameras look for a face seen from the side (the
// pictures and their mirror images, for faces turned either way), the head
// follows it, the robot tells the person every 3 s which way to turn and
// estimates the distance; after 15 s without a face it looks around and calls
// out, then again every 7 s.

// The profile mode; runs until m.
void VeidoProfilis();
