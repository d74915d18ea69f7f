// robotas-faces: the offline face database tool over the robot's own functions.

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>

#include "tests/faces/face_test_support.h"
#include "tests/support/robot_test.h"

namespace {

robotest::ProgramRun runTool(const std::string& command, const std::string& list) {
    return robotest::runProgram("robotas-faces", {command, list});
}

TEST(FaceTool, LearnsAListAndReportsTheAccuracyOfAnother) {
    robotest::ScopedWorkDir dir;
    facetest::writeText("train.txt", facetest::trainingList({3, 4, 5, 6}, 1, 5));
    std::string test;
    for (int person = 3; person <= 6; ++person) {
        for (int i = 6; i <= 10; ++i) {
            const std::string picture = "test/" + std::to_string(person) + "_" + std::to_string(i) + ".pgm";
            facetest::copyPicture(person, i, picture);
            test += std::to_string(person - 2) + " s" + std::to_string(person) + " " + picture + "\n";
        }
    }
    facetest::writeText("test.txt", test);

    EXPECT_EQ(runTool("learn", "train.txt").status, 0);
    EXPECT_TRUE(std::filesystem::exists("facedata.xml"));
    // Into a file the report is plain lines, one fact each, nothing drawn over another.
    const robotest::ProgramRun report = runTool("test", "test.txt");
    EXPECT_EQ(report.status, 0);
    EXPECT_EQ(report.out.find('\x1b'), std::string::npos);
    std::smatch match;
    ASSERT_TRUE(std::regex_search(report.out, match,
                                  std::regex("\nTOTAL ACCURACY: ([0-9]+)% out of 20 tests\\.\nTOTAL TIME: [0-9.]+ms average\\.\n$")))
        << report.out;
    EXPECT_GE(std::stoi(match[1]), 85);
    EXPECT_EQ(report.out.rfind("20 Ivestu veidu testas\nApytiksliai = 1, Truth = 1 (Correct). Panasumas = ", 0), 0u);
}

TEST(FaceTool, FailsWithoutADatabaseOrWithATooShortList) {
    robotest::ScopedWorkDir dir;
    facetest::writeText("one.txt", facetest::trainingList({3}, 1, 1));
    EXPECT_EQ(runTool("learn", "one.txt").status, 1);
    const robotest::ProgramRun withoutDatabase = runTool("test", "one.txt");
    EXPECT_EQ(withoutDatabase.status, 1);
    EXPECT_EQ(withoutDatabase.err, "robotas-faces: Negaliu atidaryti DB failo 'facedata.xml'.\n");
    EXPECT_EQ(runTool("teach", "one.txt").status, 2);
}

}  // namespace
