// What the face modes show and how they steer, in tables and stored screens:
// the known/unknown threshold, the recognition pace, the profile mode's head
// steering and keys, the panels' help lines and the messages the modes end with.

#include <cmath>
#include <iomanip>

#include "faces/camera/imageutil.h"
#include "faces/eigenfaces.h"
#include "faces/ivedimas.h"
#include "faces/profilis.h"
#include "platform/keys.h"
#include "platform/terminal.h"
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
        servo_xd = 1500;
        servo_yd = 1700;
        servo_xksen = 1300;
        servo_xdsen = 1200;
        steering::FacePair faces{kNoFace, kNoFace};
        faces.left = c.left;
        faces.right = c.right;
        faces.mirrored = c.mirrored;
        EXPECT_EQ(followLeftProfile(faces), c.left.width > 10);
        EXPECT_EQ(followRightProfile(faces), c.right.width > 10);
        EXPECT_EQ((std::vector<int>{servo_xk, servo_yk, servo_xd, servo_yd, servo_greitisX, servo_greitisY}),
                  (std::vector<int>{c.xk, c.yk, c.xd, c.yd, c.speedX, c.speedY}))
            << c.left << " " << c.right << (c.mirrored ? " mirrored" : "");
        if (c.left.width > 10) {
            EXPECT_EQ(servo_xksen, c.xk);
        }
        if (c.right.width > 10) {
            EXPECT_EQ(servo_xdsen, c.xd);
        }
    }
}

// The profile mode's keys over one frame of an empty room.
TEST_F(FaceScreens, ProfileKeysCentreTheHeadAndSwitchTheDisplay) {
    std::filesystem::copy_file(robotest::cascadePath("haarcascade_profileface.xml"), "haarcascade_profileface.xml");
    facetest::writeCameraRecording(1, {background()});
    facetest::writeCameraRecording(2, {background()});
    const struct {
        char key;
        int displayBefore, displayAfter;
        bool centred;
    } cases[] = {{'s', 1, 1, true}, {'e', 1, 0, false}, {'e', 0, 1, false}, {'x', 1, 1, false}};
    for (const auto& c : cases) {
        centreHead();
        servo_xk = servo_xd = 1000;
        servo_yk = servo_yd = 2000;
        servo_xksen = servo_xdsen = 1000;
        ekranorezimas = c.displayBefore;
        keyPressed = c.key;
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

}  // namespace
