#pragma once
// Picture helpers shared by every vision mode. Each returns a new picture.

#include <opencv2/core.hpp>
#include <opencv2/objdetect.hpp>

#include <string>

// Three channels become grey; any other picture is returned as a copy.
cv::Mat convertImageToGreyscale(const cv::Mat& src);
// A one-channel float picture stretched to 0..255; empty for an empty picture.
cv::Mat convertFloatImageToUcharImage(const cv::Mat& src);
// The region of an 8-bit picture (clipped to the picture); ends the program for other depths.
cv::Mat cropImage(const cv::Mat& img, const cv::Rect& region);
// The whole picture (a view is widened to its parent picture) at the new size:
// bilinear when both sides grow, pixel-area otherwise. Ends the program on a bad size.
cv::Mat resizeImage(const cv::Mat& src, int newWidth, int newHeight);
void saveFloatImage(const std::string& filename, const cv::Mat& src);

// Milliseconds of the last face detection (the detector alone), for the statistics screen.
extern int detectfacetime;

// What the face detector gives when it finds no face.
inline const cv::Rect kNoFace(-1, -1, -1, -1);
// The largest face the cascade finds, or kNoFace. Keeps the detector's time in detectfacetime.
cv::Rect detectFaceInImage(const cv::Mat& img, cv::CascadeClassifier& cascade);
constexpr bool faceFound(const cv::Rect& face) { return face.width > 0; }
