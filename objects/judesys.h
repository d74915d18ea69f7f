#pragma once
// Motion in front of the robot. judesys1 shows a motion history of the last
// second, its moving segments drawn with arrows in their direction of motion;
// judesys compares each left-camera frame with a slowly updated background,
// turns the head towards what moves and counts the moves to the right.

#include <opencv2/core.hpp>

// Adds a BGR frame to the motion history and draws it into picture (8-bit, three
// channels, the frame's size): the history in blue, each moving segment as a red
// circle with an arrow, the whole frame's motion in white. The history keeps
// the last four grey frames; a frame of another size starts it afresh.
void update_mhi(const cv::Mat& frame, cv::Mat& picture, int threshold);

// The motion history display of the right camera in "Kaire"; any key ends it. Returns 0.
int judesys1(int unused);

// Watches the left camera for moving things and turns the head to them (not in
// the first 3 s, then at most every 1.5 s). Ends on m, after more than maxCount
// moves to the right, or after timeLimit ms without a new larger contour (0: no limit).
void judesys(int maxCount, long timeLimit);
