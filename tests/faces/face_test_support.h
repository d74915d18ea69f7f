#pragma once
// Shared ground of the face tests: ORL pictures from tests/data/faces, list files
// and camera recordings in a test's own working directory.

#include <opencv2/core.hpp>

#include <string>
#include <vector>

namespace facetest {

// tests/data/faces/s<person>/<picture>.pgm (persons 3..8, pictures 1..10).
cv::Mat orlPicture(int person, int picture);

// Copies an ORL picture to a path of the working directory (creating data/).
void copyPicture(int person, int picture, const std::string& to);
void writeText(const std::string& path, const std::string& text);

// A camera frame: the face enlarged on a plain background, as a person sits
// before the robot (the ORL pictures are too small for the face detector as they are).
cv::Mat faceOnBackground(const cv::Mat& face, double scale = 2.0, cv::Size frame = cv::Size(320, 240));

// ./video<index>: a folder of numbered frames that the camera plays in a loop.
void writeCameraRecording(int index, const std::vector<cv::Mat>& frames);

// The frontal-face cascade into the working directory, where the robot looks for it.
void copyFaceCascade();

// Training list lines "number name picture" of persons' pictures copied into data/.
std::string trainingList(const std::vector<int>& persons, int firstPicture, int lastPicture);

}  // namespace facetest
