// Face profile following end to end: ORL faces turned a little to the side as
// camera pictures, the profile cascade, the servo-controller simulator and
// recorded speech. ORL picture s3/4 shows its profile to the cascade as it is,
// s3/1 only in the mirror image.

#include <opencv2/objdetect.hpp>

#include <cstdlib>

#include "faces/camera/imageutil.h"
#include "faces/profilis.h"
#include "platform/keys.h"
#include "platform/ui.h"
#include "tests/faces/face_mode_fixture.h"

namespace {


const char* const kTurnRight = "eSpeak.exe -v de+m4   atszyiszuook....deaschinean";
const char* const kTurnLeft = "eSpeak.exe -v lv+m4   atszyiszuook....kayirean";
const char* const kCallOut = "eSpeak.exe -v lv+m4 eeyyyy......kuuorr...jiuuuuoszzs";

class ProfileMode : public facetest::FaceModeTest {
protected:
    void SetUp() override {
        FaceModeTest::SetUp();
        ekranorezimas = 1;
        const char* folder = std::getenv("ROBOTAS_CASCADES");
        std::filesystem::copy_file(std::string(folder ? folder : "/usr/share/opencv4/haarcascades") +
                                       "/haarcascade_profileface.xml",
                                   "haarcascade_profileface.xml");
    }
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
    cameraWithoutFrames(2);
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
    connectServos(simulator);
    facetest::writeCameraRecording(1, {background()});
    cameraWithoutFrames(2);
    const long long frameMs = missingCameraPauseMs();
    ASSERT_GT(frameMs, 7500);
    ASSERT_LT(frameMs, 15000);
    // Frames about frameMs apart: the first look-around in the third frame (after
    // 15 s), then one in every later frame (7 s each).
    platform::scriptKeys("        m");
    VeidoProfilis();
    EXPECT_EQ(spoken(kCallOut), 9 - 2);
    EXPECT_EQ(text(46), "");
    // Each look-around sends the head somewhere at random with the search speeds.
    simulator.waitForLines(3 * 9);
    const facetest::Lines commands = servoCommands(simulator);
    EXPECT_TRUE(std::any_of(commands.begin(), commands.end(), [](const std::string& c) {
        return c.rfind("#7 ", 0) == 0 && c.rfind("#7 P1400 ", 0) != 0 && c.find(" S300 |") != std::string::npos;
    }));
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

}  // namespace
