// The robot's object modes on recorded frames, with the servo-controller simulator and virtual time.

#include "objects/object_modes.h"

#include <gtest/gtest.h>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include <algorithm>
#include <filesystem>
#include <random>

#include "faces/camera/camera.h"
#include "hardware/hardware.h"
#include "objects/objects.h"
#include "platform/clock.h"
#include "platform/keys.h"
#include "platform/runner.h"
#include "platform/ui.h"
#include "shell/console/f_graph.h"
#include "speech/speech.h"
#include "tests/objects/objects_test_util.h"
#include "tests/support/robot_test.h"
#include "tests/support/ssc32_peer.h"

namespace {

bool spoke(const std::string& line) {
    const std::vector<std::string> said = platform::recordedCommands();
    return std::find(said.begin(), said.end(), line) != said.end();
}

// The modes' shared variables at their start values, the left camera (video2)
// playing picture files in a folder of the test's own, the port closed after.
class ObjectModes : public robotest::RobotTest {
protected:
    void SetUp() override {
        RobotTest::SetUp();
        // The modes' own threads (the mechanics step) stand out under the thread
        // checker when the vision work runs on this thread alone.
        cv::setNumThreads(0), centreAllServoVariables();
        servo_greitisX = 400, servo_greitisY = 300, kamera2 = 2, cport_nr = 1, prisijungimas = -1, ekranorezimas = 2;
        plotis = aukstis = 0, keyPressed = kKeyMenuRead;  // the modes take the frame's size
    }
    void TearDown() override { CloseComport(cport_nr), releaseCameras(), cv::setNumThreads(-1), RobotTest::TearDown(); }
    // The left camera's frames, played in a loop (bitmaps: the quickest to read).
    static void leftCamera(const std::vector<cv::Mat>& frames) {
        std::filesystem::remove_all("video2"), std::filesystem::create_directories("video2");
        for (std::size_t i = 0; i < frames.size(); ++i) ASSERT_TRUE(cv::imwrite(cv::format("video2/frame%03d.bmp", int(i + 1)), frames[i]));
    }
    static bool shows(int y, const std::string& text) { return row(y).find(text) != std::string::npos; }
    robotest::ScopedWorkDir dir;
};
using MotionHistory = ObjectModes;
using MotionWatch = ObjectModes;
using PointTracking = ObjectModes;

// The street at camera size, and the same street with the box standing on it.
struct StreetScene { cv::Mat empty, withBox; cv::Rect box{250, 200, 160, 110}; };

StreetScene streetScene() {
    StreetScene s;
    cv::resize(objtest::loadPicture("street.png", cv::IMREAD_COLOR), s.empty, cv::Size(640, 480));
    cv::Mat box;
    cv::resize(objtest::loadPicture("box.png", cv::IMREAD_COLOR), box, s.box.size(), 0, 0, cv::INTER_AREA);
    s.withBox = s.empty.clone(), box.copyTo(s.withBox(s.box));
    return s;
}

TEST_F(ObjectModes, SearchFindsTheBoxAndTurnsTheHeadTowardsIt) {
    robotest::Ssc32Simulator simulator(dir.path());
    ASSERT_TRUE(simulator.running() && OpenComport(cport_nr, bdrate) == 0);
    cv::Mat frame;
    cv::resize(objtest::loadPicture("box_in_scene.png", cv::IMREAD_COLOR), frame, cv::Size(640, 480));
    leftCamera({frame, frame});
    platform::scriptKeys("xm");
    ASSERT_EQ(daiktas(1, robotest::testData("objects/box.png").c_str()), 0);
    CloseComport(cport_nr);
    // The last pan command on the wire is where the head turned, off the centre towards the box.
    std::string pan;
    for (const std::string& line : simulator.waitForLines(2))
        if (line.rfind("#7 P", 0) == 0) pan = line;
    EXPECT_EQ(pan, "#7 P" + std::to_string(servo_x.load()) + " S" + std::to_string(servo_greitisX.load()) + " |");
    EXPECT_TRUE(shows(38, "Objecto descriptoriu:  620") && shows(40, "Pavyzdzio descriptoriu: ") && shows(42, "Paieskos laikas = ") &&
                shows(45, "EsSantykis= 1.4")) << screen();
    EXPECT_TRUE(spoke("eSpeak.exe -v lv+m4  kuor.........taasz.......daayjktaasz"));
    EXPECT_TRUE(plotis == 640 && !ui::windowExists("Paieska") && !camera1.isOpened()) << plotis;
}

TEST_F(ObjectModes, SearchWithoutAnObjectPictureGivesUpAndWithoutTheObjectInViewSRecentresTheHead) {
    const long long start = platform::nowMs();
    EXPECT_EQ(daiktas(1, "no-such-picture.png"), -1);
    EXPECT_NE(screen().find("Nera objekto  paveikslelio"), std::string::npos);
    EXPECT_EQ(platform::nowMs() - start, 2000);
    EXPECT_TRUE(daiktas(3, nullptr) + daiktas(1, nullptr) == -2 && !ui::windowExists("Paieska"));
    const cv::Mat wall(480, 640, CV_8UC3, cv::Scalar(120, 130, 140));  // nothing to find on it
    leftCamera({wall, wall});
    servo_xd = servo_x = 1000, platform::scriptKeys("xsm");
    ASSERT_EQ(daiktas(1, robotest::testData("objects/box.png").c_str()), 0);
    EXPECT_TRUE(shows(40, "Pavyzdzio descriptoriu: 0") && !shows(45, "EsSantykis")) << screen();  // no outline measured
    EXPECT_EQ(cv::Point(servo_x, servo_xd), cv::Point(kServoCentreX, kServoCentreX));
}

TEST_F(ObjectModes, ExtractionKeysMoveTheHeadWithoutABackgroundItSaysSoAndThenItCutsTheObjectOut) {
    const StreetScene s = streetScene();
    leftCamera({s.withBox});
    platform::scriptKeys(",,.qaadm");
    const cv::Mat blank = daikto_isskyrimas();
    EXPECT_EQ(cv::Point(servo_x, servo_y), cv::Point(kServoCentreX - 10, kServoCentreY + 10));
    EXPECT_TRUE(shows(38, "Nera fono paveikslelio !!!")) << screen();
    EXPECT_TRUE(blank.size() == cv::Size(640, 480) && cv::countNonZero(blank) == 0) << blank.size();
    leftCamera({objtest::withNoise(s.empty, 3, 1), objtest::withNoise(s.empty, 3, 2), objtest::withNoise(s.withBox, 3, 3),
                      objtest::withNoise(s.withBox, 3, 4), objtest::withNoise(s.withBox, 3, 5)});
    platform::scriptKeys("fdm");
    const cv::Mat object = daikto_isskyrimas();
    ASSERT_EQ(object.type(), CV_8UC1);
    EXPECT_TRUE(std::abs(object.cols - s.box.width) <= 10 && std::abs(object.rows - s.box.height) <= 10) << object.size();
    EXPECT_TRUE(shows(38, "Uzfiksuotas fono paveikslelis !!!") && shows(39, "Uzfiksuotas daikto vaizdas   !!!") &&
                shows(43, "blobo.x =  ")) << screen();
    EXPECT_TRUE(spoke("eSpeak.exe -v lv+m4  jisyideameeijaau") && !ui::windowExists("Daikto isskirimas"));
}

TEST_F(ObjectModes, VoiceDrivenExtractionTakesTheBackgroundAtFourSecondsAndTheObjectAfterTen) {
    const long long start = platform::nowMs();
    keyPressed = -1, platform::advanceMs(5000);
    // Not connected: the keys stay the operator's.
    EXPECT_TRUE(!objectmodes::voiceDrivenKeys(start) && keyPressed == -1);
    // Connected: each step moves the clock on, then asks. The object at 10 s is
    // only reached with the 3 s the spoken request takes after the background.
    prisijungimas = 7;
    const long long again = platform::nowMs();
    const struct { int advanceMs, keyBefore; bool ended; int key; } steps[] = {
        {4000, -1, false, -1}, {1, -1, false, 'f'}, {10000 - 7001, -1, false, -1}, {1, -1, true, 'd'},
        {0, 'm', false, 'm'}};  // the operator's m ends the run whatever the clock says
    for (const auto& step : steps) {
        platform::advanceMs(step.advanceMs), keyPressed = step.keyBefore;
        const bool ended = objectmodes::voiceDrivenKeys(again);
        EXPECT_EQ(std::pair(ended, keyPressed.load()), std::pair(step.ended, step.key)) << &step - steps;
    }
    EXPECT_TRUE(spoke("eSpeak.exe -v lv+m4  paroodyik.....daaijktaa"));
}

TEST(ObjectExtraction, TheOnlyBlobIsTheObjectTheSmallestOfSeveralIsNoiseAndNoneGivesTheCentre) {
    const StreetScene s = streetScene();
    cv::Mat scene = s.withBox.clone();
    scene(cv::Rect(520, 60, 9, 9)).setTo(cv::Scalar(0, 0, 255));  // a second, small change far from the box
    for (const cv::Mat& shown : {s.withBox, scene}) {
        const objectmodes::Extraction e = objectmodes::extractObject(s.empty, shown, 640, 480);
        EXPECT_TRUE(e.accepted);
        const cv::Vec4i off(e.region.x - s.box.x, e.region.y - s.box.y, e.region.width - s.box.width, e.region.height - s.box.height);
        EXPECT_LE(cv::norm(off, cv::NORM_INF), 3) << e.region;
        ASSERT_EQ(e.picture.size(), e.region.size());
        cv::Scalar mean, deviation;
        cv::meanStdDev(e.picture, mean, deviation);
        EXPECT_GT(deviation[0], 20);  // the box, not a white page
    }
    // No change at all: the region fails the check and the fixed central picture is taken.
    const objectmodes::Extraction e = objectmodes::extractObject(s.empty, s.empty, 640, 480);
    EXPECT_TRUE(!e.accepted && e.region == cv::Rect(80, 80, 480, 320) && e.picture.size() == e.region.size());
    const std::pair<cv::Rect, bool> regions[] = {{{1, 1, 51, 41}, true},   {{1, 1, 50, 41}, false}, {{1, 1, 51, 40}, false},
                                                 {{0, 1, 51, 41}, false},  {{1, 1, 439, 41}, true}, {{1, 1, 440, 41}, false},
                                                 {{620, 1, 51, 41}, false}};
    for (const auto& [region, accepted] : regions) EXPECT_EQ(objectmodes::regionAccepted(region, 640, 480), accepted) << region;
}

TEST(ObjectSearchSteps, OutlineShapeDecidesWhetherItIsTheObjectAndTheHeadMovesOnlyBeyondTheDeadZones) {
    const cv::Point square[4] = {{100, 100}, {200, 100}, {200, 200}, {100, 200}}, skewed[4] = {{10, 0}, {110, 20}, {100, 70}, {0, 40}};
    objectmodes::OutlineMeasure m = objectmodes::measureOutline(square);
    EXPECT_EQ(cv::Vec4f(m.W, m.H, m.first.x, m.first.y), cv::Vec4f(100, 100, 100, 100));
    EXPECT_EQ(cv::Point2f(objectmodes::measureOutline(skewed).W, objectmodes::measureOutline(skewed).H), cv::Point2f(100, 45));
    EXPECT_TRUE(objectmodes::outlineIsObject(m.W / m.H, 1.0f));
    for (const auto& [aspect, known] : {std::pair{1.0f, 2.0f}, {5.0f, 5.0f}, {0.2f, 0.2f}})
        EXPECT_FALSE(objectmodes::outlineIsObject(aspect, known)) << aspect;
    plotis = 640, aukstis = 480;
    // The outline's first corner -> the head's targets and speeds (xd, yd, pan, tilt),
    // with my = |(480 - 50) * -0.5 + y| and mx = |(640 - 50) * 0.5 - x|.
    const struct { cv::Point first; bool centred; cv::Vec4i after; } steps[] = {
        {{270, 170}, true, {1400, 1850, 106, 107}},    // 20 above the centre, x centred: my = 45, nothing moves
        {{270, 169}, false, {1400, 1841, 106, 107}},   // 21 above: up by my / 15 + 5 = 46 / 15 + 5
        {{239, 170}, true, {1408, 1850, 114, 107}}};  // 31 left: mx = 56, pan by mx / 15 + 5, speed mx / 4 + 100
    for (const auto& step : steps) {
        if (step.centred) centreAllServoVariables();
        m.first = step.first, objectmodes::turnHeadTowards(m, 480);
        EXPECT_EQ(cv::Vec4i(servo_xd, servo_yd, servo_greitisX, servo_greitisY), step.after) << step.first;
        EXPECT_EQ(cv::Point(servo_x, servo_y), cv::Point(servo_xd, servo_yd)) << step.first;
    }
}

int pixelsOf(const cv::Mat& picture, const cv::Scalar& colour) {
    cv::Mat same;
    cv::inRange(picture, colour, colour, same);
    return cv::countNonZero(same);
}

TEST_F(MotionHistory, NewFrameSizeStartsTheHistoryAfreshAndWalkingPeopleGiveMovingSegments) {
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
    // Walking people give moving segments, a still scene none.
    cv::VideoCapture video(robotest::testData("motion/vtest_320x240.avi"));
    std::vector<cv::Mat> frames;
    for (cv::Mat frame; video.read(frame);) frames.push_back(frame.clone());
    ASSERT_GE(frames.size(), 20u);
    const cv::Scalar red(0, 0, 255);
    picture = cv::Mat::zeros(frames[0].size(), CV_8UC3);
    int framesWithSegments = 0;
    for (const cv::Mat& frame : frames) {
        platform::advanceMs(200), update_mhi(frame, picture, 30), framesWithSegments += pixelsOf(picture, red) > 50;
    }
    EXPECT_GT(framesWithSegments, static_cast<int>(frames.size()) / 2);
    for (int i = 0; i < 8; ++i) platform::advanceMs(200), update_mhi(frames.back(), picture, 30);
    EXPECT_EQ(pixelsOf(picture, red), 0) << "a still scene has no moving segment";
}

// A block that blinks on columns first..last stays moving against the running average; its
// box grows by 8 pixels a side: columns 171..190 give a centre of 181, 21 pixels right of the
// middle, its top 18 rows above it: no tilt. The time limit -> the first pan command, the head.
TEST_F(MotionWatch, HeadTurnsAfterThreeSecondsPastTwentyPixelsOnlyAndTheWatchEndsOnMovesToTheRightOrM) {
    ekranorezimas = 1;
    const int move = 5 + 181 / 4;
    const struct { int first, last; long timeLimit; std::string pan; int servoX; } runs[] = {
        {171, 190, 2900, "", 1400}, {171, 190, 3100, "#7 P" + std::to_string(1400 - move) + " S305 |", 1400 - move},
        {170, 189, 3100, "#7 P1400 S305 |", 1400}};  // box centre 180: 20 pixels off the middle
    for (const auto& run : runs) {
        centreAllServoVariables(), servo_greitisX = 400, servo_greitisY = 300, keyPressed = kKeyMenuRead;
        robotest::Ssc32Simulator simulator(dir.path());
        ASSERT_TRUE(simulator.running() && OpenComport(cport_nr, 115200) == 0);
        cv::Mat on(240, 320, CV_8UC3, cv::Scalar::all(20));
        on(cv::Rect(run.first, 110, run.last - run.first + 1, 20)).setTo(cv::Scalar::all(220));
        leftCamera({on, cv::Mat(240, 320, CV_8UC3, cv::Scalar::all(20))});
        judesys(1000, run.timeLimit);
        releaseCameras(), CloseComport(cport_nr);
        std::string pan;
        for (const std::string& line : simulator.waitForLines(1, run.pan.empty() ? 0 : 2000))
            if (pan.empty() && line.rfind("#7 ", 0) == 0) pan = line;
        EXPECT_EQ(pan, run.pan) << run.timeLimit;
        std::filesystem::remove("ssc32sim.log");  // the next controller starts a log of its own
        EXPECT_EQ(cv::Vec3i(servo_x, servo_xd, servo_y), cv::Vec3i(run.servoX, run.servoX, 1850)) << run.first << " " << run.timeLimit;
    }
    std::vector<cv::Mat> frames;  // a block moving right
    for (int step = 0; step < 8; ++step) {
        frames.emplace_back(240, 320, CV_8UC3, cv::Scalar::all(20));
        frames.back()(cv::Rect(20 + 30 * step, 100, 20, 30)).setTo(cv::Scalar::all(220));
    }
    leftCamera(frames);
    platform::scriptKeys(std::string(40, ' ') + "m");  // only a safety net
    const int shown = ui::showCount("Kaire");
    judesys(3, 0);
    // The fourth move to the right ends the watch, within one sweep of the block.
    EXPECT_TRUE((keyPressed & 0xFF) != 'm' && ui::showCount("Kaire") - shown <= 8) << ui::showCount("Kaire") - shown;
    releaseCameras();
    keyPressed = 'm';  // m pressed before: it ends at once
    const long long start = platform::nowMs();
    judesys(25, 10000);
    EXPECT_TRUE(platform::nowMs() == start && !camera1.isOpened()) << "no frame was taken";
}

// Smooth random blotches: plenty of corners that survive the mode's erosion.
cv::Mat texturedFrame(unsigned seed) {
    std::mt19937 random(seed);
    cv::Mat blocks(30, 40, CV_8UC1), grey, colour;
    for (uchar& block : cv::Mat_<uchar>(blocks)) block = uchar(random() % 200 + 20);
    cv::resize(blocks, grey, cv::Size(640, 480), 0, 0, cv::INTER_NEAREST);
    cv::cvtColor(grey, colour, cv::COLOR_GRAY2BGR);
    return colour;
}

TEST_F(PointTracking, CornersPickedByRFollowTheSceneFromFrameToFrame) {
    PointTracker tracker;
    const cv::Mat first = texturedFrame(1);
    tracker.processFrame(first);
    EXPECT_TRUE(tracker.points().empty()) << "no points before a click or r";
    tracker.key('r'), tracker.processFrame(first);
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
    EXPECT_EQ(tracker.image().at<cv::Vec3b>(cv::Point(cvRound(after[0].x), cvRound(after[0].y))), cv::Vec3b(0, 255, 0));
}

TEST_F(PointTracking, AClickAddsAPointOrDropsTheOneNearItAndNightModeShowsOnlyTheDots) {
    PointTracker tracker;
    const cv::Mat frame = texturedFrame(2);
    const auto clicked = [&](int x, int y) {  // the points after a click and a frame
        tracker.click(x, y), tracker.processFrame(frame);
        return tracker.points().size();
    };
    tracker.click(100, 100);  // no picture yet: nothing to click on, the next click is the first
    tracker.processFrame(frame);
    ASSERT_EQ(clicked(200, 160), 1u);
    const cv::Point2f kept = tracker.points()[0];
    EXPECT_LT(cv::norm(kept - cv::Point2f(200, 160)), 15) << "refined within its window";
    EXPECT_EQ(clicked(cvRound(kept.x) + 12, cvRound(kept.y)), 2u);  // far from it: a second point
    ASSERT_EQ(clicked(cvRound(kept.x) + 2, cvRound(kept.y) + 2), 1u);  // within 5 pixels: dropped
    EXPECT_GT(cv::norm(tracker.points()[0] - kept), 5);
    tracker.key('c');
    ASSERT_EQ(clicked(300, 300), 1u);  // after c a click starts a new list
    tracker.key('n');  // night mode shows only the dots
    tracker.processFrame(frame);
    cv::Mat green, black;
    cv::inRange(tracker.image(), cv::Scalar(0, 255, 0), cv::Scalar(0, 255, 0), green);
    cv::inRange(tracker.image(), cv::Scalar::all(0), cv::Scalar::all(0), black);
    const int lit = cv::countNonZero(green);  // every lit pixel is part of the dots
    EXPECT_TRUE(lit > 20 && lit + cv::countNonZero(black) == int(tracker.image().total()) && !tracker.key('m')) << lit;
}

TEST_F(PointTracking, HeadFollowsAPointOutsideTheDeadBands) {
    plotis = 640, aukstis = 480;
    // xk, yk, speedX, speedY: after it, one after another; servo_x and servo_y follow the targets
    const struct { cv::Point point; int xk, yk, speedX, speedY; } steps[] = {
        {{320, 280}, 1400, 1850, 20, 20},                   // 40 below the centre: inside both bands
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
    leftCamera({texturedFrame(4)});
    platform::scriptKeys("rxm");
    EXPECT_TRUE(trekingas(1, nullptr) == 0 && plotis == 640 && pointTracker().points().size() > 50u) << plotis;
    EXPECT_FALSE(ui::windowExists("Sekam") || camera1.isOpened());
    EXPECT_NE(screen().find("- auto tasku sekimas"), std::string::npos) << screen();
    pointTracker().key('c');
}

cv::Mat ballFrame(cv::Point centre, int ballRadius) {
    cv::Mat frame(480, 640, CV_8UC3, cv::Scalar(90, 100, 110));
    cv::circle(frame, centre, ballRadius, cv::Scalar(30, 40, 200), -1);
    return frame;
}

TEST(BallFollowing, RedMeansRAboveOneAndAHalfGreenAndTwiceBlueAndABallIsRingedButNotSmallRedSpotsOrTheEdgeRows) {
    // 151 is above 1.5 x 100 and 2 x 75, 150 is not; 151 is not above 2 x 76.
    for (auto [pixel, red] : {std::pair{cv::Vec3b(75, 100, 151), true}, {cv::Vec3b(0, 100, 150), false},
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
        EXPECT_TRUE(ball::center.x == -1.f && cv::norm(*noBall, before, cv::NORM_INF) == 0) << "none found, none drawn";
    }
}

}  // namespace
