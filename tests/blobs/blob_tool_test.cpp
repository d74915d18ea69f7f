#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "blobs/blobs.h"
#include "tests/support/robot_test.h"

namespace {

using robotest::readFile;

std::string lastOutput;  // what the last run printed

// Runs robotas-blobs with the arguments; its exit status.
int runTool(const std::vector<std::string>& arguments) {
    const robotest::ProgramRun run = robotest::runProgram("robotas-blobs", arguments);
    lastOutput = run.out;
    return run.status;
}

class BlobTool : public ::testing::Test {
protected:
    void SetUp() override {
        picture_ = cv::Mat(60, 80, CV_8UC1, cv::Scalar(200));
        picture_(cv::Rect(10, 10, 20, 10)).setTo(cv::Scalar(0));
        picture_(cv::Rect(40, 30, 5, 20)).setTo(cv::Scalar(20));
        mask_ = cv::Mat(60, 80, CV_8UC1, cv::Scalar(255));
        mask_.rowRange(0, 5).setTo(cv::Scalar(0));
        ASSERT_TRUE(cv::imwrite("picture.png", picture_));
        ASSERT_TRUE(cv::imwrite("mask.png", mask_));
    }

    robotest::ScopedWorkDir dir_;
    cv::Mat picture_;
    cv::Mat mask_;
};

TEST_F(BlobTool, WritesTheSetsReportAndCountsTheBlobs) {
    ASSERT_EQ(runTool({"picture.png", "100", "report.txt", "--mask", "mask.png"}), 0);
    CBlobResult expected(picture_, mask_, 100, true);
    std::ostringstream report;
    expected.PrintBlobs(report);
    EXPECT_EQ(readFile("report.txt"), report.str());
    const std::string out = lastOutput;
    EXPECT_EQ(out.rfind("blobs 3\nms ", 0), 0u) << out;
}

TEST_F(BlobTool, RefusesBadArgumentsWithoutWriting) {
    EXPECT_EQ(runTool({"picture.png", "256", "report.txt"}), 2);
    EXPECT_EQ(runTool({"picture.png", "12x", "report.txt"}), 2);
    EXPECT_EQ(runTool({"picture.png", "100"}), 2);
    EXPECT_EQ(runTool({"picture.png", "100", "report.txt", "--maks", "mask.png"}), 2);
    EXPECT_EQ(runTool({"missing.png", "100", "report.txt"}), 1);
    cv::imwrite("small.png", cv::Mat(10, 10, CV_8UC1, cv::Scalar(255)));
    EXPECT_EQ(runTool({"picture.png", "100", "report.txt", "--mask", "small.png"}), 1);
    EXPECT_EQ(runTool({"picture.png", "100", "no/such/folder/report.txt"}), 1);
    EXPECT_FALSE(std::ifstream("report.txt").good());
}

}  // namespace
