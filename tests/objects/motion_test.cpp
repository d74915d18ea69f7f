// Motion in front of the robot: the motion history on a real pedestrian video,
// and the motion watch turning the head through the servo-controller simulator,
// with picture folders as the left camera and virtual time.

#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include <filesystem>

#include "faces/camera/camera.h"
#include "hardware/hardware.h"
#include "hardware/servo.h"
#include "objects/judesys.h"
#include "platform/clock.h"
#include "platform/keys.h"
#include "platform/ui.h"
#include "shell/console/f_graph.h"
#include "tests/support/robot_test.h"
#include "tests/support/ssc32_peer.h"

namespace {

int pixelsOf(const cv::Mat& picture, const cv::Scalar& colour) {
    cv::Mat same;
    cv::inRange(picture, colour, colour, same);
    return cv::countNonZero(same);
}

using MotionHistory = robotest::RobotTest;

TEST_F(MotionHistory, NewFrameSizeStartsTheHistoryAfresh) {
    cv::Mat noise(120, 160, CV_8UC3), picture(120, 160, CV_8UC3);
    for (int i = 0; i < 2; ++i) cv::randu(noise, 0, 255), update_mhi(noise, picture, 30);
    // A still bright picture of another size: the first three calls compare it with
    // the emptied ring and see it all moving; the fourth compares it with itself.
    const cv::Mat still(240, 320, CV_8UC3, cv::Scalar::all(200));
    picture = cv::Mat::zeros(240, 320, CV_8UC3);
    for (int call = 1; call <= 4; ++call) {
        platform::advanceMs(1100);  // older motion fades out completely
        update_mhi(still, picture, 30);
        ASSERT_EQ(picture.size(), still.size());
        double brightestBlue = 0;
        cv::minMaxIdx(picture.reshape(1, int(picture.total())).col(0), nullptr, &brightestBlue);
        const int drawn = pixelsOf(picture, cv::Scalar(255, 255, 255));  // whole-frame motion
        EXPECT_EQ(brightestBlue, call <= 3 ? 255 : 0) << "call " << call;
        EXPECT_TRUE(call <= 3 ? drawn > 100 : drawn == 0) << drawn << " drawn at call " << call;
    }
}

TEST_F(MotionHistory, WalkingPeopleGiveMovingSegmentsAndAStillSceneNone) {
    cv::VideoCapture video(robotest::testData("motion/vtest_320x240.avi"));
    std::vector<cv::Mat> frames;
    for (cv::Mat frame; video.read(frame);) frames.push_back(frame.clone());
    ASSERT_GE(frames.size(), 20u);
    const cv::Scalar red(0, 0, 255);
    cv::Mat picture = cv::Mat::zeros(frames[0].size(), CV_8UC3);
    int framesWithSegments = 0;
    for (const cv::Mat& frame : frames) {
        platform::advanceMs(200);
        update_mhi(frame, picture, 30);
        framesWithSegments += pixelsOf(picture, red) > 50;
    }
    EXPECT_GT(framesWithSegments, static_cast<int>(frames.size()) / 2);
    for (int i = 0; i < 8; ++i) platform::advanceMs(200), update_mhi(frames.back(), picture, 30);
    EXPECT_EQ(pixelsOf(picture, red), 0) << "a still scene has no moving segment";
}

// The motion watch on the left camera. A block that blinks on and off stays
// moving against the running average, so it is seen in every frame.
class MotionWatch : public robotest::RobotTest {
protected:
    void SetUp() override {
        RobotTest::SetUp();
        centreAllServoVariables();
        servo_greitisX = 400, servo_greitisY = 300, kamera2 = 2, cport_nr = 1, ekranorezimas = 1, keyPressed = kKeyMenuRead;
    }
    void TearDown() override {
        CloseComport(cport_nr);
        releaseCameras();
        RobotTest::TearDown();
    }
    // Frames of the left camera (bitmaps: the quickest to read).
    static void leftCamera(const std::vector<cv::Mat>& frames) {
        std::filesystem::remove_all("video2");
        std::filesystem::create_directories("video2");
        for (std::size_t i = 0; i < frames.size(); ++i) cv::imwrite(cv::format("video2/frame%03d.bmp", int(i + 1)), frames[i]);
    }
    robotest::ScopedWorkDir dir;
};

// A bright block over columns first..last, rows 110..129, then the empty scene;
// the watch's time limit -> the first pan command sent, and the head after it.
// The block's box grows by 8 pixels each side: columns 171..190 give a box
// centre of 181, 21 pixels right of the middle; its top is 18 rows above the
// middle: no tilt.
TEST_F(MotionWatch, HeadStaysStillForThreeSecondsThenTurnsPastTwentyPixelsOnly) {
    const int move = 5 + 181 / 4;
    const struct {
        int first, last;
        long timeLimit;
        std::string pan;
        int servoX;
    } runs[] = {{171, 190, 2900, "", 1400},
                {171, 190, 3100, "#7 P" + std::to_string(1400 - move) + " S305 |", 1400 - move},
                {170, 189, 3100, "#7 P1400 S305 |", 1400}};  // box centre 180: 20 pixels off the middle
    for (const auto& run : runs) {
        centreAllServoVariables(), servo_greitisX = 400, servo_greitisY = 300, keyPressed = kKeyMenuRead;
        robotest::Ssc32Simulator simulator(dir.path());
        ASSERT_TRUE(simulator.running() && OpenComport(cport_nr, 115200) == 0);
        cv::Mat on(240, 320, CV_8UC3, cv::Scalar::all(20));
        on(cv::Rect(run.first, 110, run.last - run.first + 1, 20)).setTo(cv::Scalar::all(220));
        leftCamera({on, cv::Mat(240, 320, CV_8UC3, cv::Scalar::all(20))});
        judesys(1000, run.timeLimit);
        releaseCameras();
        CloseComport(cport_nr);
        std::string pan;
        for (const std::string& line : simulator.waitForLines(1, run.pan.empty() ? 0 : 2000))
            if (pan.empty() && line.rfind("#7 ", 0) == 0) pan = line;
        EXPECT_EQ(pan, run.pan) << run.timeLimit;
        std::filesystem::remove("ssc32sim.log");  // the next controller starts a log of its own
        EXPECT_EQ(cv::Vec3i(servo_x, servo_xd, servo_y), cv::Vec3i(run.servoX, run.servoX, 1850)) << run.first << " " << run.timeLimit;
    }
    keyPressed = 'm';  // m pressed before: it ends at once
    const long long start = platform::nowMs();
    judesys(25, 10000);
    EXPECT_EQ(platform::nowMs(), start);
    EXPECT_FALSE(camera1.isOpened()) << "no frame was taken";
}

TEST_F(MotionWatch, EndsAfterMoreMovesToTheRightThanAsked) {
    std::vector<cv::Mat> frames;
    for (int step = 0; step < 8; ++step) {
        frames.emplace_back(240, 320, CV_8UC3, cv::Scalar::all(20));
        frames.back()(cv::Rect(20 + 30 * step, 100, 20, 30)).setTo(cv::Scalar::all(220));
    }
    leftCamera(frames);
    platform::scriptKeys(std::string(40, ' ') + "m");  // only a safety net
    judesys(3, 0);
    EXPECT_NE(keyPressed & 0xFF, 'm') << "the fourth move to the right ends the watch";
    EXPECT_LE(ui::showCount("Kaire"), 8) << "within one sweep of the block";
}

}  // namespace
