#include "objects/judesys.h"

#include <opencv2/imgproc.hpp>
#include <opencv2/optflow/motempl.hpp>

#include <array>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "faces/camera/camera.h"
#include "hardware/hardware.h"
#include "platform/clock.h"
#include "platform/ui.h"
#include "shell/console/f_graph.h"

namespace {

constexpr double kHistorySeconds = 1.0;
constexpr double kMaxTimeDelta = 0.5;
constexpr double kMinTimeDelta = 0.05;
constexpr int kGradientAperture = 3;
constexpr double kSegmentThreshold = 0.5;
constexpr int kMinSegmentSides = 100;       // width + height of a segment worth drawing
constexpr double kMinMovingShare = 0.05;    // share of a region's pixels that must move

// The last four grey frames and the history built from them; lives for the whole
// run and starts afresh when the frame size changes.
struct MotionHistory {
    std::array<cv::Mat, 4> ring;
    int last = 0;     // slot of the next frame; holds the last silhouette
    cv::Mat mhi;      // time stamps of motion in seconds, CV_32F
    cv::Mat orient;   // gradient orientation, CV_32F
    cv::Mat segmask;  // segment labels, CV_32F
    cv::Mat mask;     // valid-gradient mask, and the history scaled to 0..255
    long long epochMs = -1;
};

MotionHistory history;

// Time stamps in seconds from the history's first use; they start at 1 s so that
// a history never touched (all zero) already counts as older than one second.
double historySeconds() {
    const long long now = platform::nowMs();
    if (history.epochMs < 0) history.epochMs = now - 1000;
    return static_cast<double>(now - history.epochMs) / 1000.0;
}

void rebuildHistory(const cv::Size& size) {
    for (cv::Mat& slot : history.ring) slot = cv::Mat::zeros(size, CV_8UC1);
    history.mhi = cv::Mat::zeros(size, CV_32FC1);
    history.orient = cv::Mat::zeros(size, CV_32FC1);
    history.segmask = cv::Mat::zeros(size, CV_32FC1);
    history.mask = cv::Mat::zeros(size, CV_8UC1);
}

// The silhouette: where the frame just stored differs from the one three frames older.
cv::Mat silhouetteOf(const cv::Mat& frame, int threshold) {
    const int previous = history.last;
    cv::cvtColor(frame, history.ring[previous], cv::COLOR_BGR2GRAY);
    history.last = (history.last + 1) % 4;
    cv::Mat& silhouette = history.ring[history.last];
    cv::absdiff(history.ring[previous], silhouette, silhouette);
    cv::threshold(silhouette, silhouette, threshold, 1, cv::THRESH_BINARY);
    return silhouette;
}

void drawMotion(cv::Mat& picture, const cv::Rect& region, const cv::Scalar& colour, double magnitude, double angle) {
    const cv::Point centre(region.x + region.width / 2, region.y + region.height / 2);
    const double a = (360.0 - angle) * CV_PI / 180.0;
    cv::circle(picture, centre, cvRound(magnitude * 1.2), colour, 3, cv::LINE_AA);
    cv::line(picture, centre,
             cv::Point(cvRound(centre.x + magnitude * std::cos(a)), cvRound(centre.y - magnitude * std::sin(a))),
             colour, 3, cv::LINE_AA);
}

// A region's direction of motion, drawn when enough of its pixels moved.
void drawRegion(cv::Mat& picture, const cv::Mat& silhouette, const cv::Rect& region, const cv::Scalar& colour,
                double magnitude, double t) {
    const double angle = cv::motempl::calcGlobalOrientation(history.orient(region), history.mask(region),
                                                            history.mhi(region), t, kHistorySeconds);
    const double moving = cv::norm(silhouette(region), cv::NORM_L1);
    if (moving < kMinMovingShare * region.width * region.height) return;
    drawMotion(picture, region, colour, magnitude, angle);
}

// One stretch of the motion watch: the background, the moving blobs, the counter.
struct MotionWatch {
    MotionWatch(int movesToEnd, long msWithoutNewMove, long long startTime)
        : maxCount(movesToEnd), timeLimit(msWithoutNewMove), start(startTime), nextMove(startTime + 1500) {}
    int maxCount;
    long timeLimit;
    long long start;
    long long nextMove;  // head moves only after nextMove + 1500 ms: the first 3 s after entry
    int count = 0;
    int previousCentre = 0;
    bool haveBackground = false;
    cv::Mat average;      // running average of the frames, CV_32FC3
    cv::Mat averageView;  // the average as a picture
    cv::Mat difference;
    cv::Mat greyMask;
};

bool watchIsOver(MotionWatch& watch) {
    const long long now = platform::nowMs();
    if (watch.timeLimit == 0) watch.start = now;
    return (keyPressed & 0xFF) == 'm' || watch.count > watch.maxCount || now - watch.start > watch.timeLimit;
}

void updateBackground(MotionWatch& watch, const cv::Mat& frame) {
    if (!watch.haveBackground || watch.average.size() != frame.size()) {
        watch.difference = frame.clone();
        watch.averageView = frame.clone();
        frame.convertTo(watch.average, CV_32FC3, 1.0, 1.0);
        watch.haveBackground = true;
        gf.wait(300);
    } else {
        cv::accumulateWeighted(frame, watch.average, 0.25);
    }
    watch.average.convertTo(watch.averageView, CV_8UC3, 1.0, 1.0);
}

cv::Mat movingMask(MotionWatch& watch, const cv::Mat& frame) {
    cv::absdiff(frame, watch.averageView, watch.difference);
    cv::cvtColor(watch.difference, watch.greyMask, cv::COLOR_RGB2GRAY);
    cv::threshold(watch.greyMask, watch.greyMask, 50, 60, cv::THRESH_BINARY);
    cv::dilate(watch.greyMask, watch.greyMask, cv::Mat(), cv::Point(-1, -1), 18);
    cv::erode(watch.greyMask, watch.greyMask, cv::Mat(), cv::Point(-1, -1), 10);
    return watch.greyMask;
}

// The outer contours in the order the contour search chains them.
std::vector<int> outerChain(const std::vector<cv::Vec4i>& hierarchy) {
    std::vector<int> chain;
    int first = -1;
    for (std::size_t i = 0; i < hierarchy.size(); ++i) {
        if (hierarchy[i][3] < 0 && hierarchy[i][1] < 0) {
            first = static_cast<int>(i);
            break;
        }
    }
    for (int i = first; i >= 0; i = hierarchy[static_cast<std::size_t>(i)][0]) chain.push_back(i);
    return chain;
}

// Keeps, after position from, only contours with more points than every one
// before them; each such larger contour restarts the time limit.
void pruneChain(std::vector<int>& chain, std::size_t from, const std::vector<std::vector<cv::Point>>& contours,
                MotionWatch& watch) {
    std::size_t largest = contours[static_cast<std::size_t>(chain[from])].size();
    std::vector<int> kept(chain.begin(), chain.begin() + static_cast<long>(from) + 1);
    for (std::size_t k = from + 1; k < chain.size(); ++k) {
        const std::size_t points = contours[static_cast<std::size_t>(chain[k])].size();
        if (points <= largest) continue;
        largest = points;
        watch.start = platform::nowMs();
        kept.push_back(chain[k]);
    }
    chain.swap(kept);
}

// Turns the head towards a moving thing's box: one mechanics step, waited for.
void turnHeadTo(const cv::Rect& box, int centreX) {
    const int dy = aukstis / 2 - box.y;
    steering::stepTarget(servo_yk, steering::kMotionTilt, dy, dy < 0, box.y);
    const int dx = plotis / 2 - centreX;
    steering::stepTarget(servo_xk, steering::kMotionPan, dx, dx > 0, centreX);
    servo_greitisX = std::abs(plotis / 2 - centreX) / 4 + 300;
    servo_greitisY = std::abs(box.y - aukstis / 2) / 4 + 200;
    servo_x = servo_xk.load();
    servo_xd = servo_xk.load();
    servo_y = servo_yk.load();
    servo_yd = servo_yk.load();
    if (startMechanika()) joinMechanika();
}

void followMovingThings(MotionWatch& watch, cv::Mat& frame) {
    std::vector<std::vector<cv::Point>> contours;
    std::vector<cv::Vec4i> hierarchy;
    cv::findContours(movingMask(watch, frame), contours, hierarchy, cv::RETR_CCOMP, cv::CHAIN_APPROX_SIMPLE);
    std::vector<int> chain = outerChain(hierarchy);
    for (std::size_t k = 0; k < chain.size(); ++k) {
        pruneChain(chain, k, contours, watch);
        const cv::Rect box = cv::boundingRect(contours[static_cast<std::size_t>(chain[k])]);
        const int right = box.x + box.width, bottom = box.y + box.height;
        const int centreX = (box.x + right) / 2;
        if (platform::nowMs() > watch.nextMove + 1500) {
            turnHeadTo(box, centreX);
            watch.nextMove = platform::nowMs();
        }
        if (centreX > 0 && centreX < plotis) {
            if (centreX > watch.previousCentre) ++watch.count;
            cv::rectangle(frame, cv::Point(box.x, box.y), cv::Point(right, bottom), cv::Scalar(0, 0, 255), 1,
                          cv::LINE_8);
        }
        watch.previousCentre = centreX;
    }
}

void showCount(const MotionWatch& watch, cv::Mat& frame) {
    cv::putText(frame, std::to_string(watch.count), cv::Point(10, 20), cv::FONT_HERSHEY_SIMPLEX, 0.8,
                cv::Scalar(0, 0, 255), 2, cv::LINE_8);
    if (ekranorezimas > 0) ui::show(ui::kLeftWindow, frame);
}

}  // namespace

