// The two depth modes: block matching (steers the head) and graph cuts (display).

#include "stereo/stereo_modes.h"

#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc.hpp>

#include <cstdlib>
#include <string>

#include "faces/camera/camera.h"
#include "hardware/hardware.h"
#include "platform/clock.h"
#include "platform/devices.h"
#include "platform/ui.h"
#include "shell/console/f_graph.h"
#include "stereo/stereo.h"

namespace {

constexpr int kDepthFrameWidth = 320;
constexpr int kDepthFrameHeight = 240;
constexpr int kLeaveKey = 'm';
// The depth views mark centres with soft-edged discs.
constexpr int kSoftDisc = cv::LINE_AA;

// Trackbar callbacks: the loops read the trackbar variables themselves.
void myBMTrackbarkoeficientas(int, void*) {}
void myBMTrackbarkoeficientas1(int, void*) {}
void myBMTrackbarkoeficientas3(int, void*) {}
void myBMTrackbarkoeficientas4(int, void*) {}
void myGCTrackbarkoeficientas(int, void*) {}
void myGCTrackbarkoeficientas1(int, void*) {}
void myGCTrackbarkoeficientas3(int, void*) {}
void myGCTrackbarkoeficientas4(int, void*) {}

struct DepthTrackbars {
    int K, K1, K3 = 0, K4 = 128;
};

struct DepthWindows {
    std::string depth, depth3d;
};

void createDepthWindows(const DepthWindows& windows, DepthTrackbars& bars,
                        cv::TrackbarCallback onK, cv::TrackbarCallback onK1,
                        cv::TrackbarCallback onK3, cv::TrackbarCallback onK4) {
    ui::namedWindow(windows.depth);
    ui::moveWindow(windows.depth, 6, aukstis + 52);
    ui::bringToFront(windows.depth);
    ui::createTrackbar("K", windows.depth, &bars.K, 4096, onK);
    ui::createTrackbar("K1", windows.depth, &bars.K1, 1024, onK1);
    ui::namedWindow(windows.depth3d);
    ui::moveWindow(windows.depth3d, plotis + 35, aukstis + 52);
    ui::bringToFront(windows.depth3d);
    ui::createTrackbar("K3", windows.depth3d, &bars.K3, 1024, onK3);
    ui::createTrackbar("K4", windows.depth3d, &bars.K4, 1024, onK4);
}

// The reprojection matrix from Q.xml in the working directory: the file's
// first node, a 4 x 4 matrix. Empty when missing or unusable; the modes then
// go on without the 3-D view.
cv::Mat loadReprojection() {
    if (!platform::fileReadable("Q.xml")) return {};
    try {
        cv::FileStorage fs("Q.xml", cv::FileStorage::READ);
        if (!fs.isOpened()) return {};
        cv::Mat Q;
        fs.getFirstTopLevelNode() >> Q;
        if (Q.rows != 4 || Q.cols != 4 || Q.channels() != 1) return {};
        Q.convertTo(Q, CV_64F);
        return Q;
    } catch (const cv::Exception&) {
        return {};
    }
}

void warnWithoutReprojection(const cv::Mat& Q) {
    if (!Q.empty()) return;
    gf.gotoxy(4, 44);
    gf.printf("KLAIDA: nerastas Q.xml - 3D vaizdo nebus\n");
}

cv::Mat reproject(const cv::Mat& disparity, const cv::Mat& Q, bool handleMissing) {
    if (Q.empty()) return cv::Mat(disparity.size(), CV_32FC3, cv::Scalar::all(0));
    cv::Mat points;
    cv::reprojectImageTo3D(disparity, points, Q, handleMissing);
    return points;
}

// A camera frame as the depth modes work on it: a copy (the capture keeps its
// buffer), colour, at the modes' frame size. Empty when the camera gave none.
cv::Mat depthFrame(const cv::Mat& frame) {
    if (frame.empty()) return {};
    cv::Mat copy;
    if (frame.channels() == 1)
        cv::cvtColor(frame, copy, cv::COLOR_GRAY2BGR);
    else if (frame.channels() == 4)
        cv::cvtColor(frame, copy, cv::COLOR_BGRA2BGR);
    else
        copy = frame.clone();
    if (copy.size() != cv::Size(plotis, aukstis)) cv::resize(copy, copy, cv::Size(plotis, aukstis));
    return copy;
}

void stretch(cv::Mat& frame) { cv::normalize(frame, frame, 0, 255, cv::NORM_MINMAX); }

void smoothVertically(cv::Mat& frame) { cv::GaussianBlur(frame, frame, cv::Size(5, 25), 0, 0); }

void closeGaps(cv::Mat& frame, int iterations) {
    cv::dilate(frame, frame, cv::Mat(), cv::Point(-1, -1), iterations);
    cv::erode(frame, frame, cv::Mat(), cv::Point(-1, -1), iterations);
}

cv::Mat grey(const cv::Mat& frame) {
    cv::Mat out;
    cv::cvtColor(frame, out, cv::COLOR_BGR2GRAY);
    return out;
}

bool leaveKey() { return (keyPressed & 0xFF) == kLeaveKey; }

// Both frames of this round, stretched and shown; false when a camera gave none.
bool takeFrames(cv::Mat& right, cv::Mat& left) {
    right = depthFrame(getCameraFrame());
    left = depthFrame(getCameraFrame1(kamera2));
    if (right.empty() || left.empty()) return false;
    stretch(left);
    stretch(right);
    ui::show("Desine", right);
    ui::show("Kaire", left);
    return true;
}

// The block-matching mode's per-frame head steering from the two centres.
void steerTowardsDepth(const cv::Rect& region, cv::Point bright, cv::Point dark) {
    servo_x += panStepTowards(region, dark);
    servo_greitisX = std::abs(plotis / 2 - bright.x) / 10 + 500;
    servo_greitisY = std::abs(aukstis / 2 - bright.y) / 10 + 700;
    servo_xksen = servo_x.load();
    if (startMechanika()) joinMechanika();
}

void markCentres(cv::Mat& points3d, cv::Mat& view, cv::Point bright, cv::Point dark,
                 const cv::Scalar& brightMark, const cv::Scalar& darkMark) {
    if (bright.x >= 0) {  // a picture without bright or dark part has no centre to mark
        cv::circle(points3d, bright, 3, cv::Scalar(0, 255, 0), -1, cv::LINE_8);
        cv::circle(view, bright, 8, brightMark, -1, kSoftDisc);
    }
    if (dark.x >= 0) {
        cv::circle(points3d, dark, 3, cv::Scalar(255, 0, 0), -1, cv::LINE_8);
        cv::circle(view, dark, 8, darkMark, -1, kSoftDisc);
    }
}

}  // namespace

