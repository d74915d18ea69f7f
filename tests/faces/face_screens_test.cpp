// What the face modes show and how they steer, in tables and stored screens:
// the known/unknown threshold, the recognition pace, the profile mode's head
// steering and keys, the panels' help lines and the messages the modes end with.

#include <opencv2/objdetect.hpp>

#include <cmath>
#include <iomanip>

#include "faces/camera/imageutil.h"
#include "faces/eigenfaces.h"
#include "faces/ivedimas.h"
#include "faces/profilis.h"
#include "hardware/steering.h"
#include "platform/keys.h"
#include "platform/terminal.h"
#include "platform/ui.h"
#include "tests/faces/face_mode_fixture.h"

namespace {

using facetest::Lines;

TEST(FaceThreshold, OnlyConfidencesAboveTheDouble093AreKnown) {
    const struct {
        float confidence;
        bool known;
    } cases[] = {{0.93f, true},  // as a float 0.93 lies a little above the double 0.93
                 {std::nextafter(0.93f, 0.0f), false}, {std::nextafter(0.93f, 1.0f), true},
                 {0.9f, false}, {1.0f, true}, {0.0f, false}};
    for (const auto& c : cases) EXPECT_EQ(isKnownFace(c.confidence), c.known) << std::setprecision(9) << c.confidence;
}

// One frame's turn of a camera's servo pair towards its face, each row from k pan
// 1400 tilt 1850 (last followed pan 1340) and d pan 1500 tilt 1700 (1200).
struct FaceTurn {
    const char* what;
    bool leftPair;
    cv::Rect left, right;
    bool mirrored;
    cv::Size picture;
    int pan, tilt;  // the pair's targets afterwards
    bool followed;
};

TEST(HeadSteering, EachCamerasPairTurnsTowardsItsFaceInThePlainAndTheMirrorImages) {
    const cv::Rect none(-1, -1, -1, -1), centred(150, 50, 20, 100);
    const cv::Rect high(100, 49, 20, 100), highRight(169, 49, 20, 100);  // 21 px above, 31 px apart
    const cv::Rect low(100, 130, 20, 40), lowRight(231, 130, 20, 40);    // 30 px below, -31 px apart
    const cv::Size small(320, 240);
    const FaceTurn turns[] = {
        {"k without a face takes d's tilt", true, none, centred, false, small, 1420, 1700, false},
        {"d without a face takes k's tilt", false, centred, none, false, small, 1300, 1850, false},
        {"k on both dead bands' edges", true, {100, 50, 20, 100}, {170, 50, 20, 100}, false, small, 1400, 1850, true},
        {"k just beyond both", true, high, highRight, false, small, 1400 + 3 + 220 / 12, 1850 - 5 - 4, true},
        {"k mirrored", true, high, highRight, true, small, 1400 - 5 - 220 / 8, 1841, true},
        {"k, face low", true, low, lowRight, false, small, 1368, 1850 + 5 + 13, true},
        {"k, face low, mirrored", true, low, lowRight, true, small, 1421, 1868, true},
        {"d just beyond both", false, high, highRight, false, small, 1500 + 5 + 169 / 8, 1700 - 9, true},
        {"d mirrored", false, high, highRight, true, small, 1500 - 3 - 169 / 12, 1691, true},
        {"d, face low", false, low, lowRight, false, small, 1500 - 3 - 231 / 12, 1700 + 18, true},
        {"d, face low, mirrored", false, low, lowRight, true, small, 1500 + 5 + 231 / 8, 1718, true},
        {"d, far edge on the left face", false, low, {160, 100, 60, 40}, false, small, 1525, 1700, true},
        {"d, far edge on the left face, mirrored", false, low, {160, 100, 60, 40}, true, small, 1525, 1700, true},
        {"k in a larger picture", true, centred, centred, false, {640, 480}, 1400 + 3 + 490 / 12, 1840, true},
    };
    for (const FaceTurn& turn : turns) {
        servo_xk = 1400, servo_yk = 1850, servo_xksen = 1340;
        servo_xd = 1500, servo_yd = 1700, servo_xdsen = 1200;
        const steering::FacePair faces{turn.left, turn.right, turn.mirrored};
        const bool followed = turn.leftPair ? steering::followWithLeftPair(faces, turn.picture)
                                            : steering::followWithRightPair(faces, turn.picture);
        EXPECT_EQ(followed, turn.followed) << turn.what;
        EXPECT_EQ(turn.leftPair ? servo_xk : servo_xd, turn.pan) << turn.what;
        EXPECT_EQ(turn.leftPair ? servo_yk : servo_yd, turn.tilt) << turn.what;
        const int lastFollowedPan = turn.leftPair ? servo_xksen : servo_xdsen;
        EXPECT_EQ(lastFollowedPan, followed ? turn.pan : turn.leftPair ? 1340 : 1200) << turn.what;
    }
}

class FaceScreens : public facetest::FaceModeTest {
protected:
    void SetUp() override {
        FaceModeTest::SetUp();
        facetest::copyFaceCascade();
    }
    // Persons 3 and 4 as "1_Ona" and "2_Petras", learnt from the pictures the camera shows.
    static void learnOnaAndPetras() {
        facetest::writeText("train.txt", facetest::trainingList({3, 4}, 1, 5));
        ASSERT_EQ(learn("train.txt"), 1);
    }
};

// One frame's profile steering from the same start: k pair (1400, 1850), d pair
// (1500, 1700), remembered pans 1300 and 1200. A face is wider than 10 pixels.
TEST_F(FaceScreens, ProfileSteeringFollowsBothFacesMirroredOrNot) {
    const cv::Rect none(-1, -1, -1, -1);
    const struct {
        cv::Rect left, right;
        bool mirrored;
        int xk, yk, xd, yd, speedX, speedY;
    } cases[] = {
        {{100, 20, 40, 40}, {100, 20, 40, 40}, false, 1421, 1843, 1517, 1693, 360, 300},  // high: tilt down
        {{100, 20, 40, 40}, {100, 20, 40, 40}, true, 1368, 1843, 1489, 1693, 360, 300},   // pans inverted
        {{250, 150, 40, 60}, {20, 150, 40, 60}, false, 1400, 1870, 1500, 1720, 440, 230},  // low: tilt up
        {{150, 80, 40, 40}, {150, 120, 40, 40}, false, 1400, 1850, 1500, 1700, 310, 200},  // 20 px: no move
        {{200, 100, 40, 40}, {150, 100, 40, 40}, false, 1380, 1850, 1485, 1700, 310, 220},
        {{200, 100, 40, 40}, {150, 100, 40, 40}, true, 1413, 1850, 1523, 1700, 310, 220},
        {{100, 20, 40, 40}, none, false, 1421, 1843, 1310, 1843, 360, 300},  // d copies k
        {none, none, false, 1400, 1700, 1300, 1700, 400, 300},               // k copies d
        {{100, 20, 10, 40}, {100, 20, 10, 40}, false, 1400, 1700, 1300, 1700, 400, 300},
    };
    plotis = 320;
    aukstis = 240;
    for (const auto& c : cases) {
        centreHead();
        servo_xd = 1500, servo_yd = 1700, servo_xksen = 1300, servo_xdsen = 1200;
        const steering::FacePair faces{c.left, c.right, c.mirrored};
        EXPECT_EQ(followLeftProfile(faces), c.left.width > 10);
        EXPECT_EQ(followRightProfile(faces), c.right.width > 10);
        EXPECT_EQ((std::vector<int>{servo_xk, servo_yk, servo_xd, servo_yd, servo_greitisX, servo_greitisY}),
                  (std::vector<int>{c.xk, c.yk, c.xd, c.yd, c.speedX, c.speedY}))
            << c.left << " " << c.right << (c.mirrored ? " mirrored" : "");
        EXPECT_EQ(servo_xksen, c.left.width > 10 ? c.xk : 1300);
        EXPECT_EQ(servo_xdsen, c.right.width > 10 ? c.xd : 1200);
    }
}

// The profile mode's keys over one frame of an empty room.
TEST_F(FaceScreens, ProfileKeysCentreTheHeadAndSwitchTheDisplay) {
    std::filesystem::copy_file(robotest::cascadePath("haarcascade_profileface.xml"), "haarcascade_profileface.xml");
    facetest::writeCameraRecording(1, {background()}), facetest::writeCameraRecording(2, {background()});
    const struct {
        char key;
        int displayBefore, displayAfter;
        bool centred;
    } cases[] = {{'s', 1, 1, true}, {'e', 1, 0, false}, {'e', 0, 1, false}, {'x', 1, 1, false}};
    for (const auto& c : cases) {
        centreHead();
        servo_xk = servo_xd = servo_xksen = servo_xdsen = 1000, servo_yk = servo_yd = 2000;
        ekranorezimas = c.displayBefore, keyPressed = c.key;
        platform::scriptKeys("m");
        VeidoProfilis();
        EXPECT_EQ(ekranorezimas, c.displayAfter) << c.key;
        EXPECT_EQ(servo_xk == 1400 && servo_yk == 1850 && servo_xd == 1400 && servo_yd == 1850, c.centred) << c.key;
        EXPECT_EQ(servo_greitisX == 300 && servo_greitisY == 200, c.centred) << c.key;
    }
}

TEST_F(FaceScreens, PanelsShowTheirKeys) {
    learnOnaAndPetras();
    std::filesystem::copy_file(robotest::cascadePath("haarcascade_profileface.xml"), "haarcascade_profileface.xml");
    keyPressed = 'm';
    VeidoAtpazinimas();
    robotest::expectScreen("recognition-help");
    platform::Terminal::instance().reset();
    keyPressed = 'm';
    VeidoProfilis();
    robotest::expectScreen("profile-help");
}

TEST_F(FaceScreens, CamerasThatGiveNothingAreReportedOnRows40And41) {
    cameraWithoutFrames(1);
    cameraWithoutFrames(2);
    const robotest::ScreenFilm film;
    EXPECT_TRUE(getCameraFrame().empty());
    EXPECT_TRUE(getCameraFrame1(2).empty());
    robotest::expectScreen("camera-missing", film.text());
}

// The password asked three times, never the same twice; then Esc.
TEST_F(FaceScreens, ThreeMismatchedPasswordsAreWarnedAbout) {
    learnOnaAndPetras();
    platform::scriptKeys(std::string("1\r") + "n" + "12\r" + "Jonas\r" + "4455\r" + "11111111\r" + "22222222\r" +
                         "33333333\r" + "44444444\r" + "55555555\r" + "66666666\r" + "n" + "\x1b");
    const robotest::ScreenFilm film;
    kamera1 = 1;
    cameraWithoutFrames(1);
    ivedimasiscam();
    robotest::expectScreen("enrolment-passwords-refused", film.text());
}

// The messages a mode leaves when it cannot go on; the program ends with status 1.
TEST_F(FaceScreens, ModesThatCannotGoOnSayWhyAndEndTheProgram) {
    learnOnaAndPetras();
    const struct {
        const char* screen;
        std::function<void()> call;
    } cases[] = {
        {"exit-crop", [] { cropImage(cv::Mat(4, 4, CV_16U), cv::Rect(0, 0, 2, 2)); }},
        {"exit-resize", [] { resizeImage(cv::Mat(), 92, 112); }},
        {"exit-retraining", [] {
             std::filesystem::remove("train.txt");
             std::filesystem::remove("facedata.xml");
             retrainOnline();
         }},
        {"exit-recognition-without-database", [] {
             std::filesystem::remove("facedata.xml");
             VeidoAtpazinimas();
         }},
        {"exit-enrolment-without-id-file", [] {
             facetest::writeText("FaceRec", "");
             platform::scriptKeys("1\rn12\r");
             ivedimasiscam();
         }},
        {"exit-enrolment-without-cascade", [] {
             std::filesystem::remove("haarcascade_frontalface_alt.xml");
             platform::scriptKeys("1\r");
             ivedimasiscam();
         }},
    };
    for (const auto& c : cases) {
        platform::Terminal::instance().reset();
        countLine = 7;
        const robotest::EndedProgram ended = robotest::runToProgramEnd(c.call);
        EXPECT_EQ(ended.status, 1) << c.screen;
        robotest::expectScreen(c.screen, ended.screen);
    }
}

// Face profile following end to end: ORL faces turned a little to the side as
// camera pictures, the profile cascade, the servo-controller simulator and
// recorded speech. ORL picture s3/4 shows its profile to the cascade as it is,
// s3/1 only in the mirror image.
const char* const kCallOut = "eSpeak.exe -v lv+m4 eeyyyy......kuuorr...jiuuuuoszzs";
const char* const kTurnRight = "eSpeak.exe -v de+m4   atszyiszuook....deaschinean";
const char* const kTurnLeft = "eSpeak.exe -v lv+m4   atszyiszuook....kayirean";

class ProfileMode : public facetest::FaceModeTest {
protected:
    void SetUp() override {
        FaceModeTest::SetUp();
        ekranorezimas = 1;
        std::filesystem::copy_file(robotest::cascadePath("haarcascade_profileface.xml"), "haarcascade_profileface.xml");
    }
};

TEST_F(ProfileMode, FaceTurnedTheOtherWayIsFoundInTheMirrorAndBoxedInTheFrame) {
    const cv::Mat frame = face(3, 1);
    facetest::writeCameraRecording(1, {frame}), facetest::writeCameraRecording(2, {frame});
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
    EXPECT_EQ(shown.at<cv::Vec3b>(r.y + r.height / 2, 320 - r.x), cv::Vec3b(0, 255, 0));
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
