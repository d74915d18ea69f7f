#pragma once
// A reprojection matrix like the calibration tool writes for the robot's
// 320 x 240 cameras (principal point in the middle, focal length 270, baseline
// 1 / 0.3), for tests of the stereo modes.

#include <string>

namespace robotest {

void writeTestReprojectionMatrix(const std::string& path = "Q.xml");

}  // namespace robotest
