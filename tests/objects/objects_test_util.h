#pragma once
// Pictures for the object vision tests.

#include <opencv2/core.hpp>

#include <string>

namespace objtest {

// A picture from tests/data/objects, as stored (grey or colour); fails the test when missing.
cv::Mat loadPicture(const std::string& name, int flags);

// The picture with seeded Gaussian camera noise added to every channel.
cv::Mat withNoise(const cv::Mat& picture, double sigma, uint64_t seed);

// Where the homography takes a point.
cv::Point2d project(const cv::Matx33d& h, cv::Point2d p);

// Mean distance between the picture's corners projected by two homographies.
double meanCornerError(const cv::Matx33d& found, const cv::Matx33d& truth, cv::Size picture);

}  // namespace objtest
