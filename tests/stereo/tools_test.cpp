// robotas-stereo and robotas-calibrate, run as the operator runs them.

#include <gtest/gtest.h>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <cstdio>
#include <fstream>
#include <functional>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "stereo/stereo.h"
#include "tests/support/robot_test.h"

namespace {

using robotest::runProgram;

TEST(StereoTool, WritesTheRobotMatchersLeftMapsInPositiveSixteenthsAndRefusesBadInputWithoutWriting) {
    robotest::ScopedWorkDir dir;
    std::mt19937 random(1);  // right: random dots; left: the same shifted by 3 pixels
    cv::Mat_<uchar> right(48, 64), left(48, 64);
    for (uchar& grey : right) grey = uchar(random());
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x) left(y, x) = x >= 3 ? right(y, x - 3) : uchar(random());
    cv::imwrite("l.png", left);
    cv::imwrite("r.png", right);
    const struct {
        std::vector<std::string> arguments;
        std::function<cv::Mat(const cv::Mat&, const cv::Mat&)> expected;  // CV_32S
        int well;  // how many pixels at least have the shift (gc) or any disparity (bm)
    } runs[] = {
        {{"gc", "l.png", "r.png", "d.png", "--disparities", "8"},
         [](const cv::Mat& l, const cv::Mat& r) {
             cv::Mat map, other, out;
             EXPECT_TRUE(findStereoCorrespondenceGC(l, r, map, other, createStereoGCState(8, 2)));
             map.convertTo(out, CV_32S, -16);
             return out.setTo(0, map == kGCOccluded);
         }, 64 * 48 * 9 / 10},
        {{"bm", robotest::testData("stereo/aloeL_320x240.png"), robotest::testData("stereo/aloeR_320x240.png"), "d.png"},
         [](const cv::Mat& l, const cv::Mat& r) {
             cv::Mat map, out;
             createRobotStereoBM()->compute(l, r, map);
             cv::max(map, 0, map);
             map.convertTo(out, CV_32S);
             return out;
         }, 1000},
    };
    for (const auto& run : runs) {
        const robotest::ProgramRun done = runProgram("robotas-stereo", run.arguments);
        ASSERT_EQ(done.status, 0) << done.err;
        EXPECT_TRUE(std::regex_search(done.out, std::regex("(^|\n)ms [0-9]+\n"))) << done.out;
        cv::Mat written = cv::imread("d.png", cv::IMREAD_UNCHANGED);
        ASSERT_EQ(written.type(), CV_16UC1);
        written.convertTo(written, CV_32S);
        const cv::Mat expected = run.expected(cv::imread(run.arguments[1], cv::IMREAD_GRAYSCALE),
                                              cv::imread(run.arguments[2], cv::IMREAD_GRAYSCALE));
        EXPECT_EQ(cv::norm(written, expected, cv::NORM_INF), 0) << run.arguments[0];
        EXPECT_GT(cv::countNonZero(run.arguments[0] == "gc" ? expected == 48 : expected > 0), run.well);
    }
    std::remove("d.png");
    // Mismatched or oversized pictures and bad arguments are refused without writing.
    cv::imwrite("a.png", cv::Mat(40, 60, CV_8UC1, cv::Scalar(7)));
    cv::imwrite("b.png", cv::Mat(40, 61, CV_8UC1, cv::Scalar(7)));
    cv::imwrite("big.pgm", cv::Mat(3000, 4000, CV_8UC1, cv::Scalar(0)));  // quick to write
    const struct {
        std::vector<std::string> arguments;
        int status;
        std::string said;
    } refused[] = {{{"gc", "a.png", "b.png", "d.png"}, 1, "differ in size"},
                   {{"bm", "a.png", "missing.png", "d.png"}, 1, "cannot read picture missing.png"},
                   {{"gc", "big.pgm", "big.pgm", "d.png"}, 1, "too large"},
                   {{"sgbm", "a.png", "a.png", "d.png"}, 2, ""},
                   {{"gc", "a.png", "a.png", "d.png", "--disparities", "x"}, 2, ""},
                   {{"gc", "a.png", "a.png", "d.png", "--disparities", "0"}, 2, ""}};
    for (const auto& r : refused) {
        const robotest::ProgramRun done = runProgram("robotas-stereo", r.arguments);
        EXPECT_EQ(done.status, r.status) << r.arguments[2];
        EXPECT_NE(done.err.find(r.said), std::string::npos) << done.err;
    }
    EXPECT_FALSE(std::ifstream("d.png").good()) << "nothing written on refusal";
}

