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
    cv::RNG rng(seed);
    cv::Mat noise(picture.size(), CV_32FC(picture.channels()));
    rng.fill(noise, cv::RNG::NORMAL, 0, sigma);
    cv::Mat sum;
    picture.convertTo(sum, CV_32F);
    sum += noise;
    cv::Mat out;
    sum.convertTo(out, picture.type());
    return out;
}

cv::Point2d project(const cv::Matx33d& h, cv::Point2d p) {
    const cv::Vec3d q = h * cv::Vec3d(p.x, p.y, 1.0);
    return cv::Point2d(q[0] / q[2], q[1] / q[2]);
}

double meanCornerError(const cv::Matx33d& found, const cv::Matx33d& truth, cv::Size picture) {
    const cv::Point2d corners[4] = {{0, 0}, {double(picture.width), 0},
                                    {double(picture.width), double(picture.height)}, {0, double(picture.height)}};
    double total = 0;
    for (const cv::Point2d& c : corners) total += cv::norm(project(found, c) - project(truth, c));
    return total / 4;
}

}  // namespace objtest
