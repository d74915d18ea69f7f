// Ball following: looks for a strongly red object in the left camera's picture.

#include <opencv2/imgproc.hpp>

#include "faces/camera/camera.h"
#include "platform/ui.h"
#include "shell/console/f_graph.h"
#include "objects/tracking_modes.h"

namespace ball {
cv::Point2f center(-1.f, -1.f);
float radius = 0.f;
}  // namespace ball

using ball::center;
using ball::radius;

namespace {

// Four rows at the top and at the bottom keep their colours: the camera's
// edge rows are unreliable.
constexpr int kUntouchedRows = 4;
// Outlines with fewer points are noise, not a ball.
constexpr size_t kMinBallOutline = 200;

}  // namespace

bool isRedPixel(const cv::Vec3b& bgr) {
    const int b = bgr[0], g = bgr[1], r = bgr[2];
    return r > 1.5 * g && r > 2 * b;
}

void Counter(cv::Mat& mask) {
    cv::Mat grey;
    cv::cvtColor(mask, grey, cv::COLOR_BGR2GRAY);
    std::vector<std::vector<cv::Point>> outlines;
    cv::findContours(grey, outlines, cv::RETR_LIST, cv::CHAIN_APPROX_SIMPLE);
    int largest = -1;
    for (size_t i = 0; i < outlines.size(); ++i)
        if (largest < 0 || outlines[i].size() > outlines[largest].size()) largest = int(i);
    center.x = -1.f;
    if (largest < 0 || outlines[largest].size() < kMinBallOutline) return;
    cv::drawContours(mask, outlines, largest, cv::Scalar(0, 255, 0), 2, cv::LINE_AA);
    cv::minEnclosingCircle(outlines[largest], center, radius);
}

void FindBall(cv::Mat& frame) {
    CV_Assert(frame.type() == CV_8UC3);
    cv::Mat mask = frame.clone();
    for (int y = kUntouchedRows; y < mask.rows - kUntouchedRows; ++y)
        for (int x = 0; x < mask.cols; ++x) {
            cv::Vec3b& pixel = mask.at<cv::Vec3b>(y, x);
            pixel = isRedPixel(pixel) ? cv::Vec3b(255, 255, 255) : cv::Vec3b(0, 0, 0);
        }
    Counter(mask);
    if (center.x > -1.f)
        cv::circle(frame, cv::Point(int(center.x), int(center.y)), int(radius),
                   cv::Scalar(0, 0, 255), 3, cv::LINE_8);
}

// Follows a red ball with the left camera until the operator presses m.
void objsekimas() {
    plotis = 640;
    aukstis = 480;
    releaseLeftCamera();  // reopens at the new size
    for (;;) {
        cv::Mat frame = getCameraFrame1(kamera2);
        if (!frame.empty() && frame.type() == CV_8UC3) {
            FindBall(frame);
            ui::show("Kaire", frame);
        }
        keyPressed = ui::waitKey(1);
        if ((keyPressed & 0xFF) == 'm') break;
    }
    releaseLeftCamera();
}
