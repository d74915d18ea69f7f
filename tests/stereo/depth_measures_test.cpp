#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include "stereo/stereo.h"

namespace {

TEST(CentreOfMass, CountsEveryPixelAboveTheMinimumOnceInTheViewsCoordinatesAndFlatPicturesHaveNone) {
    cv::Mat picture(60, 80, CV_8UC1, cv::Scalar(20));
    picture(cv::Rect(10, 20, 4, 2)).setTo(21);   // barely above the floor: counts fully
    picture(cv::Rect(30, 20, 4, 2)).setTo(250);  // same area, far brighter: same weight
    cv::Mat copy = picture.clone();
    EXPECT_EQ(COG(copy), cv::Point(21, 20));  // (11.5 + 31.5) / 2 and 20.5, truncated
    EXPECT_EQ(copy.at<uchar>(0, 0), 0) << "stretched in place";
    EXPECT_EQ(copy.at<uchar>(20, 30), 255);

    cv::Mat view = picture.clone()(cv::Rect(25, 15, 20, 20));
    EXPECT_EQ(COG(view), cv::Point(6, 5));  // only the bright patch, region-relative

    // The anti-centre: the pixels below the maximum.
    picture = cv::Mat(40, 40, CV_8UC1, cv::Scalar(200));
    picture(cv::Rect(0, 0, 10, 10)).setTo(30);
    picture(cv::Rect(30, 30, 10, 10)).setTo(199);
    EXPECT_EQ(AntiCOG(picture), cv::Point(19, 19));
    EXPECT_EQ(picture.at<uchar>(20, 20), 0) << "left inverted and stretched";
    cv::Mat uniform(10, 10, CV_8UC1, cv::Scalar(77)), empty, white(10, 10, CV_8UC1, cv::Scalar(255));
    EXPECT_EQ(COG(uniform), cv::Point(-1, -1));
    EXPECT_EQ(cv::countNonZero(uniform), 0) << "a uniform picture stretches to zero";
    EXPECT_EQ(COG(empty), cv::Point(-1, -1));
    EXPECT_EQ(AntiCOG(white), cv::Point(-1, -1));
}

TEST(DepthMeasures, CentresOfANearAndAFarPartInTheMeasuringRegionAndAFlatDisparityLeavesTheView) {
    const cv::Rect region(80, 10, 187, 220);
    EXPECT_EQ(stereoMeasuringRegion(320, 240), region);
    // A near (bright) object left of centre on a far (dark) background that
    // is darkest on the right.
    cv::Mat view(240, 320, CV_8UC1, cv::Scalar(60));
    view(cv::Rect(200, 10, 67, 220)).setTo(10);
    view(cv::Rect(100, 80, 60, 80)).setTo(220);
    const DepthCentres centres = findDepthCentres(view);
    EXPECT_NEAR(centres.bright.x, 130, 6);
    EXPECT_NEAR(centres.bright.y, 120, 6);
    EXPECT_GT(centres.dark.x, 160) << "the dark centre lies away from the near object";
    EXPECT_TRUE(region.contains(centres.dark));

    const cv::Mat flat(240, 320, CV_8UC1, cv::Scalar(0));
    EXPECT_TRUE(region.contains(findDepthCentres(flat).bright));

    cv::Mat small(4, 4, CV_8UC1, cv::Scalar(42));
    const cv::Mat flatDisparity(4, 4, CV_16S, cv::Scalar(-16));
    EXPECT_FALSE(scaleDisparityView(flatDisparity, small, 500, 70));
    EXPECT_FALSE(scaleGCDisparityView(flatDisparity, small, 200, 1));
    EXPECT_EQ(small.at<uchar>(0, 0), 42);

    cv::Mat ramp(1, 2, CV_16S);
    ramp.at<short>(0, 0) = 0;
    ramp.at<short>(0, 1) = 1000;
    ASSERT_TRUE(scaleDisparityView(ramp, small, 500, 70));
    EXPECT_EQ(small.at<uchar>(0, 0), 0);
    EXPECT_EQ(small.at<uchar>(0, 1), 255);  // 1000 * 0.51 saturates
}

TEST(DepthMeasures, DistanceValueAveragesTheLastFiveMaximaAndThePanStepsOutsideTheDeadBand) {
    DisparityRing ring;
    EXPECT_EQ(ring.distanceValue(), 0) << "all five slots empty";
    ring.push(100);
    EXPECT_DOUBLE_EQ(ring.distanceValue(), 50);  // 1000 / (100 / 5)
    for (int i = 0; i < 4; ++i) ring.push(200);
    EXPECT_DOUBLE_EQ(ring.distanceValue(), 1000.0 / 180);
    ring.push(200);  // the first 100 falls out
    EXPECT_DOUBLE_EQ(ring.distanceValue(), 5);
    ring.clear();
    EXPECT_EQ(ring.distanceValue(), 0);
    // The pan steps only outside the dead band.
    const cv::Rect region(80, 10, 187, 220);  // middle at 80 + 93 = 173
    for (auto [x, step] : {std::pair{170, 0}, {176, 0}, {169, 3}, {177, -3}})
        EXPECT_EQ(panStepTowards(region, {x, 50}), step) << x;
}

}  // namespace
