// robotas-blobs run as the operator runs it: the set's report, one line a blob.

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <fstream>
#include <string>
#include <vector>

#include "tests/support/robot_test.h"

namespace {

TEST(BlobTool, RefusesBadArgumentsWithoutWritingThenReportsEachBlob) {
    robotest::ScopedWorkDir dir;
    cv::Mat picture(10, 10, CV_8UC1, cv::Scalar(200));
    picture(cv::Rect(4, 3, 3, 3)).setTo(cv::Scalar(0));
    cv::Mat mask(10, 10, CV_8UC1, cv::Scalar(255));
    mask.at<uchar>(9, 9) = 0;  // masked pixels count nowhere
    ASSERT_TRUE(cv::imwrite("picture.png", picture) && cv::imwrite("mask.png", mask));
    cv::imwrite("small.png", cv::Mat(9, 10, CV_8UC1, cv::Scalar(255)));
    const struct {
        std::vector<std::string> arguments;
        int status;
    } refused[] = {{{"picture.png", "256", "report.txt"}, 2},
                   {{"picture.png", "12x", "report.txt"}, 2},
                   {{"picture.png", "100"}, 2},
                   {{"picture.png", "100", "report.txt", "--maks", "mask.png"}, 2},
                   {{"missing.png", "100", "report.txt"}, 1},
                   {{"picture.png", "100", "report.txt", "--mask", "small.png"}, 1},
                   {{"picture.png", "100", "no/such/folder/report.txt"}, 1}};
    for (const auto& r : refused)
        EXPECT_EQ(robotest::runProgram("robotas-blobs", r.arguments).status, r.status) << r.arguments[1];
    EXPECT_FALSE(std::ifstream("report.txt").good());

    const robotest::ProgramRun run = robotest::runProgram("robotas-blobs", {"picture.png", "100", "report.txt", "--mask", "mask.png"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.rfind("blobs 2\nms ", 0), 0u) << run.out;
    const std::string report = robotest::readFile("report.txt");
    EXPECT_EQ(report.rfind("blob 0 ->\t a=     90\t p=", 0), 0u) << report;
    EXPECT_EQ(report.substr(report.find("blob 1")),
              "blob 1 ->\t a=      9\t p=   12.00 (    0.00 extern)\t pconvex=   10.00\t ext=0\t m=   0.00\t "
              "c=1.27\t l=    3.00\n");
}

}  // namespace
