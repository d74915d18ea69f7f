// Motion in front of the robot: the motion history on a real pedestrian video,
// and the motion watch turning the head through the servo-controller simulator,
// with picture folders as the left camera and virtual time.

#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include <filesystem>
#include <string>
#include <vector>

#include "faces/camera/camera.h"
#include "hardware/hardware.h"
#include "objects/judesys.h"
#include "platform/clock.h"
#include "platform/keys.h"
#include "platform/ui.h"
#include "shell/console/f_graph.h"
#include "hardware/servo.h"
#include "tests/support/robot_test.h"
#include "tests/support/ssc32_peer.h"

namespace {

int pixelsOf(const cv::Mat& picture, const cv::Scalar& colour) {
    cv::Mat same;
    cv::inRange(picture, colour, colour, same);
    return cv::countNonZero(same);
}

int brightestBlue(const cv::Mat& picture) {
    double most = 0;
    cv::minMaxIdx(picture.reshape(1, int(picture.total())).col(0), nullptr, &most);
    return static_cast<int>(most);
}

class MotionHistory : public robotest::RobotTest {};

TEST_F(MotionHistory, NewFrameSizeStartsTheHistoryAfresh) {
    cv::Mat noise(120, 160, CV_8UC3);
    cv::Mat picture(120, 160, CV_8UC3);
    for (int i = 0; i < 2; ++i) {
        cv::randu(noise, 0, 255);
        update_mhi(noise, picture, 30);
    }
    // A still bright picture of another size: the first three calls compare it with
    // the emptied ring and see it all moving; the fourth compares it with itself.
    const cv::Mat still(240, 320, CV_8UC3, cv::Scalar::all(200));
    picture = cv::Mat::zeros(240, 320, CV_8UC3);
    const cv::Scalar white(255, 255, 255);
    for (int call = 1; call <= 4; ++call) {
        platform::advanceMs(1100);  // older motion fades out completely
        update_mhi(still, picture, 30);
        ASSERT_EQ(picture.size(), still.size());
        const bool moving = call <= 3;
        const int drawn = pixelsOf(picture, white);  // whole-frame motion
        EXPECT_EQ(brightestBlue(picture), moving ? 255 : 0) << "call " << call;
        EXPECT_TRUE(moving ? drawn > 100 : drawn == 0) << drawn << " drawn at call " << call;
    }
}

TEST_F(MotionHistory, WalkingPeopleGiveMovingSegmentsAndAStillSceneNone) {
    cv::VideoCapture video(robotest::testData("motion/vtest_320x240.avi"));
    ASSERT_TRUE(video.isOpened());
    std::vector<cv::Mat> frames;
    for (cv::Mat frame; video.read(frame);) frames.push_back(frame.clone());
    ASSERT_GE(frames.size(), 20u);

    const cv::Scalar red(0, 0, 255);
    cv::Mat picture = cv::Mat::zeros(frames[0].size(), CV_8UC3);
    int framesWithSegments = 0;
    for (const cv::Mat& frame : frames) {
        platform::advanceMs(200);
        update_mhi(frame, picture, 30);
        if (pixelsOf(picture, red) > 50) ++framesWithSegments;
    }
    EXPECT_GT(framesWithSegments, static_cast<int>(frames.size()) / 2);

    for (int i = 0; i < 8; ++i) {
        platform::advanceMs(200);
        update_mhi(frames.back(), picture, 30);
    }
    EXPECT_EQ(pixelsOf(picture, red), 0) << "a still scene has no moving segment";
}

// The motion watch on the left camera. A block that blinks on and off stays
// moving against the running average, so it is seen in every frame.
class MotionWatch : public robotest::RobotTest {
protected:
    void SetUp() override {
        RobotTest::SetUp();
        centreAllServoVariables();
        servo_greitisX = 400;
        servo_greitisY = 300;
        kamera2 = 2;
        cport_nr = 1;
        ekranorezimas = 1;
        keyPressed = kKeyMenuRead;
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
        for (std::size_t i = 0; i < frames.size(); ++i)
            cv::imwrite(cv::format("video2/frame%03d.bmp", static_cast<int>(i + 1)), frames[i]);
    }
    // A bright block over columns first..last, rows 110..129, then the empty scene.
    static void blinkingBlock(int first, int last) {
        cv::Mat on(240, 320, CV_8UC3, cv::Scalar::all(20));
        on(cv::Rect(first, 110, last - first + 1, 20)).setTo(cv::Scalar::all(220));
        leftCamera({on, cv::Mat(240, 320, CV_8UC3, cv::Scalar::all(20))});
    }
    static void connectServos(robotest::Ssc32Simulator& simulator) {
        ASSERT_TRUE(simulator.running()) << "robotas-ssc32sim did not start";
        ASSERT_EQ(OpenComport(cport_nr, 115200), 0);
    }
    // The first pan command the watch sent, after the log has settled.
    static std::string firstPanCommand(const robotest::Ssc32Simulator& simulator) {
        for (const std::string& line : simulator.waitForLines(1, 2000))
            if (line.rfind("#7 ", 0) == 0) return line;
        return {};
    }

    robotest::ScopedWorkDir dir;
};

TEST_F(MotionWatch, KeyMPressedBeforeEndsItAtOnce) {
    blinkingBlock(100, 140);
    keyPressed = 'm';
    const long long start = platform::nowMs();
    judesys(25, 10000);
    EXPECT_EQ(platform::nowMs(), start);
    EXPECT_FALSE(camera1.isOpened()) << "no frame was taken";
}

TEST_F(MotionWatch, HeadStaysStillForThreeSecondsThenTurnsPastTwentyPixels) {
    robotest::Ssc32Simulator simulator(dir.path());
    connectServos(simulator);
    // The box of the block grows by 8 pixels each side: columns 171..190 give a
    // box centre of 181, 21 pixels right of the middle.
    blinkingBlock(171, 190);
    judesys(1000, 2900);
    releaseCameras();
    EXPECT_TRUE(simulator.lines().empty()) << "no move within the first 3 s";

    judesys(1000, 3100);
    releaseCameras();
    const int move = 5 + 181 / 4;
    EXPECT_EQ(firstPanCommand(simulator), "#7 P" + std::to_string(1400 - move) + " S305 |");
    EXPECT_EQ(cv::Point(servo_x, servo_xd), cv::Point(1400 - move, 1400 - move));
}

TEST_F(MotionWatch, ThingTwentyPixelsOffTheMiddleDoesNotTurnTheHead) {
    robotest::Ssc32Simulator simulator(dir.path());
    connectServos(simulator);
    blinkingBlock(170, 189);  // box centre 180
    judesys(1000, 3100);
    EXPECT_EQ(firstPanCommand(simulator), "#7 P1400 S305 |");
    // The box top is 18 rows above the middle: no tilt either.
    EXPECT_EQ(servo_y, 1850);
}

TEST_F(MotionWatch, EndsAfterMoreMovesToTheRightThanAsked) {
    std::vector<cv::Mat> frames;
    for (int step = 0; step < 8; ++step) {
        cv::Mat frame(240, 320, CV_8UC3, cv::Scalar::all(20));
        frame(cv::Rect(20 + 30 * step, 100, 20, 30)).setTo(cv::Scalar::all(220));
        frames.push_back(frame);
    }
    leftCamera(frames);
    platform::scriptKeys(std::string(40, ' ') + "m");  // only a safety net
    judesys(3, 0);
    EXPECT_NE(keyPressed & 0xFF, 'm') << "the fourth move to the right ends the watch";
    EXPECT_LE(ui::showCount("Kaire"), 8) << "within one sweep of the block";
}

}  // namespace
