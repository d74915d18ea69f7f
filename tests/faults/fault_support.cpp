#include "tests/faults/fault_support.h"

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/ui.h"
#include "faces/camera/camera.h"
#include "tests/support/robot_test.h"
#include "tests/support/stereo_data.h"

namespace faults {

namespace {

void recordFrame(int index, const cv::Mat& frame) {
    const std::string folder = "video" + std::to_string(index);
    std::filesystem::create_directories(folder);
    cv::imwrite(folder + "/frame001.png", frame);
}

}  // namespace

void recordAloe() {
    recordFrame(kamera1, cv::imread(robotest::testData("stereo/aloeR_320x240.png")));
    recordFrame(kamera2, cv::imread(robotest::testData("stereo/aloeL_320x240.png")));
}

void writeQ() { robotest::writeTestReprojectionMatrix(); }

bool waitUntil(const std::function<bool()>& condition, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

bool waitForShows(const std::string& window, int count, int timeoutMs) {
    return waitUntil([&] { return ui::showCount(window) >= count; }, timeoutMs);
}

}  // namespace faults
