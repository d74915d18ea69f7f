#include "faces/camera/camera.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/datafiles.h"
#include "platform/devices.h"
#include "platform/serial.h"
#include "platform/ui.h"
#include "faces/camera/scene.h"
#include "shell/console/f_graph.h"

int kamera1 = 1;
int kamera2 = 2;
int plotis = 320;
int aukstis = 240;
int ekranorezimas = 2;

cv::VideoCapture camera;
cv::VideoCapture camera1;
cv::Mat shownImg;
cv::Mat shownImg1;

namespace {

constexpr long long kNoCameraPauseMs = 2000;
constexpr double kPictureFolderFps = 25.0;  // a folder of pictures plays as a 25-frame camera
constexpr double kMaxRecordingFps = 240.0;  // above this a file's own rate is not believed

// What one eye keeps between frames: the file it plays (to start it again at its
// end), when its next frame is due, and the frame buffer handed to the caller.
struct Eye {
    cv::VideoCapture& capture;
    const char* missingText;
    int warningRow;
    std::string source;  // file or picture folder; empty for a video device
    std::shared_ptr<scene::Scene> scene;  // when the source is a scene file
    int index = 0;
    cv::Mat frame;
    double frameIntervalMs = 0;  // 0: a real camera, which keeps its own pace
    double nextFrameDueMs = 0;
};

Eye rightEye{camera, "Nera desined kameros", 40, {}, {}, 0, {}};
Eye leftEye{camera1, "Nera kaires kameros", 41, {}, {}, 0, {}};

// The simulated head moves with every command a servo controller took.
void moveSimulatedHead(const unsigned char* bytes, std::size_t size) {
    scene::robotHead().take(std::string(bytes, bytes + size), platform::nowMs());
}
const bool headFollowsTheSerialLine = (platform::observeSerialWrites(moveSimulatedHead), true);

bool opened(const Eye& eye) { return eye.capture.isOpened() || eye.scene; }

bool openScene(Eye& eye) {
    auto loaded = std::make_shared<scene::Scene>();
    const std::string fault = scene::load(eye.source, *loaded);
    if (!fault.empty()) {
        std::fprintf(stderr, "%s\n", fault.c_str());
        return false;
    }
    eye.scene = loaded;
    scene::startOf(eye.source, platform::nowMs());
    return true;
}

// The view of the scene from where the head is now, and its log line.
void renderScene(Eye& eye) {
    const scene::Scene& s = *eye.scene;
    const long long now = platform::nowMs();
    const cv::Point2d pulses = scene::robotHead().pulses(s.panChannel, s.panCentre, s.tiltChannel, s.tiltCentre, now);
    const scene::HeadAngles head = scene::headAngles(s, pulses.x, pulses.y);
    const long long sceneMs = now - scene::startOf(s.path, now);
    std::vector<scene::Seen> seen;
    eye.frame = scene::view(s, head, sceneMs / 1000.0, cv::Size(plotis, aukstis), &seen);
    if (!s.logPath.empty()) platform::appendToFile(s.logPath, scene::logLine(sceneMs, eye.index, eye.frame.size(), head, seen));
}

// The first picture of a folder of numbered pictures; OpenCV plays the sequence
// from the number in its name onwards.
std::string firstPictureIn(const std::string& folder) {
    const std::vector<std::string> names = platform::filesInFolder(folder);
    return names.empty() ? std::string() : names.front();
}

bool openSource(Eye& eye) {
    if (platform::isDirectory(eye.source)) {
        const std::string first = firstPictureIn(eye.source);
        return !first.empty() && eye.capture.open(first, cv::CAP_IMAGES);
    }
    if (eye.capture.open(eye.source, cv::CAP_ANY)) return true;
    return eye.capture.open(eye.source, cv::CAP_IMAGES);
}

// A recording stands in for a camera, so it delivers frames at the camera's
// pace: a video file at its own frame rate, a picture folder at 25 a second.
double recordingFrameIntervalMs(Eye& eye) {
    double fps = kPictureFolderFps;
    if (!platform::isDirectory(eye.source) && !eye.scene) {
        const double fileFps = eye.capture.get(cv::CAP_PROP_FPS);
        if (fileFps >= 1.0 && fileFps <= kMaxRecordingFps) fps = fileFps;
    }
    return 1000.0 / fps;
}

// A mode that asks sooner than the next frame is due waits for it on the
// robot's clock; one that asks late gets the frame at once, as from a camera.
void waitForFrameDue(Eye& eye) {
    if (eye.frameIntervalMs <= 0) return;
    const double now = static_cast<double>(platform::nowMs());
    if (eye.nextFrameDueMs > now) {
        platform::sleepMs(static_cast<long long>(eye.nextFrameDueMs - now + 0.5));
    }
    eye.nextFrameDueMs = std::max(eye.nextFrameDueMs + eye.frameIntervalMs, now);
}

void open(Eye& eye, int index) {
    const std::string local = platform::cameraFilePath(index);
    eye.source.clear();
    eye.scene.reset();
    eye.index = index;
    eye.frameIntervalMs = 0;
    if (local.empty()) {
        eye.capture.open(index, cv::CAP_V4L2);
    } else if (platform::isCharacterDevice(local)) {
        eye.capture.open(local, cv::CAP_V4L2);
    } else {
        eye.source = local;
        if (scene::isSceneFile(local) ? openScene(eye) : openSource(eye)) {
            eye.frameIntervalMs = recordingFrameIntervalMs(eye);
            eye.nextFrameDueMs = static_cast<double>(platform::nowMs());
        }
    }
    if (!opened(eye)) {
        gf.gotoxy(7, eye.warningRow);
        gf.warning(eye.missingText);
        platform::sleepMs(kNoCameraPauseMs);
    }
    eye.capture.set(cv::CAP_PROP_FRAME_WIDTH, static_cast<double>(plotis));
    eye.capture.set(cv::CAP_PROP_FRAME_HEIGHT, static_cast<double>(aukstis));
}

bool grab(Eye& eye) {
    if (!opened(eye)) return false;
    waitForFrameDue(eye);
    if (eye.scene) return renderScene(eye), true;
    if (eye.capture.read(eye.frame) && !eye.frame.empty()) return true;
    if (eye.source.empty()) return false;
    // A recording stands in for the camera: play it again from its start.
    eye.capture.release();
    return openSource(eye) && eye.capture.read(eye.frame) && !eye.frame.empty();
}

cv::Mat frameOf(Eye& eye, int index) {
    if (!opened(eye)) open(eye, index);
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
    eye.scene.reset();
    eye.frameIntervalMs = 0;
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

namespace {
const cv::Scalar kNoticeRed(0, 0, 255);
constexpr int kNoticeFont = cv::FONT_HERSHEY_PLAIN | cv::FONT_ITALIC;
}  // namespace

void stretchToFullRange(cv::Mat& frame) {
    if (frame.empty()) return;
    cv::normalize(frame, frame, 0, 255, cv::NORM_MINMAX);
}

void showDisplayOffNotice() {
    cv::Mat picture = shownImg.empty() ? cv::Mat(aukstis, plotis, CV_8UC3, cv::Scalar::all(0)) : shownImg;
    const int lineType = cv::LINE_AA;
    cv::putText(picture, "Vaizdas isjungtas", cv::Point(10, 60), kNoticeFont, 2.0, kNoticeRed, 1, lineType);
    cv::putText(picture, "Didesnis greitis", cv::Point(10, 120), kNoticeFont, 2.0, kNoticeRed, 1, lineType);
    cv::putText(picture, "Maziau resursu", cv::Point(10, 180), kNoticeFont, 2.0, kNoticeRed, 1, lineType);
    ui::show(ui::kRightWindow, picture);
    ui::show(ui::kLeftWindow, picture);
}