void update_mhi(const cv::Mat& frame, cv::Mat& picture, int threshold) {
    if (frame.empty() || frame.channels() != 3) return;
    const double t = historySeconds();
    if (history.mhi.size() != frame.size()) rebuildHistory(frame.size());
    const cv::Mat silhouette = silhouetteOf(frame, threshold);
    cv::motempl::updateMotionHistory(silhouette, history.mhi, t, kHistorySeconds);

    // The newest motion brightest; anything older than one second black.
    history.mhi.convertTo(history.mask, CV_8U, 255.0, (1.0 - t) * 255.0);
    const cv::Mat blank = cv::Mat::zeros(frame.size(), CV_8UC1);
    cv::merge(std::vector<cv::Mat>{history.mask, blank, blank}, picture);

    cv::motempl::calcMotionGradient(history.mhi, history.mask, history.orient, kMaxTimeDelta, kMinTimeDelta,
                                    kGradientAperture);
    std::vector<cv::Rect> segments;
    cv::motempl::segmentMotion(history.mhi, history.segmask, segments, t, kSegmentThreshold);

    drawRegion(picture, silhouette, cv::Rect(0, 0, frame.cols, frame.rows), cv::Scalar(255, 255, 255), 100, t);
    for (const cv::Rect& segment : segments) {
        if (segment.width + segment.height < kMinSegmentSides) continue;
        drawRegion(picture, silhouette, segment, cv::Scalar(0, 0, 255), 30, t);
    }
}

