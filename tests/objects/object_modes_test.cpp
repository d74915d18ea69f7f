#include "objects/object_modes.h"

#include <gtest/gtest.h>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <filesystem>

#include "faces/camera/camera.h"
#include "hardware/rs232.h"
#include "hardware/servo.h"
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
    // The left camera plays these frames (in a loop) from the working directory.
    static void recordLeftCamera(const std::vector<cv::Mat>& frames) {
        std::filesystem::create_directories("video" + std::to_string(kamera2));
        for (size_t i = 0; i < frames.size(); ++i)
            ASSERT_TRUE(cv::imwrite(cv::format("video%d/frame%03d.png", static_cast<int>(kamera2), int(i + 1)), frames[i]));
    }
    static bool shows(int y, const std::string& text) { return row(y).find(text) != std::string::npos; }
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
    // The last pan command on the wire is where the head turned, off the centre towards the box.
    std::string pan;
    for (const std::string& line : simulator.waitForLines(2))
        if (line.rfind("#7 P", 0) == 0) pan = line;
    EXPECT_EQ(pan, "#7 P" + std::to_string(servo_x.load()) + " S" + std::to_string(servo_greitisX.load()) + " |");
    EXPECT_TRUE(shows(38, "Objecto descriptoriu:  620") && shows(40, "Pavyzdzio descriptoriu: ") && shows(42, "Paieskos laikas = ") &&
                shows(45, "EsSantykis= 1.4")) << screen();
    EXPECT_TRUE(spoke("eSpeak.exe -v lv+m4  kuor.........taasz.......daayjktaasz"));
    // The box stands left of and below the centre: the head goes left and down.
    EXPECT_TRUE(servo_xd > kServoCentreX && servo_yd > kServoCentreY) << servo_xd << " " << servo_yd;
    EXPECT_EQ(cv::Point(servo_x, servo_y), cv::Point(servo_xd, servo_yd));
    EXPECT_EQ(plotis, 640);
    EXPECT_FALSE(ui::windowExists("Paieska") || camera1.isOpened());
}

TEST_F(ObjectModes, SearchWithoutAnObjectPictureGivesUpAndWithoutTheObjectInViewSRecentresTheHead) {
    const long long start = platform::nowMs();
    EXPECT_EQ(daiktas(1, "no-such-picture.png"), -1);
    EXPECT_NE(screen().find("Nera objekto  paveikslelio"), std::string::npos);
    EXPECT_EQ(platform::nowMs() - start, 2000);
    EXPECT_EQ(daiktas(3, nullptr) + daiktas(1, nullptr), -2);
    EXPECT_FALSE(ui::windowExists("Paieska"));
    const cv::Mat wall(480, 640, CV_8UC3, cv::Scalar(120, 130, 140));  // nothing to find on it
    recordLeftCamera({wall, wall});
    servo_xd = servo_x = 1000;
    platform::scriptKeys("xsm");
    ASSERT_EQ(daiktas(1, robotest::testData("objects/box.png").c_str()), 0);
    EXPECT_TRUE(shows(40, "Pavyzdzio descriptoriu: 0") && !shows(45, "EsSantykis")) << screen();  // no outline measured
    EXPECT_EQ(cv::Point(servo_x, servo_xd), cv::Point(kServoCentreX, kServoCentreX));
}

TEST_F(ObjectModes, ExtractionCutsTheObjectOutOfTheCameraPicture) {
    const StreetScene s = streetScene();
    recordLeftCamera({objtest::withNoise(s.empty, 3, 1), objtest::withNoise(s.empty, 3, 2), objtest::withNoise(s.withBox, 3, 3),
                      objtest::withNoise(s.withBox, 3, 4), objtest::withNoise(s.withBox, 3, 5)});
    platform::scriptKeys("fdm");
    const cv::Mat object = daikto_isskyrimas();
    ASSERT_EQ(object.type(), CV_8UC1);
    EXPECT_TRUE(std::abs(object.cols - s.box.width) <= 10 && std::abs(object.rows - s.box.height) <= 10) << object.size();
    EXPECT_TRUE(shows(38, "Uzfiksuotas fono paveikslelis !!!") && shows(39, "Uzfiksuotas daikto vaizdas   !!!") &&
                shows(43, "blobo.x =  ")) << screen();
    EXPECT_TRUE(spoke("eSpeak.exe -v lv+m4  jisyideameeijaau"));
    EXPECT_FALSE(ui::windowExists("Daikto isskirimas"));
    cv::Scalar mean, deviation;  // the picture is the box itself: textured
    cv::meanStdDev(object, mean, deviation);
    EXPECT_GT(deviation[0], 20);

}

