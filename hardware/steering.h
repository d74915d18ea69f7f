#pragma once
// How the head's servo targets follow what a camera sees. An axis keeps its
// target while the thing lies within the axis's dead band of where the camera
// should have it; beyond, the target steps by base + position / divisor, so a
// thing far out in the picture turns the head faster. Each direction has its
// own step. The modes differ only in these numbers, so their rules stand side
// by side here; the object modes use them without the face modes.

#include <opencv2/core.hpp>

#include <atomic>
#include <cmath>
#include <cstdlib>

namespace steering {

struct Step {
    int base;
    int divisor;  // of the position in the picture
};

struct AxisRule {
    int deadBand;  // pixels off that leave the target where it is
    Step up;       // the target grows: pan towards the picture's left, tilt towards its bottom
    Step down;
};

// Face modes: each camera's servo pair turns that camera towards its face.
constexpr int kMinFaceWidth = 10;  // a narrower face is none
constexpr AxisRule kFaceTilt{20, {5, 10}, {5, 10}};
constexpr AxisRule kLeftCameraPan{30, {3, 12}, {5, 8}};
constexpr AxisRule kRightCameraPan{30, {5, 8}, {3, 12}};
// Point tracking: the head follows a tracked point.
constexpr AxisRule kPointTilt{40, {2, 25}, {2, 25}};
constexpr AxisRule kPointPan{30, {2, 20}, {2, 20}};
// Object search: the head follows the found object's outline.
constexpr AxisRule kObjectTilt{20, {5, 20}, {5, 15}};
constexpr AxisRule kObjectPan{30, {5, 15}, {5, 10}};
// Motion watch: the head follows a moving thing's box.
constexpr AxisRule kMotionTilt{20, {5, 8}, {5, 8}};
constexpr AxisRule kMotionPan{20, {5, 4}, {5, 4}};

// The target after one look. Whole-pixel positions step by whole numbers;
// fractional ones (tracked points, outlines) move the target by the exact step
// and drop the fraction of the result.
template <typename Pixels>
int steppedTarget(int target, const AxisRule& rule, Pixels offBy, bool up, Pixels position) {
    if (std::abs(offBy) > rule.deadBand) {
        if (up) return static_cast<int>(target + position / rule.up.divisor + rule.up.base);
        return static_cast<int>(target - position / rule.down.divisor - rule.down.base);
    }
    return target;
}

// The same on a shared target in one atomic step: the mechanics thread may be
// clamping it at this moment, and neither the clamp nor the step may be lost.
template <typename Pixels>
void stepTarget(std::atomic<int>& target, const AxisRule& rule, Pixels offBy, bool up, Pixels position) {
    int seen = target.load();
    while (!target.compare_exchange_weak(seen, steppedTarget(seen, rule, offBy, up, position))) {
    }
}

// The faces both cameras found in one frame, (-1, -1, -1, -1) for none;
// mirrored when found in the mirror images (their x then counts in those).
struct FacePair {
    cv::Rect left, right;
    bool mirrored = false;
};

// The k pair (servo_xk, servo_yk) follows the left camera's face, the d pair
// the right camera's; the pan compares the two faces, as the cameras converge
// on one person. A camera without a face takes the other pair's tilt and the
// pan half-way between the other pair's and its own last followed one. True
// when the camera's face was there.
bool followWithLeftPair(const FacePair& faces, cv::Size picture);
bool followWithRightPair(const FacePair& faces, cv::Size picture);

}  // namespace steering
