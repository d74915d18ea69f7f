#pragma once
// Face profile following: both cameras look for a face seen from the side (the
// pictures and their mirror images, for faces turned either way), the head
// follows it, the robot tells the person every 3 s which way to turn and
// estimates the distance; after 15 s without a face it looks around and calls
// out, then again every 7 s.

#include "hardware/hardware.h"

// The profile mode; runs until m.
void VeidoProfilis();

// One frame's steering (the faces are mirrored when they were found in the
// mirror images; their x then counts in the mirror image): the k pair follows the left face, the d pair the right
// one; true when that camera's face was there.
bool followLeftProfile(const steering::FacePair& faces);
bool followRightProfile(const steering::FacePair& faces);
