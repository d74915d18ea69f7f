#pragma once
// The hardware test panels of the system menu: move the head by keys while both
// camera pictures are shown, and watch the servo controller's inputs (ssc32inDemo)
// or the I/O board's pins and ports (eproaktyv). Both return on the key m.

#include <opencv2/core.hpp>

// Last levels read from board ports E and D.
extern unsigned char eProInputE, eProInputD;

void ssc32inDemo();
void eproaktyv();

// Where the panels take their frames: the right camera, and the left camera by
// device index. The program passes getCameraFrame and getCameraFrame1; until
// then (and in tests without cameras) the panels run without pictures.
using RightFrameGetter = cv::Mat (*)();
using LeftFrameGetter = cv::Mat (*)(int index);
void setPanelCameras(RightFrameGetter right, LeftFrameGetter left);
