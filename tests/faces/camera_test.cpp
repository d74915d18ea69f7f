// The two eyes: recordings standing in for cameras, and a missing camera.

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include "faces/camera/camera.h"
#include "platform/clock.h"
#include "tests/faces/face_test_support.h"
#include "tests/support/robot_test.h"

namespace {

class Cameras : public robotest::RobotTest {
protected:
    void TearDown() override {
        releaseCameras();
        kamera1 = 1;
        RobotTest::TearDown();
    }
    robotest::ScopedWorkDir dir;
};

cv::Mat numberedFrame(int value) { return cv::Mat(24, 32, CV_8UC3, cv::Scalar(value, value, value)); }

TEST_F(Cameras, RecordingPlaysInALoopAndTheLeftIndexCountsOnlyWhenOpening) {
    facetest::writeCameraRecording(2, {numberedFrame(10), numberedFrame(20), numberedFrame(30)});
    std::vector<int> seen;
    for (int i = 0; i < 5; ++i) {
        const cv::Mat frame = getCameraFrame1(i == 0 ? 2 : 5);  // index 5 is ignored once open
        ASSERT_FALSE(frame.empty()) << i;
        seen.push_back(frame.at<cv::Vec3b>(0, 0)[0]);
    }
    EXPECT_EQ(seen, (std::vector<int>{10, 20, 30, 10, 20}));
    EXPECT_TRUE(camera1.isOpened());
    EXPECT_FALSE(camera.isOpened());
}

TEST_F(Cameras, ReleasedCameraOpensAgainFromTheStart) {
    kamera1 = 3;
    facetest::writeCameraRecording(3, {numberedFrame(40), numberedFrame(50)});
    EXPECT_EQ(getCameraFrame().at<cv::Vec3b>(0, 0)[0], 40);
    releaseRightCamera();
    EXPECT_FALSE(camera.isOpened());
    EXPECT_EQ(getCameraFrame().at<cv::Vec3b>(0, 0)[0], 40);
}

TEST_F(Cameras, MissingCameraWarnsPausesAndIsTriedAgain) {
    kamera1 = 97;  // neither ./video97 nor a video device 97
    const long long start = platform::nowMs();
    testing::internal::CaptureStderr();
    EXPECT_TRUE(getCameraFrame().empty());
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_NE(errors.find("Nera prisijungimo prie kameros ar video srauto.\n"), std::string::npos);
    const long long firstCall = platform::nowMs() - start;
    EXPECT_GE(firstCall, 4000);  // the warning's blinking, 2 s after it, 2 s for the stream

    // A recording appearing later is found by the next call.
    facetest::writeCameraRecording(97, {numberedFrame(60)});
    EXPECT_EQ(getCameraFrame().at<cv::Vec3b>(0, 0)[0], 60);
}

}  // namespace
