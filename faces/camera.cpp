#include "faces/camera.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/devices.h"
#include "shell/config.h"
#include "shell/f_graph.h"

cv::VideoCapture camera;
cv::VideoCapture camera1;

namespace {

constexpr long long kNoCameraPauseMs = 2000;

// What one eye keeps between frames: the file it plays (to start it again at its
// end) and the frame buffer handed to the caller.
struct Eye {
    cv::VideoCapture& capture;
    const char* missingText;
    int warningRow;
    std::string source;  // file or picture folder; empty for a video device
    cv::Mat frame;
};

Eye rightEye{camera, "Nera desined kameros", 40, {}, {}};
Eye leftEye{camera1, "Nera kaires kameros", 41, {}, {}};

bool isCharacterDevice(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISCHR(info.st_mode);
}

// The first picture of a folder of numbered pictures; OpenCV plays the sequence
// from the number in its name onwards.
std::string firstPictureIn(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        if (entry.is_regular_file(error)) names.push_back(entry.path().string());
    }
    if (names.empty()) return {};
    std::sort(names.begin(), names.end());
    return names.front();
}

bool openSource(Eye& eye) {
    if (std::filesystem::is_directory(eye.source)) {
        const std::string first = firstPictureIn(eye.source);
        return !first.empty() && eye.capture.open(first, cv::CAP_IMAGES);
    }
    if (eye.capture.open(eye.source, cv::CAP_ANY)) return true;
    return eye.capture.open(eye.source, cv::CAP_IMAGES);
}

void open(Eye& eye, int index) {
    const std::string local = platform::cameraFilePath(index);
    eye.source.clear();
    if (local.empty()) {
        eye.capture.open(index, cv::CAP_V4L2);
    } else if (isCharacterDevice(local)) {
        eye.capture.open(local, cv::CAP_V4L2);
    } else {
        eye.source = local;
        openSource(eye);
    }
    if (!eye.capture.isOpened()) {
        gf.gotoxy(7, eye.warningRow);
        gf.warning(eye.missingText);
        platform::sleepMs(kNoCameraPauseMs);
    }
    eye.capture.set(cv::CAP_PROP_FRAME_WIDTH, static_cast<double>(plotis));
    eye.capture.set(cv::CAP_PROP_FRAME_HEIGHT, static_cast<double>(aukstis));
}

bool grab(Eye& eye) {
    if (!eye.capture.isOpened()) return false;
    if (eye.capture.read(eye.frame) && !eye.frame.empty()) return true;
    if (eye.source.empty()) return false;
    // A recording stands in for the camera: play it again from its start.
    eye.capture.release();
    return openSource(eye) && eye.capture.read(eye.frame) && !eye.frame.empty();
}

cv::Mat frameOf(Eye& eye, int index) {
    if (!eye.capture.isOpened()) open(eye, index);
    if (!grab(eye)) {
        std::fputs("Nera prisijungimo prie kameros ar video srauto.\n", stderr);
        platform::sleepMs(kNoCameraPauseMs);
        return cv::Mat();
    }
    return eye.frame;
}

void release(Eye& eye) {
    eye.capture.release();
    eye.frame.release();
    eye.source.clear();
}

}  // namespace

cv::Mat getCameraFrame() { return frameOf(rightEye, kamera1); }
cv::Mat getCameraFrame1(int index) { return frameOf(leftEye, index); }

void releaseRightCamera() { release(rightEye); }
void releaseLeftCamera() { release(leftEye); }
void releaseCameras() {
    releaseRightCamera();
    releaseLeftCamera();
}