void stereoBM() {
    plotis = kDepthFrameWidth;
    aukstis = kDepthFrameHeight;
    const DepthWindows windows{"stereoBM gylis", "stereoBM gylis 3D"};
    DepthTrackbars bars{500, 70};
    createDepthWindows(windows, bars, myBMTrackbarkoeficientas, myBMTrackbarkoeficientas1,
                       myBMTrackbarkoeficientas3, myBMTrackbarkoeficientas4);
    cv::Ptr<cv::StereoBM> matcher = createRobotStereoBM();
    const cv::Mat Q = loadReprojection();
    warnWithoutReprojection(Q);
    cv::Mat view(aukstis, plotis, CV_8UC1, cv::Scalar(0));  // shown black until a first scale
    servo_x = 1400;
    servo_y = 1800;
    akys_servo();
    DisparityRing ring;

    do {
        cv::Mat right, left;
        if (takeFrames(right, left)) {
            smoothVertically(right);
            smoothVertically(left);
            smoothVertically(right);
            smoothVertically(left);
            closeGaps(right, 5);
            closeGaps(left, 5);
            cv::Mat disparity;
            matcher->compute(grey(left), grey(right), disparity);
            double lowest = 0, highest = 0;
            cv::minMaxLoc(disparity, &lowest, &highest);
            ring.push(highest);
            scaleDisparityView(disparity, view, bars.K, bars.K1);
            gf.gotoxy(4, 42);
            gf.printf("Min disp: %f Atstumas: %f \n", lowest, ring.distanceValue());

            cv::Mat points3d = reproject(disparity, Q, false);
            cv::Mat shownView = view.clone();
            const DepthCentres centres = findDepthCentres(shownView);
            markCentres(points3d, shownView, centres.bright, centres.dark,
                        cv::Scalar(255, 255, 255), cv::Scalar(127, 127, 127));
            ui::show(windows.depth3d, points3d);
            ui::show(windows.depth, shownView);
            steerTowardsDepth(stereoMeasuringRegion(plotis, aukstis), centres.bright, centres.dark);
        }
        keyPressed = ui::waitKey(1);
    } while (!leaveKey());

    ui::destroyWindow(windows.depth);
    ui::destroyWindow(windows.depth3d);
}

void stereoGC() {
    plotis = kDepthFrameWidth;
    aukstis = kDepthFrameHeight;
    const DepthWindows windows{"stereoGC gylis", "stereoGC gylis 3D"};
    DepthTrackbars bars{200, 1};
    createDepthWindows(windows, bars, myGCTrackbarkoeficientas, myGCTrackbarkoeficientas1,
                       myGCTrackbarkoeficientas3, myGCTrackbarkoeficientas4);
    const GCState state = createStereoGCState(16, 2);
    const cv::Mat Q = loadReprojection();
    warnWithoutReprojection(Q);
    cv::Mat view(aukstis, plotis, CV_8UC1, cv::Scalar(0));

    do {
        const long long started = platform::nowMs();
        cv::Mat right, left;
        if (takeFrames(right, left)) {
            smoothVertically(right);
            smoothVertically(left);
            closeGaps(right, 1);
            closeGaps(left, 1);
            cv::Mat dispLeft, dispRight;
            findStereoCorrespondenceGC(grey(left), grey(right), dispLeft, dispRight, state);
            double lowest = 0, highest = 0;
            cv::minMaxLoc(dispLeft, &lowest, &highest);
            scaleGCDisparityView(dispLeft, view, bars.K, bars.K1);
            gf.gotoxy(4, 40);
            gf.printf("Min disp: %f Max value: %f \n", lowest, highest);

            cv::Mat points3d = reproject(dispLeft, Q, true);
            cv::Mat points8u;
            points3d.convertTo(points8u, CV_8U);
            cv::Mat work = grey(points8u);
            const cv::Point bright = COG(work);
            const cv::Point dark = AntiCOG(work);
            cv::Mat shownView = view.clone();
            markCentres(points3d, shownView, bright, dark, cv::Scalar::all(200),
                        cv::Scalar::all(200));
            ui::show(windows.depth3d, points3d);
            ui::show(windows.depth, shownView);
        }
        gf.gotoxy(4, 42);
        gf.printf("Steroe skaiciavimo laikas = %ld  ms\n", long(platform::nowMs() - started));
        keyPressed = ui::waitKey(5000);
    } while (!leaveKey());

    releaseCameras();
    ui::destroyWindow(windows.depth);
    ui::destroyWindow(windows.depth3d);
}

void Klaidziojimas() {}
