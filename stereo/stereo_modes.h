#pragma once
// The stereo camera modes, reached from the stereo and system menus and the
// robot-mode loop. Each runs on the main thread until the operator presses m.

#include <opencv2/core.hpp>

// Depth by block matching; steers the pan servo towards the far part.
void stereoBM();
// Depth by graph cuts; display only, closes both cameras when it ends.
void stereoGC();
// Blends the left camera over the right one so the two can be lined up.
void kamkalibr();
// The alignment view's picture: right x (20 - A) / 20 + left x A / 20 +
// brightness with A = blend / 5, then, when threshold is not 0, an inverse
// threshold at threshold x 4 (pixels above it 0, the others 100).
cv::Mat blendCameras(const cv::Mat& right, const cv::Mat& left, int blend, int brightness,
                     int threshold);
// Robot mode 3, wandering: not built on this robot yet, returns at once.
void Klaidziojimas();