// An image list naming the given pictures.
std::string imageList(const std::vector<std::string>& names) {
    std::string list = "<?xml version=\"1.0\"?>\n<opencv_storage>\n<imagelist>";
    for (const std::string& name : names) list += "\"" + name + "\" ";
    return list + "</imagelist>\n</opencv_storage>\n";
}

TEST(CalibrateTool, WritesAReprojectionMatrixTheDepthModesCanLoadAndExplainsUnusableListsInOneLine) {
    robotest::ScopedWorkDir dir;
    const robotest::ProgramRun done =
        runProgram("robotas-calibrate", {robotest::testData("stereo/calib/stereo_calib.xml"), "Q.xml"});
    ASSERT_EQ(done.status, 0) << done.err;
    EXPECT_NE(done.out.find("pairs used 5 of 5"), std::string::npos) << done.out;
    cv::FileStorage fs("Q.xml", cv::FileStorage::READ);
    cv::Mat first, named;
    fs.getFirstTopLevelNode() >> first;
    fs["Q"] >> named;
    ASSERT_EQ(first.size(), cv::Size(4, 4));
    EXPECT_EQ(cv::norm(first, named, cv::NORM_INF), 0);
    // Q maps (x, y, d, 1) to (X, Y, Z, W): principal point inside the 320 x
    // 240 frame, a focal length of a few hundred pixels there, and a baseline
    // of about 3.3 board squares (the cameras of these pictures).
    const double cx = -first.at<double>(0, 3), cy = -first.at<double>(1, 3), focal = first.at<double>(2, 3);
    EXPECT_TRUE(cx > 100 && cx < 220 && cy > 70 && cy < 170 && focal > 150 && focal < 500) << first;
    EXPECT_NEAR(1.0 / std::abs(first.at<double>(3, 2)), 3.34, 0.2);
    std::remove("Q.xml");

    // Unusable lists are explained in one line.
    cv::imwrite("plain.png", cv::Mat(48, 64, CV_8UC1, cv::Scalar(128)));
    const std::string left = robotest::testData("stereo/calib/left01.jpg");
    const std::string right = robotest::testData("stereo/calib/right01.jpg");
    const struct {
        const char* list;  // nullptr: no such file
        std::string text, said, skipped;
    } cases[] = {
        {nullptr, "", "cannot read list list.xml: No such file or directory", ""},
        {"odd", imageList({"a.jpg", "b.jpg", "c.jpg"}), "odd number", ""},
        {"blank", "", "in both pictures, got 0\n", ""},
        {"plain text", "a.jpg b.jpg\n", "list.xml is not a picture list", ""},
        {"one pair", imageList({left, right}), "in both pictures, got 1\n", ""},
        {"missing", imageList({"nope.png", right}), "in both pictures, got 0\n",
         "cannot read nope.png: No such file or directory"},
        {"no board", imageList({"plain.png", "plain.png", "plain.png", "plain.png"}),
         "in both pictures, got 0\n", "board not found"},
    };
    for (const auto& c : cases) {
        std::remove("list.xml");
        if (c.list) std::ofstream("list.xml") << c.text;
        const robotest::ProgramRun refusal = runProgram("robotas-calibrate", {"list.xml", "Q.xml"});
        const std::string name = c.list ? c.list : "no list";
        EXPECT_EQ(refusal.status, 1) << name;
        EXPECT_NE(refusal.err.find(c.said), std::string::npos) << name << ": " << refusal.err;
        EXPECT_EQ(refusal.err.find('\n'), refusal.err.size() - 1) << name << ": one line, no library text";
        EXPECT_NE(refusal.out.find(c.skipped), std::string::npos) << name << ": " << refusal.out;
        EXPECT_FALSE(std::ifstream("Q.xml").good()) << name;
    }
}

}  // namespace
