#include "tests/objects/objects_test_util.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include "tests/support/robot_test.h"

namespace objtest {

cv::Mat loadPicture(const std::string& name, int flags) {
    const std::string path = robotest::testData("objects/" + name);
    cv::Mat picture = cv::imread(path, flags);
    EXPECT_FALSE(picture.empty()) << "missing test picture " << path;
    return picture;
}

cv::Mat withNoise(const cv::Mat& picture, double sigma, uint64_t seed) {
    cv::Mat noise(picture.size(), CV_32FC(picture.channels())), sum, out;
    cv::RNG(seed).fill(noise, cv::RNG::NORMAL, 0, sigma), picture.convertTo(sum, CV_32F);
    cv::Mat(sum + noise).convertTo(out, picture.type());
    return out;
}

}  // namespace objtest
