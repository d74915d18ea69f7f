// Pictures and cameras, and the enrolment of a new person from the right camera.

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>
#include <opencv2/imgcodecs.hpp>

#include <filesystem>

#include "faces/camera/camera.h"
#include "faces/camera/imageutil.h"
#include "faces/camera/scene.h"
#include "faces/faces.h"
#include "platform/clock.h"
#include "platform/keys.h"
#include "tests/faces/face_test_support.h"
#include "tests/support/robot_test.h"

namespace {

// The picture helpers every vision mode shares, and the two eyes: recordings
// standing in for cameras, and a missing camera. (A crop of a 16-bit picture and a
// resize of nothing end the program: see the exit-crop and exit-resize screens.)
class PictureHelpers : public robotest::RobotTest {};

cv::Mat randomPicture(cv::Size size, int type, int seed) {
    cv::Mat picture(size, type);
    cv::RNG(seed).fill(picture, cv::RNG::UNIFORM, 0, 256);
    return picture;
}

TEST_F(PictureHelpers, StretchGreyCropResizeAndTheLargestFaceGiveTheirKnownAnswers) {
    const cv::Mat grey = convertFloatImageToUcharImage((cv::Mat_<float>(1, 5) << -2, -1, 0, 1, 2));
    ASSERT_EQ(grey.type(), CV_8UC1);
    const cv::Mat levels = (cv::Mat_<uchar>(1, 5) << 0, 64, 128, 191, 255);
    EXPECT_EQ(cv::norm(grey, levels, cv::NORM_INF), 0) << grey;
    // A flat picture has nothing to stretch: every pixel maps to black.
    EXPECT_EQ(cv::countNonZero(convertFloatImageToUcharImage(cv::Mat(3, 4, CV_32F, cv::Scalar(7.0)))), 0);
    EXPECT_TRUE(convertFloatImageToUcharImage(cv::Mat()).empty());

    const cv::Mat fromColour = convertImageToGreyscale(cv::Mat(2, 2, CV_8UC3, cv::Scalar(10, 20, 30)));
    ASSERT_EQ(fromColour.type(), CV_8UC1);
    EXPECT_EQ(fromColour.at<uchar>(0, 0), cv::saturate_cast<uchar>(0.114 * 10 + 0.587 * 20 + 0.299 * 30));
    cv::Mat four(2, 2, CV_8UC4, cv::Scalar(1, 2, 3, 4));  // only three channels turn grey
    const cv::Mat same = convertImageToGreyscale(four);
    four.setTo(cv::Scalar(0));
    EXPECT_EQ(same.at<cv::Vec4b>(1, 1), cv::Vec4b(1, 2, 3, 4)) << "a copy, not a view";

    // A crop copies the region and clips it to the picture.
    cv::Mat picture = randomPicture(cv::Size(40, 30), CV_8UC3, 1);
    const cv::Mat region = cropImage(picture, cv::Rect(5, 6, 10, 8));
    ASSERT_EQ(region.size(), cv::Size(10, 8));
    EXPECT_EQ(cv::norm(region, picture(cv::Rect(5, 6, 10, 8)), cv::NORM_INF), 0);
    picture.setTo(cv::Scalar(0));
    EXPECT_GT(cv::countNonZero(region.reshape(1)), 0);
    EXPECT_EQ(cropImage(picture, cv::Rect(35, 25, 10, 10)).size(), cv::Size(5, 5));
    EXPECT_TRUE(cropImage(picture, cv::Rect(50, 50, 5, 5)).empty());

    // Resizing: bilinear only when both sides grow; a region is resized as the whole picture.
    const cv::Mat source = randomPicture(cv::Size(100, 80), CV_8UC1, 2);
    const struct {
        cv::Mat from;
        cv::Size to;
        int method, other;
        cv::Mat reference;
    } cases[] = {{source, {120, 90}, cv::INTER_LINEAR, cv::INTER_AREA, source},
                 {source, {120, 80}, cv::INTER_AREA, cv::INTER_LINEAR, source},
                 {source(cv::Rect(10, 10, 20, 20)), {30, 20}, cv::INTER_AREA, cv::INTER_LINEAR, source}};
    for (const auto& c : cases) {
        cv::Mat expected, other;
        cv::resize(c.reference, expected, c.to, 0, 0, c.method);
        cv::resize(c.reference, other, c.to, 0, 0, c.other);
        const cv::Mat resized = resizeImage(c.from, c.to.width, c.to.height);
        EXPECT_EQ(cv::norm(resized, expected, cv::NORM_INF), 0) << c.to;
        EXPECT_GT(cv::norm(resized, other, cv::NORM_INF), 0) << c.to;
    }
    EXPECT_EQ(robotest::programEndStatus([&] { resizeImage(source, 0, 10); }), 1);
    EXPECT_NE(screen().find("dydis 0x10"), std::string::npos);

    // The face detector takes the largest face and times itself.
    cv::CascadeClassifier cascade(robotest::cascadePath("haarcascade_frontalface_alt.xml"));
    ASSERT_FALSE(cascade.empty());
    detectfacetime = -5;
    EXPECT_EQ(detectFaceInImage(cv::Mat(240, 320, CV_8UC3, cv::Scalar::all(90)), cascade), cv::Rect(-1, -1, -1, -1));
    EXPECT_GE(detectfacetime, 0);
    // A small face on the left, a big one on the right.
    cv::Mat scene(300, 480, CV_8UC3, cv::Scalar::all(150));
    facetest::faceOnBackground(facetest::orlPicture(3, 1), 1.2, cv::Size(160, 200)).copyTo(scene(cv::Rect(10, 50, 160, 200)));
    facetest::faceOnBackground(facetest::orlPicture(4, 1), 2.4, cv::Size(260, 290)).copyTo(scene(cv::Rect(210, 5, 260, 290)));
    const cv::Rect face = detectFaceInImage(scene, cascade);
    ASSERT_TRUE(faceFound(face));
    EXPECT_GT(face.x, 210);
    EXPECT_GT(face.width, 100);
}

class Cameras : public robotest::RobotTest {
protected:
    void TearDown() override {
        releaseCameras();
        kamera1 = 1;
        RobotTest::TearDown();
    }
    robotest::ScopedWorkDir dir;
};

cv::Mat frameOf(int value) { return cv::Mat(24, 32, CV_8UC3, cv::Scalar::all(value)); }
int valueOf(const cv::Mat& frame) { return frame.empty() ? -1 : frame.at<cv::Vec3b>(0, 0)[0]; }

TEST_F(Cameras, RecordingPlaysInALoopAndOpensAgainFromTheStartAndAMissingCameraWarnsPausesAndIsTriedAgain) {
    facetest::writeCameraRecording(2, {frameOf(10), frameOf(20), frameOf(30)});
    std::vector<int> seen;
    for (int i = 0; i < 5; ++i) seen.push_back(valueOf(getCameraFrame1(i == 0 ? 2 : 5)));  // 5 is ignored once open
    EXPECT_EQ(seen, (std::vector<int>{10, 20, 30, 10, 20}));
    EXPECT_TRUE(camera1.isOpened());
    EXPECT_FALSE(camera.isOpened());

    kamera1 = 3;
    facetest::writeCameraRecording(3, {frameOf(40), frameOf(50)});
    EXPECT_EQ(valueOf(getCameraFrame()), 40);
    releaseRightCamera();
    EXPECT_FALSE(camera.isOpened());
    EXPECT_EQ(valueOf(getCameraFrame()), 40);

    releaseRightCamera();
    kamera1 = 97;  // neither ./video97 nor a video device 97
    const long long start = platform::nowMs();
    testing::internal::CaptureStderr();
    EXPECT_TRUE(getCameraFrame().empty());
    EXPECT_NE(testing::internal::GetCapturedStderr().find("Nera prisijungimo prie kameros ar video srauto.\n"), std::string::npos);
    EXPECT_EQ(platform::nowMs() - start, 4700 + 2000 + 2000);  // the warning's blinking, 2 s after it, 2 s for the stream
    facetest::writeCameraRecording(97, {frameOf(60)});  // a recording appearing later is found
    EXPECT_EQ(valueOf(getCameraFrame()), 60);
}

// Enrolment of a new person from the right camera, end to end: typed answers and
// keys from a script, a recording of one ORL person as the camera.
using robotest::readFile;
using facetest::writeText;

class Enrolment : public robotest::RobotTest {
protected:
    void SetUp() override {
        RobotTest::SetUp();
        kamera1 = 1;
        facetest::copyFaceCascade();
        // The robot already knows persons 3 and 4; person 6 sits before the right camera.
        writeText("train.txt", facetest::trainingList({3, 4}, 1, 5));
        ASSERT_EQ(learn("train.txt"), 1);
        std::vector<cv::Mat> frames;
        for (int i = 1; i <= 10; ++i) frames.push_back(facetest::faceOnBackground(facetest::orlPicture(6, i)));
        facetest::writeCameraRecording(1, frames);
    }
    void TearDown() override { releaseCameras(), RobotTest::TearDown(); }
    // The fields of a record file, 256 bytes each, as text.
    static std::vector<std::string> fields(const std::string& file) {
        const std::string record = readFile(file);
        std::vector<std::string> texts;
        for (std::size_t at = 0; at < record.size(); at += 256) texts.emplace_back(record.c_str() + at);
        return texts;
    }
    static int lineCount(const std::string& text) { return static_cast<int>(std::count(text.begin(), text.end(), '\n')); }
    robotest::ScopedWorkDir dir;
};

TEST_F(Enrolment, NewPersonIsCapturedListedAndLearnt) {
    // Twelve frames, two keys each: one at the keyboard check, one in the window's wait.
    platform::scriptKeys("1\rn12\rJonas\r4455\r12345678\r12345678\ry." + std::string(2 * 12, '.') + "t\x1b");
    ivedimasiscam();

    // Every frame showed the face, so every frame after the registration was captured and listed.
    const std::string list = readFile("train.txt");
    int newLines = 0;
    while (list.find(cv::format("\n3 12_Jonas data/3_12_Jonas%d.pgm\n", newLines + 1)) != std::string::npos) ++newLines;
    EXPECT_GE(newLines, 10);
    EXPECT_EQ(lineCount(list), 10 + newLines) << list;
    EXPECT_EQ(nPersons, 3);
    EXPECT_EQ(personNames.back(), "12_Jonas");
    EXPECT_EQ(nTrainFaces, 10 + newLines);

    EXPECT_EQ(fields("FaceRec/allinone.TXT"), (std::vector<std::string>{"12"}));
    EXPECT_EQ(fields("NewUserFolder/12.TXT"), (std::vector<std::string>{"12", "Jonas", "4455", "12345678"}));
    EXPECT_FALSE(camera.isOpened());
}

TEST_F(Enrolment, DialogueRefusesUnsafeAndKnownIdsAndRepeatsBadPasswords) {
    std::filesystem::create_directory("FaceRec");
    writeText("FaceRec/allinone.TXT", "7" + std::string(255, '\0'));

    platform::scriptKeys("1\rn../../etc\r7\r13\rOna Maria\rOna\rc-1\r12345678\r87654321\rabcdefghXYZ\rabcdefgh\rY.\x1b");
    ivedimasiscam();

    EXPECT_EQ(fields("FaceRec/allinone.TXT"), (std::vector<std::string>{"7", "13"}));
    // Keys after the eighth of the password are dropped.
    EXPECT_EQ(fields("NewUserFolder/13.TXT"), (std::vector<std::string>{"13", "Ona", "c-1", "abcdefgh"}));
    EXPECT_FALSE(std::filesystem::exists("NewUserFolder/7.TXT"));
    EXPECT_EQ(lineCount(readFile("train.txt")), 10);  // Esc before t: nothing listed
}

TEST_F(Enrolment, TWithoutRegistrationRetrainsAsIsAndAnsweringNoKeepsOnlyTheIdRecord) {
    platform::scriptKeys("1\rtn21\rIeva\r1\r11111111\r11111111\rn\x1b");
    ivedimasiscam();
    EXPECT_EQ(nPersons, 2);
    EXPECT_EQ(lineCount(readFile("train.txt")), 10);
    EXPECT_EQ(fields("FaceRec/allinone.TXT"), (std::vector<std::string>{"21"}));
    EXPECT_EQ(readFile("NewUserFolder/21.TXT"), "");
    EXPECT_TRUE(std::filesystem::exists("data/3_21_Ieva1.pgm"));  // capturing had begun
}

// Unread instructions leave at once. A folder in the ID file's place does not give
// way to root (a file in its folder's place: the exit-enrolment-without-id-file screen).
TEST_F(Enrolment, UnreadInstructionsLeaveAtOnceAndAnIdFileThatCannotBeReadEndsTheProgram) {
    platform::scriptKeys("0\r");
    ivedimasiscam();
    EXPECT_NE(screen().find("Perskaitykite atidziai instrukcija"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists("FaceRec"));
    std::filesystem::create_directories("FaceRec/allinone.TXT");
    platform::scriptKeys("1\rn12\r");
    EXPECT_EQ(robotest::programEndStatus(ivedimasiscam), 1);
    EXPECT_EQ(row(40).find("Negaliu atidaryti failo"), 6u);
}

TEST(EnrolmentAnswers, OnlyFileNameSafeWordsAreAccepted) {
    EXPECT_TRUE(isSafeAnswer("12_Jonas-2") && isSafeAnswer(std::string(64, 'a')));
    for (const std::string& bad : std::vector<std::string>{"", "../x", "a b", "a/b", "a.b", "x;rm", "\xc4\x85", std::string(65, 'a')})
        EXPECT_FALSE(isSafeAnswer(bad)) << bad;
}

// The simulated head: a servo's first command puts it there; later ones move it
// at the commanded speed from where it is.
TEST(SimulatedHead, ServosMoveAtTheCommandedSpeedFromWhereTheyAre) {
    scene::Head head;
    head.take("#7 P1400 S400 #0 P1850 S300 |\r#7 P1600 S100 #0 P20", 0);  // the second line ends later
    EXPECT_EQ(head.pulse(7, 0, 1000), 1400);
    EXPECT_EQ(head.pulse(5, 700, 1000), 700);  // never commanded: where it idles
    head.take("00 S0 |\r", 1000);             // 1400 -> 1600 at 100 a second; speed 0: at once
    EXPECT_EQ(head.pulse(7, 0, 1250), 1425);
    head.take("#7 P1400 S200 |\r", 1500);     // back from 1450 at 200 a second
    head.take("#0 P0 S0 |\r", 2000);          // switched off: stays
    EXPECT_EQ((std::vector<double>{head.pulse(7, 0, 1600), head.pulse(7, 0, 9000), head.pulse(0, 0, 9000)}),
              (std::vector<double>{1430, 1400, 2000}));
}

// Where the log says a target is, the picture shows it, wherever the head looks;
// more pan turns the head left, more tilt looks down.
TEST(SceneCamera, TargetsAreDrawnWhereTheyAreSaidToBeSeen) {
    scene::Scene s;
    s.wide = cv::Mat(600, 1000, CV_8UC3, cv::Scalar::all(128));
    scene::Target ball;
    ball.name = "ball1", ball.width = 3;
    cv::RNG random(5);
    int inside = 0;
    for (int i = 0; i < 30; ++i) {
        ball.from = ball.to = {random.uniform(-30.0, 30.0), random.uniform(-15.0, 15.0)};
        s.targets = {ball};
        const scene::HeadAngles head{random.uniform(-25.0, 25.0), random.uniform(-12.0, 12.0)};
        std::vector<scene::Seen> seen;
        const cv::Mat picture = scene::view(s, head, 0, {320, 240}, &seen);
        cv::Mat red;
        cv::inRange(picture, cv::Scalar(0, 0, 200), cv::Scalar(60, 60, 255), red);
        const cv::Moments m = cv::moments(red, true);
        if (seen.empty() || !cv::Rect(12, 12, 296, 216).contains(seen[0].at)) continue;  // the ball cut by the edge
        ++inside;
        EXPECT_LT(cv::norm(seen[0].at - cv::Point2d(m.m10 / m.m00, m.m01 / m.m00)), 1.0) << i;
    }
    EXPECT_GE(inside, 10);
    ball.from = ball.to = {-10, -5};  // left and below
    s.targets = {ball};
    std::vector<scene::Seen> seen;
    scene::view(s, scene::headAngles(s, 1500, 1900), 0, {320, 240}, &seen);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_LT(cv::norm(seen[0].at - cv::Point2d(160, 120)), 0.5) << seen[0].at;
}

TEST(SceneCamera, SceneFilesThatCannotBeUsedSayWhichLineAndWhy) {
    robotest::ScopedWorkDir dir;
    cv::imwrite("wide.png", cv::Mat(20, 40, CV_8UC3, cv::Scalar::all(9)));
    const std::pair<std::string, std::string> files[] = {
        {"camera 50\n", "scene: no picture line"},
        {"picture wide.png 190\n", "scene:2: picture FILE DEGREES (below 170)"},
        {"picture gone.png 90\n", "scene:2: cannot read the picture gone.png"},
        {"picture wide.png 90\nball 5 0 0 10 0 -1\n", "scene:3: ball WIDTH FROM_RIGHT FROM_UP TO_RIGHT TO_UP SPEED [APPEARS]"},
        {"picture wide.png 90\nzoom 2\n", "scene:3: unknown word zoom"},
        {"picture wide.png 90  # a comment\n\nball 5 0 0 10 0 1 2\n", ""},
    };
    for (const auto& [text, fault] : files) {
        facetest::writeText("scene", "robotas-scene\n" + text);
        scene::Scene s;
        EXPECT_TRUE(scene::isSceneFile("scene"));
        EXPECT_EQ(scene::load("scene", s), fault) << text;
    }
    EXPECT_FALSE(scene::isSceneFile("wide.png"));
}

}  // namespace
