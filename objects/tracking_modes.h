#pragma once
// Two left-camera modes of the robot's object vision: point tracking, which
// turns the head after chosen points, and ball following, which rings a red
// ball in the picture. Both run until the operator presses m.

#include <opencv2/core.hpp>

#include <vector>

extern int win_size;  // point tracker search window

// Point tracking in the window "Sekam": a click adds a point (or drops the
// one within 5 pixels), r picks up to 500 corners, c forgets all, n toggles
// night mode. The arguments are not used. Returns 0.
int trekingas(int argc, char** argv);
// Mouse callback of "Sekam".
void on_mouse(int event, int x, int y, int flags, void* param);
// Rectangle selection callback (registered by no mode).
void on_mouserect(int event, int x, int y, int flags, void* param);

// The tracking state, kept for the whole run so that a second visit goes on
// with the points of the first.
class PointTracker {
public:
    static constexpr int kMaxPoints = 500;

    // One frame: flow of the points from the previous frame, clicks, corner
    // pick-up; every surviving point is drawn and steers the head.
    void processFrame(const cv::Mat& frame);
    // A left-button click at (x, y), used on the next frame.
    void click(int x, int y);
    // The mode's keys: n, r, c. Returns false for m (leave).
    bool key(int key);

    const cv::Mat& image() const { return image_; }  // the picture with the dots
    const std::vector<cv::Point2f>& points() const { return points_; }
    bool hasImage() const { return !image_.empty(); }

private:
    void pickCorners();
    void followPoints();
    void addClickedPoint();

    cv::Mat image_, grey_, prevGrey_;
    std::vector<cv::Point2f> points_;
    bool needToInit_ = false;
    bool nightMode_ = false;
    bool clickWaiting_ = false;
    cv::Point2f clicked_;
};
PointTracker& pointTracker();

// Moves the head targets after one tracked point and sets the speeds
// (servo_xk, servo_yk, servo_x, servo_y, servo_greitisX, servo_greitisY).
void steerHeadTowards(cv::Point2f point);

// Ball following: the red ball in the left camera ringed in "Kaire".
void objsekimas();
// Finds the ball in a BGR frame and rings it there in red.
void FindBall(cv::Mat& frame);
// Largest outline of a picture whose red pixels were made white; sets center
// and radius in ball:: (center.x = -1 when there is no ball) and draws the outline.
void Counter(cv::Mat& mask);
// A red pixel: R > 1.5 G and R > 2 B.
bool isRedPixel(const cv::Vec3b& bgr);

// The ball the last frame showed.
namespace ball {
extern cv::Point2f center;  // x = -1 when none
extern float radius;
}  // namespace ball
