#include "platform/ui.h"

#include <cstdlib>
#include <map>
#include <mutex>

#include "platform/clock.h"
#include "platform/keys.h"

namespace ui {
namespace {

struct Trackbar {
    int* value = nullptr;
    int count = 0;
    cv::TrackbarCallback onChange = nullptr;
    void* userdata = nullptr;
};

struct Window {
    cv::Mat lastPicture;
    int shown = 0;
    cv::Point position;
    cv::MouseCallback mouse = nullptr;
    void* mouseData = nullptr;
    std::map<std::string, Trackbar> trackbars;
};

std::recursive_mutex uiLock;
std::map<std::string, Window> windows;
int headlessState = -1;  // -1: not decided yet

using Guard = std::lock_guard<std::recursive_mutex>;

bool decideHeadless() {
    const char* forced = std::getenv("ROBOTAS_HEADLESS");
    if (forced && *forced && std::string(forced) != "0") return true;
    const char* display = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return !((display && *display) || (wayland && *wayland));
}

Window& windowNamed(const std::string& name) { return windows[name]; }

// Headless key wait: the robot's clock passes, then a waiting key is taken.
int headlessWaitKey(int delayMs) {
    if (delayMs <= 0) return platform::_getch();
    platform::sleepMs(delayMs);
    return platform::_kbhit() ? platform::_getch() : -1;
}

}  // namespace

void setHeadless(bool on) {
    Guard guard(uiLock);
    headlessState = on ? 1 : 0;
}

bool headless() {
    Guard guard(uiLock);
    if (headlessState < 0) headlessState = decideHeadless() ? 1 : 0;
    return headlessState == 1;
}

void namedWindow(const std::string& name, int flags) {
    Guard guard(uiLock);
    windowNamed(name);
    // Without the toolbar the window is as wide as its picture, so the two
    // cameras sit side by side where the modes place them.
    if (!headless()) cv::namedWindow(name, flags | cv::WINDOW_GUI_NORMAL);
}

void moveWindow(const std::string& name, int x, int y) {
    Guard guard(uiLock);
    windowNamed(name).position = {x, y};
    if (!headless()) cv::moveWindow(name, x, y);
}

void resizeWindow(const std::string& name, int width, int height) {
    Guard guard(uiLock);
    windowNamed(name);
    if (!headless()) cv::resizeWindow(name, width, height);
}

void bringToFront(const std::string& name) {
    Guard guard(uiLock);
    if (!headless() && windows.count(name)) cv::setWindowProperty(name, cv::WND_PROP_TOPMOST, 0);
}

void show(const std::string& name, const cv::Mat& image) {
    if (image.empty()) return;
    Guard guard(uiLock);
    Window& window = windowNamed(name);
    image.copyTo(window.lastPicture);
    ++window.shown;
    if (!headless()) cv::imshow(name, image);
}

void destroyWindow(const std::string& name) {
    Guard guard(uiLock);
    if (!windows.erase(name)) return;
    if (!headless()) cv::destroyWindow(name);
}

void destroyAllWindows() {
    Guard guard(uiLock);
    windows.clear();
    if (!headless()) cv::destroyAllWindows();
}

bool windowExists(const std::string& name) {
    Guard guard(uiLock);
    return windows.count(name) > 0;
}

cv::Mat lastShown(const std::string& name) {
    Guard guard(uiLock);
    auto it = windows.find(name);
    return it == windows.end() ? cv::Mat() : it->second.lastPicture.clone();
}

int showCount(const std::string& name) {
    Guard guard(uiLock);
    auto it = windows.find(name);
    return it == windows.end() ? 0 : it->second.shown;
}

cv::Point windowPosition(const std::string& name) {
    Guard guard(uiLock);
    auto it = windows.find(name);
    return it == windows.end() ? cv::Point() : it->second.position;
}

int waitKey(int delayMs) {
    if (headless() || platform::scriptedKeys()) return headlessWaitKey(delayMs);
    return cv::waitKey(delayMs);
}

void setMouseCallback(const std::string& window, cv::MouseCallback callback, void* userdata) {
    Guard guard(uiLock);
    Window& w = windowNamed(window);
    w.mouse = callback;
    w.mouseData = userdata;
    if (!headless()) cv::setMouseCallback(window, callback, userdata);
}

void sendMouse(const std::string& window, int event, int x, int y, int flags) {
    cv::MouseCallback callback = nullptr;
    void* data = nullptr;
    {
        Guard guard(uiLock);
        auto it = windows.find(window);
        if (it == windows.end()) return;
        callback = it->second.mouse;
        data = it->second.mouseData;
    }
    if (callback) callback(event, x, y, flags, data);
}

int createTrackbar(const std::string& trackbar, const std::string& window, int* value, int count,
                   cv::TrackbarCallback onChange, void* userdata) {
    Guard guard(uiLock);
    windowNamed(window).trackbars[trackbar] = Trackbar{value, count, onChange, userdata};
    if (headless()) return 1;
    return cv::createTrackbar(trackbar, window, value, count, onChange, userdata);
}

int getTrackbarPos(const std::string& trackbar, const std::string& window) {
    Guard guard(uiLock);
    auto it = windows.find(window);
    if (it == windows.end()) return -1;
    auto bar = it->second.trackbars.find(trackbar);
    if (bar == it->second.trackbars.end() || !bar->second.value) return -1;
    return *bar->second.value;
}

void setTrackbarPos(const std::string& trackbar, const std::string& window, int pos) {
    Trackbar bar;
    {
        Guard guard(uiLock);
        auto it = windows.find(window);
        if (it == windows.end()) return;
        auto found = it->second.trackbars.find(trackbar);
        if (found == it->second.trackbars.end()) return;
        bar = found->second;
        if (bar.value) *bar.value = std::max(0, std::min(pos, bar.count));
        if (!headless()) cv::setTrackbarPos(trackbar, window, pos);
    }
    if (bar.onChange && bar.value) bar.onChange(*bar.value, bar.userdata);
}

}  // namespace ui
