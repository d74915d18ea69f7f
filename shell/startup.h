#pragma once
// The robot program's two ends: start-up (main's steps and sysinitas) and the
// orderly shutdown, plus the console re-placement after a mode.

int robotasMain();
void sysinitas();
void meniupabaiga();
void RAM_minimize_refresh();
void perkrautiInterfeisus();  // re-initialises the external interfaces

// Texts the console shows for the linked vision library.
const char* visionLibraryVersionLine(); // e.g. "OpenCV  4.6.0 (4.6.0)"
