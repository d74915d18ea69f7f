// robotas-faces: the offline face database tool over the robot's own functions.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <regex>
#include <string>

#include "tests/faces/face_test_support.h"
#include "tests/support/robot_test.h"

namespace {

struct ToolRun {
    int status = -1;
    std::string output;  // standard output with the console's control sequences removed
};

ToolRun runTool(const std::string& arguments) {
    ToolRun run;
    const std::string command = "'" + robotest::programPath("robotas-faces") + "' " + arguments + " 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return run;
    char buffer[4096];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.output.append(buffer, got);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.output = std::regex_replace(run.output, std::regex("\x1b\\[[0-9;? ]*[A-Za-z]"), " ");
    return run;
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

    EXPECT_EQ(runTool("learn train.txt").status, 0);
    EXPECT_TRUE(std::filesystem::exists("facedata.xml"));
    const ToolRun report = runTool("test test.txt");
    EXPECT_EQ(report.status, 0);
    std::smatch match;
    ASSERT_TRUE(std::regex_search(report.output, match, std::regex("TOTAL ACCURACY: +([0-9]+)% out of +20 tests")))
        << report.output.substr(report.output.size() > 600 ? report.output.size() - 600 : 0);
    EXPECT_GE(std::stoi(match[1]), 85);
    EXPECT_NE(report.output.find("Apytiksliai = 4, Truth = 4 (Correct). Panasumas = "), std::string::npos);
}

TEST(FaceTool, FailsWithoutADatabaseOrWithATooShortList) {
    robotest::ScopedWorkDir dir;
    facetest::writeText("one.txt", facetest::trainingList({3}, 1, 1));
    EXPECT_EQ(runTool("learn one.txt").status, 1);
    EXPECT_EQ(runTool("test one.txt").status, 1);
    EXPECT_EQ(runTool("teach one.txt").status, 2);
}

}  // namespace
