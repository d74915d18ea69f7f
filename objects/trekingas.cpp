// Point tracking: follows chosen points in the left camera by pyramidal
// Lucas-Kanade flow and turns the head after them.

#include <opencv2/imgproc.hpp>
#include <opencv2/video/tracking.hpp>

#include <cmath>
#include <cstdlib>

#include "faces/camera/camera.h"
#include "hardware/hardware.h"
#include "platform/ui.h"
#include "shell/console/f_graph.h"
#include "objects/tracking_modes.h"

int win_size = 10;

namespace {

constexpr int kPyramidLevels = 3;
constexpr double kCornerQuality = 0.01;
constexpr double kCornerSpacing = 10;
constexpr float kRemoveRadiusSquared = 25;  // a click within 5 pixels drops a point
constexpr int kFrameWaitMs = 100;

const cv::TermCriteria kRefineCriteria(cv::TermCriteria::COUNT | cv::TermCriteria::EPS, 20, 0.03);

cv::Size searchWindow() { return cv::Size(win_size, win_size); }

void refine(const cv::Mat& grey, std::vector<cv::Point2f>& points) {
    if (points.empty()) return;
    cv::cornerSubPix(grey, points, searchWindow(), cv::Size(-1, -1), kRefineCriteria);
}

void runMechanicsStep() {
    if (startMechanika()) joinMechanika();
}

void showTrackingHelp() {
    gf.clrscr();
    gf.showKeyHelp(plotis, aukstis, f_graph::SizeAndLibrary,
                   {" [m] - uzdaryti 'Roboto' programa", " [r]   - auto tasku sekimas", " [c]   - trinti pasirinkima",
                    " [n]   - naktinis rez", " Pasirinkti sekimo taska pele "});
}

cv::Point selectionOrigin;
cv::Rect selection;

}  // namespace

PointTracker& pointTracker() {
    static PointTracker tracker;
    return tracker;
}

void steerHeadTowards(cv::Point2f point) {
    const float x = point.x, y = point.y;
    const float dy = aukstis / 2 - y;
    steering::stepTarget(servo_yk, steering::kPointTilt, dy, dy < 0, y);
    const float dx = plotis / 2 - x;
    steering::stepTarget(servo_xk, steering::kPointPan, dx, dx > 0, x);
    servo_greitisX = int(std::abs(plotis / 2 - x) / 70 + 20);
    servo_greitisY = int(std::abs(y - aukstis / 2) / 50 + 20);
    servo_x = servo_xk.load();
    servo_y = servo_yk.load();
}

void PointTracker::click(int x, int y) {
    if (image_.empty()) return;
    clicked_ = cv::Point2f(float(x), float(y));
    clickWaiting_ = true;
}

bool PointTracker::key(int key) {
    switch (key & 0xFF) {
        case 'm': return false;
        case 'n': nightMode_ = !nightMode_; break;
        case 'r': needToInit_ = true; break;
        case 'c': points_.clear(); break;
        default: break;
    }
    return true;
}

void PointTracker::pickCorners() {
    cv::goodFeaturesToTrack(grey_, points_, kMaxPoints, kCornerQuality, kCornerSpacing, cv::Mat(),
                            3, false, 0.04);
    refine(grey_, points_);
    clickWaiting_ = false;
}

void PointTracker::followPoints() {
    std::vector<cv::Point2f> moved;
    std::vector<unsigned char> found;
    std::vector<float> error;
    cv::calcOpticalFlowPyrLK(prevGrey_, grey_, points_, moved, found, error, searchWindow(),
                             kPyramidLevels, kRefineCriteria);
    std::vector<cv::Point2f> kept;
    for (size_t i = 0; i < moved.size(); ++i) {
        const cv::Point2f d = clicked_ - moved[i];
        if (clickWaiting_ && d.dot(d) <= kRemoveRadiusSquared) {
            clickWaiting_ = false;  // the click removed this point
            continue;
        }
        if (!found[i]) continue;
        kept.push_back(moved[i]);
        cv::circle(image_, cv::Point(cvRound(moved[i].x), cvRound(moved[i].y)), 3,
                   cv::Scalar(0, 255, 0), -1, cv::LINE_8);
        steerHeadTowards(moved[i]);
        runMechanicsStep();
    }
    points_.swap(kept);
}

void PointTracker::addClickedPoint() {
    std::vector<cv::Point2f> added{clicked_};
    refine(grey_, added);
    points_.push_back(added.front());
    clickWaiting_ = false;
}

void PointTracker::processFrame(const cv::Mat& frame) {
    cv::Mat picture;
    if (frame.channels() == 1)
        cv::cvtColor(frame, picture, cv::COLOR_GRAY2BGR);
    else
        picture = frame.clone();
    cv::normalize(picture, picture, 0, 255, cv::NORM_MINMAX);
    cv::erode(picture, picture, cv::Mat());
    // A camera that reopened at another size starts the tracking afresh.
    if (!image_.empty() && image_.size() != picture.size()) {
        points_.clear();
        prevGrey_.release();
    }
    image_ = picture;
    cv::cvtColor(image_, grey_, cv::COLOR_BGR2GRAY);
    if (nightMode_) image_.setTo(cv::Scalar::all(0));

    if (needToInit_) {
        pickCorners();
    } else {
        if (!points_.empty() && !prevGrey_.empty()) followPoints();
        if (clickWaiting_ && int(points_.size()) < kMaxPoints) addClickedPoint();
    }
    prevGrey_ = grey_.clone();
    needToInit_ = false;
}

void on_mouse(int event, int x, int y, int, void*) {
    if (event == cv::EVENT_LBUTTONDOWN) pointTracker().click(x, y);
}

void on_mouserect(int, int x, int y, int, void* param) {
    if (!param) return;
    selection = cv::Rect(std::min(x, selectionOrigin.x), std::min(y, selectionOrigin.y),
                         std::abs(x - selectionOrigin.x), std::abs(y - selectionOrigin.y));
}

// Follows chosen points with the left camera until the operator presses m.
int trekingas(int, char**) {
    releaseLeftCamera();
    plotis = 640;
    aukstis = 480;
    servo_xk = 1400;
    servo_yk = 1850;
    showTrackingHelp();
    ui::namedWindow("Sekam");
    ui::moveWindow("Sekam", 10, aukstis + 5);
    ui::bringToFront("Sekam");
    ui::setMouseCallback("Sekam", on_mouse);

    PointTracker& tracker = pointTracker();
    for (;;) {
        const cv::Mat frame = getCameraFrame1(kamera2);
        if (!frame.empty()) {
            tracker.processFrame(frame);
            ui::show("Sekam", tracker.image());
        }
        keyPressed = ui::waitKey(kFrameWaitMs);
        if (!tracker.key(keyPressed)) break;
    }
    releaseLeftCamera();
    ui::destroyWindow("Sekam");
    return 0;
}
