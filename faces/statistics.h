#pragma once
// Figures of the face subsystem that the statistics screen shows.

extern int noofegineface;     // eigenfaces in the last stored eigenface picture
extern int nooftraingimage;   // pictures in the last training list
extern float confi;           // confidence of the last face of a recognition test
extern int accuracy;          // percentage of correct answers of the last recognition test
extern float detectiontime;   // average milliseconds per face of the last recognition test
extern int detectfacetime;    // milliseconds of the last face detection (detector only)
