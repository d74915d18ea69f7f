// Reading training lists: who is who, and what a bad list does; robotas-faces,
// the offline face database tool over the robot's own functions.

#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>

#include <filesystem>
#include <regex>
#include <string>

#include "faces/eigenfaces.h"
#include "tests/faces/face_test_support.h"
#include "tests/support/robot_test.h"

namespace {

using facetest::writeText;
using Names = std::vector<std::string>;

class FaceList : public robotest::RobotTest {
protected:
    void SetUp() override {
        RobotTest::SetUp();
        facetest::copyPicture(3, 1, "data/a.pgm");
        facetest::copyPicture(3, 2, "data/b.pgm");
        facetest::copyPicture(4, 1, "data/c.pgm");
        cv::imwrite("data/small.pgm", cv::Mat(50, 40, CV_8U, cv::Scalar(9)));
    }
    robotest::ScopedWorkDir dir;
};

TEST_F(FaceList, ListsAreReadLineByLineAndBadLinesReported) {
    const std::string longName(3000, 'V'), folder(200, 'f');
    const std::string deep = "data/" + folder + "/" + folder + "/" + folder + "/" + std::string(200, 'p') + ".pgm";
    facetest::copyPicture(3, 1, deep);
    const struct {
        std::string list;
        int loaded;
        Names names;
        std::vector<std::string> errors;
    } lists[] = {
        // The first number names every person below it; later entries rename nobody.
        {"3 Ona data/c.pgm\n2 Petras data/a.pgm\n5 Ieva data/b.pgm\n3 Kazys data/c.pgm\n", 4,
         {"Ona", "Ona", "Ona", "Ieva", "Ieva"}, {}},
        {"\n1 Jonas data/a.pgm\n   \nJonas 1 data/a.pgm\n0 Nobody data/a.pgm\n-2 Minus data/a.pgm\n2x Ona data/b.pgm\n"
         "1 Jonas\n1 Jonas data/b.pgm", 2, {"Jonas"},
         {"Bloga eilute 1 ", "Bloga eilute 3 ", "Bloga eilute 4 ", "Bloga eilute 5 ", "Bloga eilute 6 ", "Bloga eilute 7 ", "Bloga eilute 8 "}},
        {"\n\n \n", 0, {}, {}},
        {"1 " + longName + " " + deep + "\n1 " + longName + " " + deep + "\n", 2, {longName}, {}},
        {"1 Jonas data/a.pgm\n1 Jonas data/missing.pgm\n", 0, {}, {"Negaliu atidaryti paveikslelio data/missing.pgm\n"}},
    };
    for (const auto& l : lists) {
        writeText("list.txt", l.list);
        testing::internal::CaptureStderr();
        EXPECT_EQ(loadFaceImgArray("list.txt"), l.loaded) << l.list.substr(0, 80);
        const std::string errors = testing::internal::GetCapturedStderr();
        if (l.loaded) { EXPECT_EQ(personNames, l.names) << l.list.substr(0, 80); }
        if (l.loaded || l.errors.empty()) { EXPECT_EQ(nPersons, static_cast<int>(l.names.size())) << l.list.substr(0, 80); }
        for (const std::string& error : l.errors) EXPECT_NE(errors.find(error), std::string::npos) << error;
    }
    testing::internal::CaptureStderr();
    EXPECT_EQ(loadFaceImgArray("nothing.txt"), 0);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("Negaliu atidaryti failo nothing.txt\n"), std::string::npos);
}

TEST_F(FaceList, LearningTakesTwoPicturesOfOneSizeAndKeepsTheOldDatabaseOtherwise) {
    writeText("train.txt", "1 Jonas data/a.pgm\n1 Jonas data/b.pgm\n2 Ona data/c.pgm\n");
    ASSERT_EQ(learn("train.txt"), 1);
    EXPECT_EQ(personNames, (Names{"Jonas", "Ona"}));
    EXPECT_EQ(nTrainFaces, 3);
    EXPECT_EQ(nEigens, 2);
    EXPECT_EQ(personNumTruthMat.at<int>(0, 2), 2);

    writeText("facedata.xml", "old database");
    writeText("one.txt", "1 Jonas data/a.pgm\n");
    writeText("sizes.txt", "1 Jonas data/a.pgm\n2 Ona data/small.pgm\n");
    testing::internal::CaptureStderr();
    EXPECT_EQ(learn("one.txt"), 0);
    EXPECT_EQ(learn("sizes.txt"), 0);
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_NE(errors.find("Reikalingi 2 ar daugiau veidu DB\nIvedamas failas sudaro 1\n"), std::string::npos) << errors;
    EXPECT_NE(errors.find("data/small.pgm dydis 40x50"), std::string::npos) << errors;
    EXPECT_EQ(facetest::readText("facedata.xml"), "old database");
}

using robotest::runProgram;

TEST(FaceTool, LearnsAListAndReportsTheAccuracyOfAnother) {
    robotest::ScopedWorkDir dir;
    facetest::writeText("train.txt", facetest::trainingList({3, 4, 5, 6}, 1, 5));
    std::string test;
    for (int person = 3; person <= 6; ++person) {
        for (int i = 6; i <= 10; ++i) {
            const std::string picture = cv::format("test/%d_%d.pgm", person, i);
            facetest::copyPicture(person, i, picture);
            test += cv::format("%d s%d %s\n", person - 2, person, picture.c_str());
        }
    }
    facetest::writeText("test.txt", test);
    EXPECT_EQ(runProgram("robotas-faces", {"learn", "train.txt"}).status, 0);
    // Into a file the report is plain lines, one fact each, nothing drawn over another.
    const robotest::ProgramRun report = runProgram("robotas-faces", {"test", "test.txt"});
    EXPECT_EQ(report.status, 0);
    EXPECT_EQ(report.out.find('\x1b'), std::string::npos);
    std::smatch match;
    ASSERT_TRUE(std::regex_search(report.out, match,
                                  std::regex("\nTOTAL ACCURACY: ([0-9]+)% out of 20 tests\\.\nTOTAL TIME: [0-9.]+ms average\\.\n$")))
        << report.out;
    EXPECT_GE(std::stoi(match[1]), 85);
    EXPECT_EQ(report.out.rfind("20 Ivestu veidu testas\nApytiksliai = 1, Truth = 1 (Correct). Panasumas = ", 0), 0u);

    facetest::writeText("one.txt", facetest::trainingList({3}, 1, 1));
    std::filesystem::remove("facedata.xml");
    EXPECT_EQ(runProgram("robotas-faces", {"learn", "one.txt"}).status, 1);
    const robotest::ProgramRun withoutDatabase = runProgram("robotas-faces", {"test", "one.txt"});
    EXPECT_EQ(withoutDatabase.status, 1);
    EXPECT_EQ(withoutDatabase.err, "robotas-faces: Negaliu atidaryti DB failo 'facedata.xml'.\n");
    EXPECT_EQ(runProgram("robotas-faces", {"teach", "one.txt"}).status, 2);
}

}  // namespace
