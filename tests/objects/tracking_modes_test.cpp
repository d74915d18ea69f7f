// Point tracking and ball following on synthetic and recorded frames.

#include "objects/tracking_modes.h"

#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <filesystem>
#include <random>

#include "faces/camera/camera.h"
#include "hardware/servo.h"
#include "platform/keys.h"
#include "platform/ui.h"
#include "tests/support/robot_test.h"

namespace {

// Smooth random blotches: plenty of corners that survive the mode's erosion.
cv::Mat texturedFrame(unsigned seed) {
    std::mt19937 random(seed);
    cv::Mat blocks(30, 40, CV_8UC1), grey, colour;
    for (uchar& block : cv::Mat_<uchar>(blocks)) block = uchar(random() % 200 + 20);
    cv::resize(blocks, grey, cv::Size(640, 480), 0, 0, cv::INTER_NEAREST);
    cv::cvtColor(grey, colour, cv::COLOR_GRAY2BGR);
    return colour;
}

class PointTracking : public robotest::RobotTest {
protected:
    void SetUp() override {
        RobotTest::SetUp();
        plotis = 640, aukstis = 480, servo_xk = 1400, servo_yk = 1850;
    }
};

TEST_F(PointTracking, CornersPickedByRFollowTheSceneFromFrameToFrame) {
    PointTracker tracker;
    const cv::Mat first = texturedFrame(1);
    tracker.processFrame(first);
    EXPECT_TRUE(tracker.points().empty()) << "no points before a click or r";
    tracker.key('r');
    tracker.processFrame(first);
    const std::vector<cv::Point2f> before = tracker.points();
    ASSERT_TRUE(before.size() > 50u && before.size() <= size_t(PointTracker::kMaxPoints)) << before.size();
    cv::Mat moved;
    cv::warpAffine(first, moved, cv::Matx23d(1, 0, 3, 0, 1, 2), first.size(), cv::INTER_LINEAR, cv::BORDER_REPLICATE);
    tracker.processFrame(moved);
    const std::vector<cv::Point2f>& after = tracker.points();
    ASSERT_GT(after.size(), before.size() / 2);
    size_t followed = 0;  // points found again 3 right and 2 down
    for (const cv::Point2f& p : after)
        followed += std::any_of(before.begin(), before.end(), [&](cv::Point2f b) { return cv::norm(p - b - cv::Point2f(3, 2)) < 0.3; });
    EXPECT_GT(followed, after.size() / 2);
    // Each kept point is a green dot on the shown picture.
    EXPECT_EQ(tracker.image().at<cv::Vec3b>(cv::Point(cvRound(after[0].x), cvRound(after[0].y))), cv::Vec3b(0, 255, 0));
}

TEST_F(PointTracking, AClickAddsAPointOrDropsTheOneNearItAndNightModeShowsOnlyTheDots) {
    PointTracker tracker;
    const cv::Mat frame = texturedFrame(2);
    const auto clicked = [&](int x, int y) {  // the points after a click and a frame
        tracker.click(x, y);
        tracker.processFrame(frame);
        return tracker.points().size();
    };
    tracker.click(100, 100);  // no picture yet: nothing to click on
    tracker.processFrame(frame);
    EXPECT_TRUE(tracker.points().empty());
    ASSERT_EQ(clicked(200, 160), 1u);
    const cv::Point2f kept = tracker.points()[0];
    EXPECT_LT(cv::norm(kept - cv::Point2f(200, 160)), 15) << "refined within its window";
    EXPECT_EQ(clicked(cvRound(kept.x) + 12, cvRound(kept.y)), 2u);  // far from it: a second point
    ASSERT_EQ(clicked(cvRound(kept.x) + 2, cvRound(kept.y) + 2), 1u);  // within 5 pixels: dropped
    EXPECT_GT(cv::norm(tracker.points()[0] - kept), 5);
    tracker.key('c');
    EXPECT_TRUE(tracker.points().empty());
    ASSERT_EQ(clicked(300, 300), 1u);  // after c a click starts a new list
    tracker.key('n');  // night mode shows only the dots
    tracker.processFrame(frame);
    cv::Mat green, black;
    cv::inRange(tracker.image(), cv::Scalar(0, 255, 0), cv::Scalar(0, 255, 0), green);
    cv::inRange(tracker.image(), cv::Scalar::all(0), cv::Scalar::all(0), black);
    EXPECT_GT(cv::countNonZero(green), 20);
    EXPECT_EQ(cv::countNonZero(green) + cv::countNonZero(black), int(tracker.image().total())) << "every lit pixel is part of the dot";
    EXPECT_FALSE(tracker.key('m'));
}

TEST_F(PointTracking, HeadFollowsAPointOutsideTheDeadBands) {
    const struct {
        cv::Point point;
        int xk, yk, speedX, speedY;  // after it, one after another; servo_x and servo_y follow the targets
    } steps[] = {{{320, 280}, 1400, 1850, 20, 20},                   // 40 below the centre: inside both bands
                 {{320, 281}, 1400, 1863, 20, 20},                   // 41 below: 1850 + 281 / 25 + 2
                 {{100, 240}, 1407, 1863, 23, 20},                   // 220 left: 1400 + 100 / 20 + 2, 220 / 70 + 20
                 {{600, 100}, 1407 - 30 - 2, 1863 - 4 - 2, 24, 22}};  // right and above: both targets go back
    for (const auto& step : steps) {
        steerHeadTowards(step.point);
        EXPECT_EQ(cv::Vec4i(servo_xk, servo_yk, servo_greitisX, servo_greitisY), cv::Vec4i(step.xk, step.yk, step.speedX, step.speedY)) << step.point;
        EXPECT_EQ(cv::Point(servo_x, servo_y), cv::Point(servo_xk, servo_yk)) << step.point;
    }
}

TEST_F(PointTracking, ModeTracksTheLeftCameraUntilM) {
    robotest::ScopedWorkDir dir;
    std::filesystem::create_directories("video" + std::to_string(kamera2));
    cv::imwrite("video" + std::to_string(kamera2) + "/frame001.png", texturedFrame(4));
    platform::scriptKeys("rxm");
    EXPECT_EQ(trekingas(1, nullptr), 0);
    EXPECT_GT(pointTracker().points().size(), 50u);
    EXPECT_NE(screen().find("- auto tasku sekimas"), std::string::npos) << screen();
    EXPECT_EQ(plotis, 640);
    EXPECT_FALSE(ui::windowExists("Sekam") || camera1.isOpened());
    pointTracker().key('c');
}

cv::Mat ballFrame(cv::Point centre, int ballRadius) {
    cv::Mat frame(480, 640, CV_8UC3, cv::Scalar(90, 100, 110));
    cv::circle(frame, centre, ballRadius, cv::Scalar(30, 40, 200), -1);
    return frame;
}

TEST(BallFollowing, RedMeansRAboveOneAndAHalfGreenAndTwiceBlueAndABallIsRingedButNotSmallRedSpotsOrTheEdgeRows) {
    // 151 is above 1.5 x 100 and 2 x 75, 150 is not; 151 is not above 2 x 76.
    for (auto [pixel, red] : {std::pair{cv::Vec3b(75, 100, 151), true}, {cv::Vec3b(75, 100, 150), false},
                              {cv::Vec3b(76, 10, 151), false}, {cv::Vec3b(0, 0, 0), false}})
        EXPECT_EQ(isRedPixel(pixel), red) << pixel;
    // Outlines count their corner points only: a disc needs a radius of
    // about 80 pixels before its outline has 200 of them.
    cv::Mat frame = ballFrame({300, 200}, 90);
    FindBall(frame);
    EXPECT_LE(cv::norm(cv::Vec3f(ball::center.x - 300, ball::center.y - 200, ball::radius - 90), cv::NORM_INF), 2);
    EXPECT_EQ(frame.at<cv::Vec3b>(200, 300 + int(ball::radius)), cv::Vec3b(0, 0, 255));
    cv::Mat small = ballFrame({300, 200}, 40), edge = ballFrame({-100, -100}, 10);
    edge(cv::Rect(0, 0, 640, 4)).setTo(cv::Scalar(30, 40, 200));  // red, but in the top rows
    for (cv::Mat* noBall : {&small, &edge}) {
        const cv::Mat before = noBall->clone();
        FindBall(*noBall);
        EXPECT_EQ(ball::center.x, -1.f);
        EXPECT_EQ(cv::norm(*noBall, before, cv::NORM_INF), 0) << "nothing drawn";
    }
}

}  // namespace