int judesys1(int /*unused*/) {
    plotis = 320;
    aukstis = 240;
    cv::Mat picture;
    for (;;) {
        const cv::Mat frame = getCameraFrame();
        if (!frame.empty() && frame.channels() == 3) {
            if (picture.size() != frame.size()) picture = cv::Mat::zeros(frame.size(), CV_8UC3);
            update_mhi(frame, picture, 30);
            cv::addWeighted(frame, 0.6, picture, 0.4, 0.0, picture);
            ui::show(ui::kLeftWindow, picture);
        }
        if (ui::waitKey(1) >= 0) break;
    }
    return 0;
}

void judesys(int maxCount, long timeLimit) {
    plotis = 320;
    aukstis = 240;
    const long long start = platform::nowMs();
    MotionWatch watch(maxCount, timeLimit, start);
    if (ekranorezimas == 0) {
        showDisplayOffNotice();
    } else {
        ui::resizeWindow(ui::kLeftWindow, plotis, aukstis);
    }
    while (!watchIsOver(watch)) {
        shownImg1 = getCameraFrame1(kamera2);
        if (!shownImg1.empty() && shownImg1.channels() == 3) {
            stretchToFullRange(shownImg1);
            updateBackground(watch, shownImg1);
            followMovingThings(watch, shownImg1);
            showCount(watch, shownImg1);
        }
        // Keys are read even without a frame, so that m still ends the watch.
        keyPressed = ui::waitKey(1);
    }
}
