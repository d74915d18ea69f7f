#pragma once
// Pictures for the object vision tests.

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <string>

#include "tests/support/robot_test.h"

namespace objtest {

// A picture from tests/data/objects, as stored (grey or colour); fails the test when missing.
inline cv::Mat loadPicture(const std::string& name, int flags) {
    cv::Mat picture = cv::imread(robotest::testData("objects/" + name), flags);
    EXPECT_FALSE(picture.empty()) << "missing test picture " << name;
    return picture;
}

// The picture with seeded Gaussian camera noise added to every channel.
inline cv::Mat withNoise(const cv::Mat& picture, double sigma, uint64_t seed) {
    cv::Mat noise(picture.size(), CV_32FC(picture.channels())), sum, out;
    cv::RNG(seed).fill(noise, cv::RNG::NORMAL, 0, sigma), picture.convertTo(sum, CV_32F);
    cv::Mat(sum + noise).convertTo(out, picture.type());
    return out;
}

}  // namespace objtest
