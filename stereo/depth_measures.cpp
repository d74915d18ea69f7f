// The block matcher of the depth modes and what they measure on its result.

#include <opencv2/imgproc.hpp>

#include <cstdlib>

#include "stereo/stereo.h"

cv::Ptr<cv::StereoBM> createRobotStereoBM() {
    constexpr int kDisparities = 128;
    constexpr int kWindow = 41;
    cv::Ptr<cv::StereoBM> matcher = cv::StereoBM::create(kDisparities, kWindow);
    matcher->setPreFilterType(cv::StereoBM::PREFILTER_XSOBEL);
    matcher->setPreFilterSize(41);
    matcher->setPreFilterCap(31);
    matcher->setMinDisparity(-64);
    matcher->setTextureThreshold(10);
    matcher->setUniquenessRatio(15);
    matcher->setSpeckleWindowSize(0);
    matcher->setSpeckleRange(0);
    matcher->setDisp12MaxDiff(-1);
    return matcher;
}

namespace {

cv::Point centreOfNonZero(cv::Mat& img) {
    if (img.empty()) return {-1, -1};
    cv::normalize(img, img, 0, 255, cv::NORM_MINMAX);
    const cv::Moments m = cv::moments(img, true);
    if (m.m00 == 0) return {-1, -1};  // nothing to weigh: no centre
    return {int(m.m10 / m.m00), int(m.m01 / m.m00)};
}

}  // namespace

cv::Point COG(cv::Mat& img) {
    CV_Assert(img.empty() || img.type() == CV_8UC1);
    return centreOfNonZero(img);
}

cv::Point AntiCOG(cv::Mat& img) {
    CV_Assert(img.empty() || img.type() == CV_8UC1);
    cv::bitwise_not(img, img);
    return centreOfNonZero(img);
}

cv::Rect stereoMeasuringRegion(int width, int height) {
    const int left = width / 4;
    const int top = height / 24;
    return {left, top, width - left - width / 6, height - 2 * top};
}

DepthCentres findDepthCentres(const cv::Mat& disparityView8u) {
    CV_Assert(disparityView8u.type() == CV_8UC1);
    const cv::Rect region = stereoMeasuringRegion(disparityView8u.cols, disparityView8u.rows);
    const cv::Point regionCentre(region.width / 2, region.height / 2);
    // A copy of the region alone: the morphology must not reach outside it.
    cv::Mat work = disparityView8u(region).clone();
    const cv::Mat kDefaultElement;
    cv::threshold(work, work, 100, 255, cv::THRESH_BINARY | cv::THRESH_OTSU);
    cv::dilate(work, work, kDefaultElement, cv::Point(-1, -1), 1);
    cv::dilate(work, work, kDefaultElement, cv::Point(-1, -1), 20);
    cv::Point bright = COG(work);
    cv::dilate(work, work, kDefaultElement, cv::Point(-1, -1), 20);
    cv::erode(work, work, kDefaultElement, cv::Point(-1, -1), 20);
    cv::bitwise_not(work, work);
    cv::erode(work, work, kDefaultElement, cv::Point(-1, -1), 20);
    cv::Point dark = COG(work);
    if (bright.x < 0) bright = regionCentre;
    if (dark.x < 0) dark = regionCentre;
    return {region.tl() + bright, region.tl() + dark};
}

void DisparityRing::clear() {
    for (double& slot : slots_) slot = 0;
    next_ = 0;
}

void DisparityRing::push(double maximumDisparity) {
    slots_[next_] = maximumDisparity;
    next_ = (next_ + 1) % 5;
}

double DisparityRing::distanceValue() const {
    double sum = 0;
    for (double slot : slots_) sum += slot;
    const double mean = sum / 5;
    return mean != 0 ? 1000 / mean : 0;
}

int panStepTowards(const cv::Rect& region, cv::Point darkCentre) {
    constexpr int kDeadBand = 3;
    constexpr int kStep = 3;
    const int error = region.x + region.width / 2 - darkCentre.x;
    if (std::abs(error) <= kDeadBand) return 0;
    return error > 0 ? kStep : -kStep;
}

bool scaleDisparityView(const cv::Mat& disparity16, cv::Mat& view8u, int K, int K1) {
    double lowest = 0, highest = 0;
    cv::minMaxLoc(disparity16, &lowest, &highest);
    if (highest == lowest) return false;
    const double range = highest - lowest;
    disparity16.convertTo(view8u, CV_8U, K / range + 0.01, -lowest * K1 / range);
    return true;
}

bool scaleGCDisparityView(const cv::Mat& disparity16, cv::Mat& view8u, int K, int K1) {
    double lowest = 0, highest = 0;
    cv::minMaxLoc(disparity16, &lowest, &highest);
    if (highest == lowest) return false;
    const double range = highest - lowest;
    disparity16.convertTo(view8u, CV_8U, K / (32 * range) - 16, -lowest * K1 / range);
    return true;
}
