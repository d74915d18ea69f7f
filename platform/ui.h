#pragma once
// The robot's image windows. With a display they are highgui windows; without
// one (no DISPLAY, or tests) they live in memory: the last picture shown in each
// can be read back, and key waits sleep on the robot's clock and take keys from
// the terminal or the scripted key source. Modes call only this layer.

#include <opencv2/core.hpp>
#include <opencv2/highgui.hpp>

#include <string>

namespace ui {

// The two camera windows the robot opens at start-up.
constexpr const char* kRightWindow = "Desine";
constexpr const char* kLeftWindow = "Kaire";

// Headless is chosen at first use from the environment (no DISPLAY, or
// ROBOTAS_HEADLESS=1); tests set it explicitly.
void setHeadless(bool on);
bool headless();

void namedWindow(const std::string& name, int flags = cv::WINDOW_AUTOSIZE);
void moveWindow(const std::string& name, int x, int y);
void resizeWindow(const std::string& name, int width, int height);
void bringToFront(const std::string& name);
void show(const std::string& name, const cv::Mat& image);
void destroyWindow(const std::string& name);
void destroyAllWindows();

bool windowExists(const std::string& name);
cv::Mat lastShown(const std::string& name);  // empty when nothing was shown
int showCount(const std::string& name);
cv::Point windowPosition(const std::string& name);

// Waits up to delayMs (0: until a key) and returns the key, or -1.
int waitKey(int delayMs);

void setMouseCallback(const std::string& window, cv::MouseCallback callback, void* userdata = nullptr);
// Delivers a mouse event to a window's callback (headless windows, tests).
void sendMouse(const std::string& window, int event, int x, int y, int flags = 0);

int createTrackbar(const std::string& trackbar, const std::string& window, int* value, int count,
                   cv::TrackbarCallback onChange = nullptr, void* userdata = nullptr);
int getTrackbarPos(const std::string& trackbar, const std::string& window);
void setTrackbarPos(const std::string& trackbar, const std::string& window, int pos);

}  // namespace ui
