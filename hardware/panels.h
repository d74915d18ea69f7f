#pragma once
// The hardware test panels of the system menu: move the head by keys while both
// camera pictures are shown, and watch the servo controller's inputs (ssc32inDemo)
// or the I/O board's pins and ports (eproaktyv). Both return on the key m.

#include <opencv2/core.hpp>

// Last levels read from board ports E and D.
extern unsigned char eProInputE, eProInputD;

void ssc32inDemo();
void eproaktyv();

// The panels show both cameras at 320 x 240.
constexpr int kPanelFrameWidth = 320, kPanelFrameHeight = 240;

// Where the panels take their frames and how they ask the cameras for their
// size. The program passes its cameras; until then (and in tests without
// cameras) the panels run without pictures.
struct PanelCameras {
    cv::Mat (*right)() = nullptr;
    cv::Mat (*left)() = nullptr;
    void (*setFrameSize)(int width, int height) = nullptr;
};
void setPanelCameras(const PanelCameras& cameras);
