// The picture helpers every vision mode shares.

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include "faces/camera/imageutil.h"
#include "tests/faces/face_test_support.h"
#include "tests/support/robot_test.h"

namespace {

class PictureHelpers : public robotest::RobotTest {};

cv::Mat randomPicture(cv::Size size, int type, int seed) {
    cv::Mat picture(size, type);
    cv::RNG rng(seed);
    rng.fill(picture, cv::RNG::UNIFORM, 0, 256);
    return picture;
}

TEST_F(PictureHelpers, FloatPictureIsStretchedToTheFullGreyRange) {
    cv::Mat ramp(1, 5, CV_32F);
    for (int i = 0; i < 5; ++i) ramp.at<float>(0, i) = -2.0f + static_cast<float>(i);
    const cv::Mat grey = convertFloatImageToUcharImage(ramp);
    ASSERT_EQ(grey.type(), CV_8UC1);
    EXPECT_EQ(grey.at<uchar>(0, 0), 0);
    EXPECT_EQ(grey.at<uchar>(0, 2), 128);
    EXPECT_EQ(grey.at<uchar>(0, 4), 255);

    // A flat picture has nothing to stretch: every pixel maps to black.
    const cv::Mat flat = convertFloatImageToUcharImage(cv::Mat(3, 4, CV_32F, cv::Scalar(7.0)));
    EXPECT_EQ(cv::countNonZero(flat), 0);
    EXPECT_TRUE(convertFloatImageToUcharImage(cv::Mat()).empty());
}

TEST_F(PictureHelpers, OnlyThreeChannelPicturesTurnGrey) {
    const cv::Mat colour(2, 2, CV_8UC3, cv::Scalar(10, 20, 30));
    const cv::Mat grey = convertImageToGreyscale(colour);
    ASSERT_EQ(grey.type(), CV_8UC1);
    EXPECT_EQ(grey.at<uchar>(0, 0), cv::saturate_cast<uchar>(0.114 * 10 + 0.587 * 20 + 0.299 * 30));

    cv::Mat four(2, 2, CV_8UC4, cv::Scalar(1, 2, 3, 4));
    const cv::Mat same = convertImageToGreyscale(four);
    EXPECT_EQ(same.type(), CV_8UC4);
    four.setTo(cv::Scalar(0));
    EXPECT_EQ(same.at<cv::Vec4b>(1, 1), cv::Vec4b(1, 2, 3, 4));  // a copy, not a view
}

TEST_F(PictureHelpers, CropCopiesTheRegionAndClipsItToThePicture) {
    cv::Mat picture = randomPicture(cv::Size(40, 30), CV_8UC3, 1);
    const cv::Mat region = cropImage(picture, cv::Rect(5, 6, 10, 8));
    ASSERT_EQ(region.size(), cv::Size(10, 8));
    EXPECT_EQ(cv::norm(region, picture(cv::Rect(5, 6, 10, 8)), cv::NORM_INF), 0);
    picture.setTo(cv::Scalar(0));
    EXPECT_GT(cv::countNonZero(region.reshape(1)), 0);

    EXPECT_EQ(cropImage(picture, cv::Rect(35, 25, 10, 10)).size(), cv::Size(5, 5));
    EXPECT_TRUE(cropImage(picture, cv::Rect(50, 50, 5, 5)).empty());
}

TEST_F(PictureHelpers, CropOfA16BitPictureEndsTheProgram) {
    const cv::Mat deep(10, 10, CV_16U, cv::Scalar(1));
    EXPECT_EQ(robotest::programEndStatus([&] { cropImage(deep, cv::Rect(0, 0, 2, 2)); }), 1);
    EXPECT_NE(row(36).find("KLAIDA cropImage: Nezinomas vaizdo gylis 16 given in cropImage()"), std::string::npos);
}

TEST_F(PictureHelpers, ResizeIsBilinearOnlyWhenBothSidesGrow) {
    const cv::Mat source = randomPicture(cv::Size(100, 80), CV_8UC1, 2);
    auto resizedWith = [&](cv::Size size, int method) {
        cv::Mat out;
        cv::resize(source, out, size, 0, 0, method);
        return out;
    };
    const cv::Mat grown = resizeImage(source, 120, 90);
    EXPECT_EQ(cv::norm(grown, resizedWith({120, 90}, cv::INTER_LINEAR), cv::NORM_INF), 0);
    EXPECT_GT(cv::norm(grown, resizedWith({120, 90}, cv::INTER_AREA), cv::NORM_INF), 0);
    const cv::Mat wider = resizeImage(source, 120, 80);
    EXPECT_EQ(cv::norm(wider, resizedWith({120, 80}, cv::INTER_AREA), cv::NORM_INF), 0);
    EXPECT_GT(cv::norm(wider, resizedWith({120, 80}, cv::INTER_LINEAR), cv::NORM_INF), 0);
}

TEST_F(PictureHelpers, ResizeOfARegionResizesTheWholePicture) {
    const cv::Mat whole = randomPicture(cv::Size(60, 40), CV_8UC1, 3);
    const cv::Mat region = whole(cv::Rect(10, 10, 20, 20));
    cv::Mat expected;
    cv::resize(whole, expected, cv::Size(30, 20), 0, 0, cv::INTER_AREA);
    EXPECT_EQ(cv::norm(resizeImage(region, 30, 20), expected, cv::NORM_INF), 0);
}

TEST_F(PictureHelpers, ResizeToNothingOrOfNothingEndsTheProgram) {
    const cv::Mat picture(10, 10, CV_8U, cv::Scalar(1));
    EXPECT_EQ(robotest::programEndStatus([&] { resizeImage(picture, 0, 10); }), 1);
    EXPECT_NE(screen().find("KLAIDA: resizeImage: Blogas paveikslelio"), std::string::npos);
    EXPECT_NE(screen().find("dydis 0x10"), std::string::npos);  // the box wraps the line there
    EXPECT_EQ(robotest::programEndStatus([&] { resizeImage(cv::Mat(), 10, 10); }), 1);
}

TEST_F(PictureHelpers, FaceDetectorTakesTheLargestFaceAndTimesItself) {
    const std::string cascadeFile =
        std::string(std::getenv("ROBOTAS_CASCADES") ? std::getenv("ROBOTAS_CASCADES")
                                                    : "/usr/share/opencv4/haarcascades") +
        "/haarcascade_frontalface_alt.xml";
    cv::CascadeClassifier cascade(cascadeFile);
    ASSERT_FALSE(cascade.empty());

    detectfacetime = -5;
    const cv::Rect none = detectFaceInImage(cv::Mat(240, 320, CV_8UC3, cv::Scalar(90, 90, 90)), cascade);
    EXPECT_EQ(none, cv::Rect(-1, -1, -1, -1));
    EXPECT_GE(detectfacetime, 0);

    // A small face on the left, a big one on the right.
    cv::Mat scene(300, 480, CV_8UC3, cv::Scalar(150, 150, 150));
    facetest::faceOnBackground(facetest::orlPicture(3, 1), 1.2, cv::Size(160, 200))
        .copyTo(scene(cv::Rect(10, 50, 160, 200)));
    facetest::faceOnBackground(facetest::orlPicture(4, 1), 2.4, cv::Size(260, 290))
        .copyTo(scene(cv::Rect(210, 5, 260, 290)));
    const cv::Rect face = detectFaceInImage(scene, cascade);
    ASSERT_TRUE(faceFound(face));
    EXPECT_GT(face.x, 210);
    EXPECT_GT(face.width, 100);
}

}  // namespace