TEST_F(ObjectModes, ExtractionKeysMoveTheHeadAndWithoutABackgroundItSaysSoAndGivesABlankPicture) {
    recordLeftCamera({streetScene().withBox});
    platform::scriptKeys(",,.qaadm");
    const cv::Mat object = daikto_isskyrimas();
    EXPECT_EQ(cv::Point(servo_x, servo_y), cv::Point(kServoCentreX - 10, kServoCentreY + 10));
    EXPECT_TRUE(shows(38, "Nera fono paveikslelio !!!")) << screen();
    ASSERT_EQ(object.size(), cv::Size(640, 480));
    EXPECT_EQ(cv::countNonZero(object), 0);
}

TEST_F(ObjectModes, VoiceDrivenExtractionTakesTheBackgroundAtFourSecondsAndTheObjectAfterTen) {
    const long long start = platform::nowMs();
    keyPressed = -1;
    platform::advanceMs(5000);
    EXPECT_FALSE(objectmodes::voiceDrivenKeys(start));  // not connected: the keys stay the operator's
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
    EXPECT_FALSE(e.accepted);
    EXPECT_EQ(e.region, cv::Rect(80, 80, 480, 320));
    EXPECT_EQ(e.picture.size(), cv::Size(480, 320));
    const std::pair<cv::Rect, bool> regions[] = {{{1, 1, 51, 41}, true},   {{1, 1, 50, 41}, false}, {{1, 1, 51, 40}, false},
                                                 {{0, 1, 51, 41}, false},  {{1, 1, 439, 41}, true}, {{1, 1, 440, 41}, false},
                                                 {{620, 1, 51, 41}, false}};
    for (const auto& [region, accepted] : regions) EXPECT_EQ(objectmodes::regionAccepted(region, 640, 480), accepted) << region;
}

TEST(ObjectSearchSteps, OutlineShapeDecidesWhetherItIsTheObjectAndTheHeadMovesOnlyBeyondTheDeadZones) {
    const cv::Point square[4] = {{100, 100}, {200, 100}, {200, 200}, {100, 200}}, skewed[4] = {{10, 0}, {110, 20}, {100, 70}, {0, 40}};
    objectmodes::OutlineMeasure m = objectmodes::measureOutline(square);
    EXPECT_EQ(cv::Point2f(m.W, m.H), cv::Point2f(100, 100));
    EXPECT_EQ(m.first, cv::Point(100, 100));
    EXPECT_EQ(cv::Point2f(objectmodes::measureOutline(skewed).W, objectmodes::measureOutline(skewed).H), cv::Point2f(100, 45));
    EXPECT_TRUE(objectmodes::outlineIsObject(m.W / m.H, 1.0f));
    for (const auto& [aspect, known] : {std::pair{1.0f, 2.0f}, {5.0f, 5.0f}, {0.2f, 0.2f}})
        EXPECT_FALSE(objectmodes::outlineIsObject(aspect, known)) << aspect;
    plotis = 640, aukstis = 480;
    // The outline's first corner -> the head's targets and speeds (xd, yd, pan, tilt),
    // with my = |(480 - 50) * -0.5 + y| and mx = |(640 - 50) * 0.5 - x|.
    const struct {
        cv::Point first;
        bool centred;
        cv::Vec4i after;
    } steps[] = {{{270, 170}, true, {1400, 1850, 106, 107}},    // 20 above the centre, x centred: my = 45, nothing moves
                 {{270, 169}, false, {1400, 1841, 106, 107}},   // 21 above: up by my / 15 + 5 = 46 / 15 + 5
                 {{239, 170}, true, {1408, 1850, 114, 107}}};  // 31 left: mx = 56, pan by mx / 15 + 5, speed mx / 4 + 100
    for (const auto& step : steps) {
        if (step.centred) centreAllServoVariables();
        m.first = step.first;
        objectmodes::turnHeadTowards(m, 480);
        EXPECT_EQ(cv::Vec4i(servo_xd, servo_yd, servo_greitisX, servo_greitisY), step.after) << step.first;
        EXPECT_EQ(cv::Point(servo_x, servo_y), cv::Point(servo_xd, servo_yd)) << step.first;
    }
}

}  // namespace
