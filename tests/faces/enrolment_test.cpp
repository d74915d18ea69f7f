// Enrolment of a new person from the right camera, end to end: typed answers and
// keys from a script, a recording of one ORL person as the camera.

#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>

#include <filesystem>
#include <sstream>

#include "faces/camera/camera.h"
#include "faces/eigenfaces.h"
#include "faces/ivedimas.h"
#include "platform/keys.h"
#include "tests/faces/face_test_support.h"
#include "tests/support/robot_test.h"

namespace {

using facetest::readText;
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
    void TearDown() override {
        releaseCameras();
        RobotTest::TearDown();
    }
    // The fields of a record file, 256 bytes each, as text.
    static std::vector<std::string> fields(const std::string& file) {
        const std::string record = readText(file);
        std::vector<std::string> texts;
        for (std::size_t at = 0; at < record.size(); at += 256) texts.emplace_back(record.c_str() + at);
        return texts;
    }
    static int lineCount(const std::string& text) { return static_cast<int>(std::count(text.begin(), text.end(), '\n')); }
    robotest::ScopedWorkDir dir;
};

// Keys the mode reads per frame: one at the keyboard check, one in the window's wait.
std::string frames(int count) { return std::string(2 * static_cast<std::size_t>(count), '.'); }

TEST_F(Enrolment, NewPersonIsCapturedListedAndLearnt) {
    platform::scriptKeys("1\rn12\rJonas\r4455\r12345678\r12345678\ry." + frames(12) + "t\x1b");
    ivedimasiscam();

    // Every frame showed the face, so every frame after the registration was captured.
    std::istringstream added(readText("train.txt"));
    std::string line;
    int newLines = 0, lastPicture = 0;
    while (std::getline(added, line)) {
        if (line.rfind("3 12_Jonas data/3_12_Jonas", 0) != 0) continue;
        ++newLines;
        EXPECT_EQ(line, "3 12_Jonas data/3_12_Jonas" + std::to_string(newLines) + ".pgm");
        lastPicture = newLines;
    }
    EXPECT_GE(newLines, 10);
    const cv::Mat picture = cv::imread("data/3_12_Jonas" + std::to_string(lastPicture) + ".pgm", cv::IMREAD_UNCHANGED);
    ASSERT_FALSE(picture.empty());
    EXPECT_EQ(picture.size(), cv::Size(92, 112));  // the database's face size
    EXPECT_EQ(picture.type(), CV_8UC1);

    EXPECT_EQ(nPersons, 3);
    EXPECT_EQ(personNames.back(), "12_Jonas");
    EXPECT_EQ(nTrainFaces, 10 + newLines);

    EXPECT_EQ(fields("FaceRec/allinone.TXT"), (std::vector<std::string>{"12"}));
    EXPECT_EQ(fields("NewUserFolder/12.TXT"), (std::vector<std::string>{"12", "Jonas", "4455", "12345678"}));
    EXPECT_FALSE(camera.isOpened());
    EXPECT_NE(screen().find("Jusu veidas patalpintas i DB"), std::string::npos);
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
    EXPECT_EQ(lineCount(readText("train.txt")), 10);  // Esc before t: nothing listed
}

TEST_F(Enrolment, TWithoutRegistrationRetrainsAsIsAndAnsweringNoKeepsOnlyTheIdRecord) {
    platform::scriptKeys("1\rtn21\rIeva\r1\r11111111\r11111111\rn\x1b");
    ivedimasiscam();
    EXPECT_EQ(nPersons, 2);
    EXPECT_EQ(lineCount(readText("train.txt")), 10);
    EXPECT_EQ(fields("FaceRec/allinone.TXT"), (std::vector<std::string>{"21"}));
    EXPECT_EQ(readText("NewUserFolder/21.TXT"), "");
    EXPECT_TRUE(std::filesystem::exists("data/3_21_Ieva1.pgm"));  // capturing had begun
}

// A folder in the ID file's place does not give way to root (a file in its
// folder's place: the exit-enrolment-without-id-file screen).
TEST_F(Enrolment, IdFileThatCannotBeReadEndsTheProgramWithStatusOne) {
    std::filesystem::create_directories("FaceRec/allinone.TXT");
    platform::scriptKeys("1\rn12\r");
    EXPECT_EQ(robotest::programEndStatus(ivedimasiscam), 1);
    EXPECT_EQ(row(40).find("Negaliu atidaryti failo"), 6u);
}

TEST_F(Enrolment, UnreadInstructionsLeaveAtOnce) {
    platform::scriptKeys("0\r");
    ivedimasiscam();
    EXPECT_NE(screen().find("Perskaitykite atidziai instrukcija"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists("FaceRec"));
}

TEST(EnrolmentAnswers, OnlyFileNameSafeWordsAreAccepted) {
    EXPECT_TRUE(isSafeAnswer("12_Jonas-2") && isSafeAnswer(std::string(64, 'a')));
    for (const std::string& bad : std::vector<std::string>{"", "../x", "a b", "a/b", "a.b", "x;rm", "\xc4\x85", std::string(65, 'a')})
        EXPECT_FALSE(isSafeAnswer(bad)) << bad;
}

}  // namespace
