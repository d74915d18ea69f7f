#include "objects/object_modes.h"

#include <gtest/gtest.h>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <filesystem>
#include <string>
#include <vector>

#include "faces/camera/camera.h"
#include "hardware/rs232.h"
#include "platform/clock.h"
#include "platform/keys.h"
#include "platform/runner.h"
#include "platform/ui.h"
#include "shell/console/f_graph.h"
#include "hardware/servo.h"
#include "speech/speech.h"
#include "tests/objects/objects_test_util.h"
#include "tests/support/robot_test.h"
#include "tests/support/ssc32_peer.h"

namespace {

// The left camera plays these frames (in a loop) from the working directory.
void recordLeftCamera(const std::vector<cv::Mat>& frames) {
    const std::string folder = "video" + std::to_string(kamera2);
    std::filesystem::create_directories(folder);
    for (size_t i = 0; i < frames.size(); ++i)
        ASSERT_TRUE(cv::imwrite(cv::format("%s/frame%03d.png", folder.c_str(), static_cast<int>(i + 1)), frames[i]));
}

bool spoke(const std::string& line) {
    for (const std::string& c : platform::recordedCommands())
        if (c == line) return true;
    return false;
}

class ObjectModes : public robotest::RobotTest {
protected:
    void SetUp() override {
        RobotTest::SetUp();
        // The modes' own threads (the mechanics step) stand out under the thread
        // checker when the vision work runs on this thread alone.
        cv::setNumThreads(0);
        centreAllServoVariables();
        prisijungimas = -1;
        ekranorezimas = 2;
    }
    void TearDown() override {
        releaseCameras();
        cv::setNumThreads(-1);
        RobotTest::TearDown();
    }
    robotest::ScopedWorkDir dir_;
};

// The street at camera size, and the same street with the box standing on it.
struct StreetScene {
    cv::Mat empty, withBox;
    cv::Rect box{250, 200, 160, 110};
};

StreetScene streetScene() {
    StreetScene s;
    cv::resize(objtest::loadPicture("street.png", cv::IMREAD_COLOR), s.empty, cv::Size(640, 480));
    cv::Mat box;
    cv::resize(objtest::loadPicture("box.png", cv::IMREAD_COLOR), box, s.box.size(), 0, 0, cv::INTER_AREA);
    s.withBox = s.empty.clone();
    box.copyTo(s.withBox(s.box));
    return s;
}

TEST_F(ObjectModes, SearchFindsTheBoxAndTurnsTheHeadTowardsIt) {
    robotest::Ssc32Simulator simulator(dir_.path());
    ASSERT_TRUE(simulator.running());
    ASSERT_EQ(OpenComport(cport_nr, bdrate), 0);
    cv::Mat frame;
    cv::resize(objtest::loadPicture("box_in_scene.png", cv::IMREAD_COLOR), frame, cv::Size(640, 480));
    recordLeftCamera({frame, frame});
    platform::scriptKeys("xm");
    ASSERT_EQ(daiktas(1, robotest::testData("objects/box.png").c_str()), 0);
    CloseComport(cport_nr);

    // The head commands on the wire turn the pan servo off the centre, towards the box.
    std::vector<std::string> pan;
    for (const std::string& line : simulator.waitForLines(2))
        if (line.rfind("#7 P", 0) == 0) pan.push_back(line);
    ASSERT_FALSE(pan.empty());
    EXPECT_EQ(pan.back(), "#7 P" + std::to_string(servo_x.load()) + " S" + std::to_string(servo_greitisX.load()) + " |");

    EXPECT_NE(row(38).find("Objecto descriptoriu:  620"), std::string::npos) << row(38);
    EXPECT_NE(row(40).find("Pavyzdzio descriptoriu: "), std::string::npos);
    EXPECT_NE(row(42).find("Paieskos laikas = "), std::string::npos);
    EXPECT_NE(row(45).find("EsSantykis= 1.4"), std::string::npos) << row(45);
    EXPECT_TRUE(spoke("eSpeak.exe -v lv+m4  kuor.........taasz.......daayjktaasz"));
    // The box stands left of and below the centre: the head goes left and down.
    EXPECT_TRUE(servo_xd > kServoCentreX && servo_yd > kServoCentreY) << servo_xd << " " << servo_yd;
    EXPECT_EQ(cv::Point(servo_x, servo_y), cv::Point(servo_xd, servo_yd));
    EXPECT_EQ(plotis, 640);
    EXPECT_FALSE(ui::windowExists("Paieska"));
    EXPECT_FALSE(camera1.isOpened());
}

TEST_F(ObjectModes, SearchWithoutAnObjectPictureGivesUpAndWithoutTheObjectInViewSRecentresTheHead) {
    const long long start = platform::nowMs();
    EXPECT_EQ(daiktas(1, "no-such-picture.png"), -1);
    EXPECT_NE(screen().find("Nera objekto  paveikslelio"), std::string::npos);
    EXPECT_EQ(platform::nowMs() - start, 2000);
    EXPECT_EQ(daiktas(3, nullptr), -1);
    EXPECT_EQ(daiktas(1, nullptr), -1);
    EXPECT_FALSE(ui::windowExists("Paieska"));

    const cv::Mat wall(480, 640, CV_8UC3, cv::Scalar(120, 130, 140));  // nothing to find on it
    recordLeftCamera({wall, wall});
    servo_xd = servo_x = 1000;
    platform::scriptKeys("xsm");
    ASSERT_EQ(daiktas(1, robotest::testData("objects/box.png").c_str()), 0);
    EXPECT_NE(row(40).find("Pavyzdzio descriptoriu: 0"), std::string::npos) << row(40);
    EXPECT_EQ(row(45).find("EsSantykis"), std::string::npos);  // no outline measured
    EXPECT_EQ(cv::Point(servo_x, servo_xd), cv::Point(kServoCentreX, kServoCentreX));
}

TEST_F(ObjectModes, ExtractionCutsTheObjectOutOfTheCameraPicture) {
    const StreetScene s = streetScene();
    recordLeftCamera({objtest::withNoise(s.empty, 3, 1), objtest::withNoise(s.empty, 3, 2),
                      objtest::withNoise(s.withBox, 3, 3), objtest::withNoise(s.withBox, 3, 4),
                      objtest::withNoise(s.withBox, 3, 5)});
    platform::scriptKeys("fdm");
    const cv::Mat object = daikto_isskyrimas();
    ASSERT_FALSE(object.empty());
    EXPECT_EQ(object.type(), CV_8UC1);
    EXPECT_NEAR(object.cols, s.box.width, 10);
    EXPECT_NEAR(object.rows, s.box.height, 10);
    EXPECT_NE(row(38).find("Uzfiksuotas fono paveikslelis !!!"), std::string::npos) << row(38);
    EXPECT_NE(row(39).find("Uzfiksuotas daikto vaizdas   !!!"), std::string::npos) << row(39);
    EXPECT_NE(row(43).find("blobo.x =  "), std::string::npos);
    EXPECT_TRUE(spoke("eSpeak.exe -v lv+m4  jisyideameeijaau"));
    EXPECT_FALSE(ui::windowExists("Daikto isskirimas"));
    // The picture is the box itself: textured, and found again by the object search.
    cv::Scalar mean, deviation;
    cv::meanStdDev(object, mean, deviation);
    EXPECT_GT(deviation[0], 20);
}

TEST_F(ObjectModes, ExtractionKeysMoveTheHeadAndWithoutABackgroundItSaysSoAndGivesABlankPicture) {
    recordLeftCamera({streetScene().withBox});
    platform::scriptKeys(",,.qaadm");
    const cv::Mat object = daikto_isskyrimas();
    EXPECT_EQ(cv::Point(servo_x, servo_y), cv::Point(kServoCentreX - 10, kServoCentreY + 10));
    EXPECT_NE(row(38).find("Nera fono paveikslelio !!!"), std::string::npos) << row(38);
    ASSERT_EQ(object.size(), cv::Size(640, 480));
    EXPECT_EQ(cv::countNonZero(object), 0);
}

TEST_F(ObjectModes, VoiceDrivenExtractionTakesTheBackgroundAtFourSecondsAndTheObjectAfterTen) {
    const long long start = platform::nowMs();
    keyPressed = -1;
    prisijungimas = -1;  // not connected: the keys stay the operator's
    platform::advanceMs(5000);
    EXPECT_FALSE(objectmodes::voiceDrivenKeys(start));
    EXPECT_EQ(keyPressed, -1);
    // Connected: each step moves the clock on, then asks. The object at 10 s is
    // only reached with the 3 s the spoken request takes after the background.
    prisijungimas = 7;
    const long long again = platform::nowMs();
    const struct {
        int advanceMs, keyBefore;
        bool ended;
        int key;
    } steps[] = {{4000, -1, false, -1}, {1, -1, false, 'f'}, {10000 - 7001, -1, false, -1}, {1, -1, true, 'd'},
                 {0, 'm', false, 'm'}};  // the operator's m ends the run whatever the clock says
    for (const auto& step : steps) {
        platform::advanceMs(step.advanceMs);
        keyPressed = step.keyBefore;
        EXPECT_EQ(objectmodes::voiceDrivenKeys(again), step.ended) << &step - steps;
        EXPECT_EQ(keyPressed, step.key) << &step - steps;
    }
    EXPECT_TRUE(spoke("eSpeak.exe -v lv+m4  paroodyik.....daaijktaa"));
}

TEST(ObjectExtraction, TheOnlyBlobIsTheObjectTheSmallestOfSeveralIsNoiseAndNoneGivesTheCentre) {
    const StreetScene s = streetScene();
    cv::Mat scene = s.withBox.clone();
    const cv::Rect speck(520, 60, 9, 9);  // a second, small change far from the box
    scene(speck).setTo(cv::Scalar(0, 0, 255));
    for (const cv::Mat& shown : {s.withBox, scene}) {
        const objectmodes::Extraction e = objectmodes::extractObject(s.empty, shown, 640, 480);
        EXPECT_TRUE(e.accepted);
        EXPECT_NEAR(e.region.x, s.box.x, 3);
        EXPECT_NEAR(e.region.y, s.box.y, 3);
        EXPECT_NEAR(e.region.width, s.box.width, 3);
        EXPECT_NEAR(e.region.height, s.box.height, 3);
        ASSERT_EQ(e.picture.size(), e.region.size());
        cv::Scalar mean, deviation;
        cv::meanStdDev(e.picture, mean, deviation);
        EXPECT_GT(deviation[0], 20);  // the box, not a white page
    }
    // No change at all: the region fails the check and the fixed central picture is taken.
    const objectmodes::Extraction e = objectmodes::extractObject(s.empty, s.empty, 640, 480);
    EXPECT_FALSE(e.accepted);
    EXPECT_EQ(e.region, cv::Rect(80, 80, 480, 320));
    EXPECT_EQ(e.picture.size(), cv::Size(480, 320));
}

TEST(ObjectExtraction, RegionCheckLimits) {
    const std::pair<cv::Rect, bool> regions[] = {{{1, 1, 51, 41}, true},   {{1, 1, 50, 41}, false}, {{1, 1, 51, 40}, false},
                                                 {{0, 1, 51, 41}, false},  {{1, 1, 439, 41}, true}, {{1, 1, 440, 41}, false},
                                                 {{620, 1, 51, 41}, false}};
    for (const auto& [region, accepted] : regions) EXPECT_EQ(objectmodes::regionAccepted(region, 640, 480), accepted) << region;
}

TEST(ObjectSearchSteps, OutlineShapeDecidesWhetherItIsTheObject) {
    const cv::Point square[4] = {{100, 100}, {200, 100}, {200, 200}, {100, 200}};
    const objectmodes::OutlineMeasure m = objectmodes::measureOutline(square);
    EXPECT_EQ(cv::Point2f(m.W, m.H), cv::Point2f(100, 100));
    EXPECT_EQ(m.first, cv::Point(100, 100));
    EXPECT_TRUE(objectmodes::outlineIsObject(m.W / m.H, 1.0f));
    EXPECT_FALSE(objectmodes::outlineIsObject(m.W / m.H, 2.0f));
    EXPECT_FALSE(objectmodes::outlineIsObject(5.0f, 5.0f));
    EXPECT_FALSE(objectmodes::outlineIsObject(0.2f, 0.2f));
    const cv::Point skewed[4] = {{10, 0}, {110, 20}, {100, 70}, {0, 40}};
    const objectmodes::OutlineMeasure k = objectmodes::measureOutline(skewed);
    EXPECT_EQ(cv::Point2f(k.W, k.H), cv::Point2f(100, 45));
}

TEST(ObjectSearchSteps, HeadMovesOnlyBeyondTheDeadZones) {
    plotis = 640;
    aukstis = 480;
    objectmodes::OutlineMeasure m;
    m.W = m.H = 100;
    // Centre 20 pixels above the frame's centre: the tilt stays, the pan does too (x centred).
    m.first = cv::Point(270, 170);
    centreAllServoVariables();
    objectmodes::turnHeadTowards(m, 480);
    EXPECT_EQ(servo_yd, kServoCentreY);
    EXPECT_EQ(servo_xd, kServoCentreX);
    EXPECT_EQ(servo_greitisY, 100 + 45 / 6);  // my = |(480 - 50) * -0.5 + 170| = 45
    // 21 pixels above: up by my / 15 + 5 = 46 / 15 + 5, truncated.
    m.first = cv::Point(270, 169);
    objectmodes::turnHeadTowards(m, 480);
    EXPECT_EQ(cv::Point(servo_y, servo_yd), cv::Point(1841, 1841));
    // 31 pixels left of the centre: pan by mx / 15 + 5, mx = |(640 - 50) * 0.5 - 239| = 56.
    centreAllServoVariables();
    m.first = cv::Point(239, 170);
    objectmodes::turnHeadTowards(m, 480);
    EXPECT_EQ(servo_xd, static_cast<int>(1400 + 56.0 / 15 + 5));
    EXPECT_EQ(servo_greitisX, static_cast<int>(56 * 0.25 + 100));
    EXPECT_EQ(servo_x, servo_xd);
}

}  // namespace
