// Face profile following end to end: ORL faces turned a little to the side as
// camera pictures, the profile cascade, the servo-controller simulator and
// recorded speech. ORL picture s3/4 shows its profile to the cascade as it is,
// s3/1 only in the mirror image.

#include <gtest/gtest.h>

#include <opencv2/core.hpp>
#include <opencv2/objdetect.hpp>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "faces/camera.h"
#include "faces/imageutil.h"
#include "faces/profilis.h"
#include "faces/veido_atpazinimas.h"
#include "hardware/hardware.h"
#include "platform/clock.h"
#include "platform/keys.h"
#include "platform/runner.h"
#include "platform/ui.h"
#include "shell/config.h"
#include "tests/faces/face_test_support.h"
#include "tests/support/robot_test.h"
#include "tests/support/ssc32_peer.h"

namespace {

using Lines = std::vector<std::string>;

const char* const kTurnRight = "eSpeak.exe -v de+m4   atszyiszuook....deaschinean";
const char* const kTurnLeft = "eSpeak.exe -v lv+m4   atszyiszuook....kayirean";
const char* const kCallOut = "eSpeak.exe -v lv+m4 eeyyyy......kuuorr...jiuuuuoszzs";

class ProfileMode : public robotest::RobotTest {
protected:
    void SetUp() override {
        RobotTest::SetUp();
        centreAllServoVariables();
        servo_greitisX = 400;
        servo_greitisY = 300;
        kamera1 = 1;
        kamera2 = 2;
        cport_nr = 1;
        ekranorezimas = 1;
        keyPressed = kKeyMenuRead;
        shownImg.release();
        shownImg1.release();
        const char* folder = std::getenv("ROBOTAS_CASCADES");
        std::filesystem::copy_file(std::string(folder ? folder : "/usr/share/opencv4/haarcascades") +
                                       "/haarcascade_profileface.xml",
                                   "haarcascade_profileface.xml");
    }
    void TearDown() override {
        CloseComport(cport_nr);
        releaseCameras();
        RobotTest::TearDown();
    }
    static cv::Mat face(int person, int picture) { return facetest::faceOnBackground(facetest::orlPicture(person, picture)); }
    static long long missingCameraPauseMs() {
        const long long start = platform::nowMs();
        EXPECT_TRUE(getCameraFrame1(2).empty());
        releaseLeftCamera();
        return platform::nowMs() - start;
    }
    static int spoken(const std::string& commandLine) {
        const Lines commands = platform::recordedCommands();
        return static_cast<int>(std::count(commands.begin(), commands.end(), commandLine));
    }
    static std::string text(int y) {
        std::string line = row(y);
        line.erase(line.find_last_not_of(' ') + 1);
        return line;
    }
    robotest::ScopedWorkDir dir;
};

TEST_F(ProfileMode, FaceTurnedTheOtherWayIsFoundInTheMirrorAndBoxedInTheFrame) {
    const cv::Mat frame = face(3, 1);
    facetest::writeCameraRecording(1, {frame});
    facetest::writeCameraRecording(2, {frame});
    platform::scriptKeys("  m");
    VeidoProfilis();

    EXPECT_EQ(spoken("eSpeak.exe -v lv+m4  proo`fiyliysz"), 1);
    EXPECT_EQ(text(46), "      Desine veido puse");
    EXPECT_EQ(spoken(kTurnRight), 0) << "three frames within 3 s of the start: no hint yet";
    // The box is drawn where the face is in the frame, not in the mirror image.
    cv::Mat mirrored = frame.clone();
    stretchToFullRange(mirrored);
    cv::flip(mirrored, mirrored, 1);
    cv::CascadeClassifier cascade("haarcascade_profileface.xml");
    const cv::Rect r = detectFaceInImage(mirrored, cascade);
    ASSERT_GT(r.width, 10);
    // Both cameras see the same face, so the distance is measured.
    EXPECT_EQ(text(48), cv::format("      Atstumas(cm) : %d.000000", 320 * 30 / (r.width + 1)));
    const cv::Mat shown = ui::lastShown("Desine");
    ASSERT_FALSE(shown.empty());
    const cv::Vec3b boxEdge = shown.at<cv::Vec3b>(r.y + r.height / 2, 320 - r.x);
    EXPECT_EQ(boxEdge, cv::Vec3b(0, 255, 0));
    EXPECT_EQ(ui::showCount("Kaire"), 3);
}

TEST_F(ProfileMode, TurnHintIsSpokenAtMostEveryThreeSeconds) {
    facetest::writeCameraRecording(1, {face(3, 4)});
    std::filesystem::create_directories("video2");
    ASSERT_GT(missingCameraPauseMs(), 3000) << "no left frames: each frame takes longer than 3 s";
    platform::scriptKeys("  m");
    VeidoProfilis();
    EXPECT_EQ(spoken(kTurnLeft), 3);
    EXPECT_EQ(spoken(kTurnRight), 0);
    EXPECT_EQ(text(46), "      Kaire veido puse");
    EXPECT_EQ(text(48), "") << "no left face, no distance";
}

TEST_F(ProfileMode, NobodySeenLooksAroundAfterFifteenSecondsThenEverySeven) {
    robotest::Ssc32Simulator simulator(dir.path());
    ASSERT_TRUE(simulator.running());
    ASSERT_EQ(OpenComport(cport_nr, 115200), 0);
    facetest::writeCameraRecording(1, {cv::Mat(240, 320, CV_8UC3, cv::Scalar::all(150))});
    std::filesystem::create_directories("video2");
    const long long frameMs = missingCameraPauseMs();
    ASSERT_GT(frameMs, 7500);
    ASSERT_LT(frameMs, 15000);
    // Frames about frameMs apart: the first look-around in the third frame (after
    // 15 s), then one in every later frame (7 s each).
    platform::scriptKeys("        m");
    VeidoProfilis();
    EXPECT_EQ(spoken(kCallOut), 9 - 2);
    EXPECT_EQ(text(46), "");
}

TEST_F(ProfileMode, KeyMBeforeTheStartEndsTheModeAtOnce) {
    facetest::writeCameraRecording(1, {face(3, 4)});
    keyPressed = 'm';
    const long long start = platform::nowMs();
    VeidoProfilis();
    EXPECT_EQ(platform::nowMs(), start);
    EXPECT_EQ(ui::showCount("Desine"), 0);
    EXPECT_EQ(keyPressed.load(), 'm');
}

TEST_F(ProfileMode, KeyETogglesTheDisplay) {
    facetest::writeCameraRecording(1, {face(3, 4)});
    facetest::writeCameraRecording(2, {face(3, 4)});
    ekranorezimas = 2;
    keyPressed = 'e';
    platform::scriptKeys(" em");
    VeidoProfilis();
    // Off with the notice for two frames, then on for the last.
    EXPECT_EQ(ekranorezimas, 1);
    EXPECT_EQ(ui::showCount("Desine"), 1 + 1);
}

TEST_F(ProfileMode, MissingCascadeEndsTheProgram) {
    std::filesystem::remove("haarcascade_profileface.xml");
    EXPECT_EXIT(VeidoProfilis(), testing::ExitedWithCode(1), "");
}

}  // namespace
