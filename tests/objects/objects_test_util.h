#pragma once
// Pictures for the object vision tests.

#include <opencv2/core.hpp>

#include <string>

namespace objtest {

// A picture from tests/data/objects, as stored (grey or colour); fails the test when missing.
cv::Mat loadPicture(const std::string& name, int flags);

// The picture with seeded Gaussian camera noise added to every channel.
cv::Mat withNoise(const cv::Mat& picture, double sigma, uint64_t seed);

}  // namespace objtest
