// The stereo camera modes on recorded frames, with scripted keys and headless windows.

#include "stereo/stereo_modes.h"

#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <string>
#include <vector>

#include "faces/camera/camera.h"
#include "platform/keys.h"
#include "platform/ui.h"
#include "hardware/servo.h"
#include "tests/faces/face_test_support.h"
#include "tests/support/robot_test.h"
#include "tests/support/stereo_data.h"

namespace {

class StereoModes : public robotest::RobotTest {
protected:
    void TearDown() override {
        releaseCameras();
        RobotTest::TearDown();
    }

    robotest::ScopedWorkDir dir_;
};

double numberAfter(const std::string& text, const std::string& label) {
    const size_t at = text.find(label);
    if (at == std::string::npos) return NAN;
    return std::stod(text.substr(at + label.size()));
}

TEST_F(StereoModes, BlockMatchingMeasuresDepthAndStepsThePanUntilM) {
    // The Aloe pair as the two cameras see it: right camera kamera1, left kamera2.
    facetest::writeCameraRecording(kamera1, {cv::imread(robotest::testData("stereo/aloeR_320x240.png"))});
    facetest::writeCameraRecording(kamera2, {cv::imread(robotest::testData("stereo/aloeL_320x240.png"))});
    robotest::writeTestReprojectionMatrix();
    platform::scriptKeys("xym");  // two other keys go on, m leaves
    stereoBM();

    EXPECT_EQ(cv::Size(plotis, aukstis), cv::Size(320, 240));
    const std::string line = row(42);
    EXPECT_EQ(line.substr(0, 13), "   Min disp: ") << line;
    const double lowest = numberAfter(line, "Min disp: ");
    const double distance = numberAfter(line, "Atstumas: ");
    // The same pair three times: the ring holds three equal maxima, so the
    // distance value is 1000 / (3 max / 5).
    // Maxima are sixteenths of at least one pixel.
    EXPECT_TRUE(lowest < 0 && distance > 0 && distance < 5000.0 / 3 / 16) << line;
    const int moved = std::abs(servo_x - 1400);  // three frames of 0 or 3 steps each
    EXPECT_TRUE(moved % 3 == 0 && moved <= 9) << moved;
    EXPECT_EQ(servo_y, 1800);
    EXPECT_FALSE(ui::windowExists("stereoBM gylis") || ui::windowExists("stereoBM gylis 3D"));
    EXPECT_TRUE(camera.isOpened()) << "the block-matching mode leaves the cameras open";
}

TEST_F(StereoModes, WithoutCamerasOrQTheModesWaitForMWithoutFault) {
    platform::scriptKeys("am");
    stereoBM();
    EXPECT_NE(row(44).find("Q.xml"), std::string::npos) << row(44);
    platform::scriptKeys("m");
    stereoGC();
    EXPECT_NE(row(42).find("Steroe skaiciavimo laikas"), std::string::npos);
}

TEST_F(StereoModes, GraphCutsPrintTheRangeAndTimeThenCloseTheCameras) {
    // Coarse random dots (they survive the mode's smoothing), the left view
    // shifted by 4 pixels.
    cv::Mat dots(60, 80, CV_8UC1);
    cv::randu(dots, 0, 256);
    cv::resize(dots, dots, cv::Size(320, 240), 0, 0, cv::INTER_NEAREST);
    cv::Mat left = dots.clone();
    dots(cv::Rect(0, 0, 316, 240)).copyTo(left(cv::Rect(4, 0, 316, 240)));
    facetest::writeCameraRecording(kamera1, {dots});
    facetest::writeCameraRecording(kamera2, {left});
    robotest::writeTestReprojectionMatrix();
    platform::scriptKeys("m");
    stereoGC();
    const std::string range = row(40);
    EXPECT_EQ(range.substr(0, 13), "   Min disp: ") << range;
    EXPECT_EQ(numberAfter(range, "Min disp: "), -4) << "the left map holds -d";
    EXPECT_EQ(numberAfter(range, "Max value: "), 32767) << "the occluded left border";
    EXPECT_EQ(row(42).substr(0, 33), "   Steroe skaiciavimo laikas = 0 ")
        << row(42) << " (virtual time stands still while matching)";
    EXPECT_EQ(row(44).find("Q.xml"), std::string::npos) << "Q.xml is there";
    EXPECT_FALSE(camera.isOpened() || camera1.isOpened());
}

TEST_F(StereoModes, AlignmentViewBlendsTheCamerasByRatioBrightnessAndThresholdAndMovesTheHeadByKeys) {
    facetest::writeCameraRecording(kamera1, {cv::Mat(480, 640, CV_8UC3, cv::Scalar::all(40))});
    facetest::writeCameraRecording(kamera2, {cv::Mat(480, 640, CV_8UC3, cv::Scalar::all(120))});
    servo_x = 1500;
    servo_y = 1500;
    platform::scriptKeys(",<q>m");  // the shifted keys do nothing
    kamkalibr();

    EXPECT_EQ(cv::Point(servo_x, servo_y), cv::Point(1490, 1490));
    EXPECT_NE(screen().find("- Desinin"), std::string::npos) << screen();
    EXPECT_NE(screen().find(std::string("OpenCV  ") + CV_VERSION), std::string::npos);
    EXPECT_NE(screen().find(" 640x480."), std::string::npos);
    EXPECT_EQ(cv::Size(plotis, aukstis), cv::Size(320, 240));
    EXPECT_FALSE(camera.isOpened());
    const cv::Mat right(4, 4, CV_8UC3, cv::Scalar::all(40));
    const cv::Mat left(4, 4, CV_8UC3, cv::Scalar::all(120));
    auto at = [](const cv::Mat& m) { return int(m.at<cv::Vec3b>(0, 0)[0]); };
    EXPECT_EQ(at(blendCameras(right, left, 50, 50, 0)), 130);  // A 10: half of each + 50
    EXPECT_EQ(at(blendCameras(right, left, 100, 0, 0)), 120);  // A 20: the left camera only
    EXPECT_EQ(at(blendCameras(right, left, 4, 0, 0)), 40);     // A 0: the right camera only
    EXPECT_EQ(at(blendCameras(right, left, 100, 100, 0)), 220);
    EXPECT_EQ(at(blendCameras(right, left, 50, 50, 25)), 0);    // 130 above level 100
    EXPECT_EQ(at(blendCameras(right, left, 50, 0, 25)), 100);   // 80 not above it
    // A left camera that opened at another size follows the right one.
    const cv::Mat smallGrey(2, 2, CV_8UC1, cv::Scalar(120));
    EXPECT_EQ(blendCameras(right, smallGrey, 50, 50, 0).size(), right.size());
}

}  // namespace
