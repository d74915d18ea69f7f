// Enrolment of a new person from the right camera, end to end: typed answers and
// keys from a script, a recording of one ORL person as the camera.

#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "faces/camera/camera.h"
#include "faces/eigenfaces.h"
#include "faces/ivedimas.h"
#include "platform/keys.h"
#include "platform/terminal.h"
#include "platform/ui.h"
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
        // The robot already knows persons 3 and 4.
        writeText("train.txt", facetest::trainingList({3, 4}, 1, 5));
        ASSERT_EQ(learn("train.txt"), 1);
        // Person 6 sits before the right camera.
        std::vector<cv::Mat> frames;
        for (int i = 1; i <= 10; ++i) frames.push_back(facetest::faceOnBackground(facetest::orlPicture(6, i)));
        facetest::writeCameraRecording(1, frames);
    }
    void TearDown() override {
        releaseCameras();
        RobotTest::TearDown();
    }
    static std::string field(const std::string& record, int index) {
        return std::string(record.c_str() + index * 256);
    }
    static int lineCount(const std::string& text) {
        return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
    }
    robotest::ScopedWorkDir dir;
};

// Keys the mode reads per frame: one at the keyboard check, one in the window's wait.
std::string frames(int count) { return std::string(2 * static_cast<std::size_t>(count), '.'); }

TEST_F(Enrolment, NewPersonIsCapturedListedAndLearnt) {
    platform::scriptKeys(std::string("1\r") + "n" + "12\r" + "Jonas\r" + "4455\r" + "12345678\r" + "12345678\r" +
                         "y" + "." + frames(12) + "t" + "\x1b");
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

    const std::string ids = readText("FaceRec/allinone.TXT");
    ASSERT_EQ(ids.size(), 256u);
    EXPECT_EQ(field(ids, 0), "12");
    const std::string user = readText("NewUserFolder/12.TXT");
    ASSERT_EQ(user.size(), 1024u);
    EXPECT_EQ(field(user, 0), "12");
    EXPECT_EQ(field(user, 1), "Jonas");
    EXPECT_EQ(field(user, 2), "4455");
    EXPECT_EQ(field(user, 3), "12345678");
    EXPECT_FALSE(camera.isOpened());
    EXPECT_NE(screen().find("Jusu veidas patalpintas i DB"), std::string::npos);
}

TEST_F(Enrolment, DialogueRefusesUnsafeAndKnownIdsAndRepeatsBadPasswords) {
    std::filesystem::create_directory("FaceRec");
    std::string known(256, '\0');
    known.replace(0, 1, "7");
    writeText("FaceRec/allinone.TXT", known);

    platform::scriptKeys(std::string("1\r") + "n" + "../../etc\r" + "7\r" + "13\r" + "Ona Maria\r" + "Ona\r" +
                         "c-1\r" + "12345678\r" + "87654321\r" + "abcdefghXYZ\r" + "abcdefgh\r" + "Y" + "." +
                         "\x1b");
    ivedimasiscam();

    const std::string ids = readText("FaceRec/allinone.TXT");
    ASSERT_EQ(ids.size(), 512u);
    EXPECT_EQ(field(ids, 1), "13");
    const std::string user = readText("NewUserFolder/13.TXT");
    ASSERT_EQ(user.size(), 1024u);
    EXPECT_EQ(field(user, 1), "Ona");
    EXPECT_EQ(field(user, 2), "c-1");
    EXPECT_EQ(field(user, 3), "abcdefgh");  // keys after the eighth are dropped
    EXPECT_FALSE(std::filesystem::exists("NewUserFolder/7.TXT"));
    EXPECT_EQ(lineCount(readText("train.txt")), 10);  // Esc before t: nothing listed
}

TEST_F(Enrolment, TWithoutRegistrationRetrainsAsIsAndAnsweringNoKeepsOnlyTheIdRecord) {
    platform::scriptKeys(std::string("1\r") + "t" + "n" + "21\r" + "Ieva\r" + "1\r" + "11111111\r" + "11111111\r" +
                         "n" + "\x1b");
    ivedimasiscam();
    EXPECT_EQ(nPersons, 2);
    EXPECT_EQ(lineCount(readText("train.txt")), 10);
    EXPECT_EQ(readText("FaceRec/allinone.TXT").size(), 256u);
    EXPECT_EQ(readText("NewUserFolder/21.TXT").size(), 0u);
    EXPECT_TRUE(std::filesystem::exists("data/3_21_Ieva1.pgm"));  // capturing had begun
}

TEST_F(Enrolment, IdFileThatCannotBeReadOrMadeEndsTheProgramWithStatusOne) {
    // A folder in the ID file's place, or a file in its folder's: neither gives way to root.
    for (bool folderInItsPlace : {true, false}) {
        std::filesystem::remove_all("FaceRec");
        if (folderInItsPlace) std::filesystem::create_directories("FaceRec/allinone.TXT");
        else writeText("FaceRec", "");
        platform::Terminal::instance().reset();  // a blank message row for each
        platform::scriptKeys(std::string("1\r") + "n" + "12\r");
        EXPECT_EQ(robotest::programEndStatus(ivedimasiscam), 1) << folderInItsPlace;
        EXPECT_EQ(row(40).find("Negaliu atidaryti failo"), 6u) << folderInItsPlace;
    }
}

TEST_F(Enrolment, UnreadInstructionsLeaveAtOnce) {
    platform::scriptKeys("0\r");
    ivedimasiscam();
    EXPECT_NE(screen().find("Perskaitykite atidziai instrukcija"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists("FaceRec"));
}

TEST(EnrolmentAnswers, OnlyFileNameSafeWordsAreAccepted) {
    EXPECT_TRUE(isSafeAnswer("12_Jonas-2"));
    EXPECT_TRUE(isSafeAnswer(std::string(64, 'a')));
    EXPECT_FALSE(isSafeAnswer(std::string(65, 'a')));
    for (const char* bad : {"", "../x", "a b", "a/b", "a.b", "x;rm", "\xc4\x85"}) EXPECT_FALSE(isSafeAnswer(bad)) << bad;
}

}  // namespace
