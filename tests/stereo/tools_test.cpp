// robotas-stereo and robotas-calibrate, run as the operator runs them.

#include <gtest/gtest.h>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "stereo/stereo.h"
#include "tests/support/robot_test.h"

namespace {

using robotest::readFile;

struct Finished {
    int exitCode = -1;
    std::string out, err;
};

// Runs a built program in the current folder.
Finished run(const std::string& program, const std::vector<std::string>& args) {
    const robotest::ProgramRun done = robotest::runProgram(program, args);
    return Finished{done.status, done.out, done.err};
}

// A line "ms T" with T a whole number of milliseconds.
bool hasTimeLine(const std::string& out) {
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);)
        if (line.size() > 3 && line.compare(0, 3, "ms ") == 0 &&
            line.find_first_not_of("0123456789", 3) == std::string::npos)
            return true;
    return false;
}

// Right: random dots; left: the same shifted by 3 pixels.
void writeShiftedPair(int width, int height) {
    std::mt19937 random(1);
    cv::Mat right(height, width, CV_8UC1), left(height, width, CV_8UC1);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) right.at<uchar>(y, x) = uchar(random() & 255);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            left.at<uchar>(y, x) = x >= 3 ? right.at<uchar>(y, x - 3) : uchar(random() & 255);
    cv::imwrite("l.png", left);
    cv::imwrite("r.png", right);
}

TEST(StereoTool, GraphCutsWriteTheLeftMapInSixteenthsWithZeroForOccluded) {
    robotest::ScopedWorkDir dir;
    writeShiftedPair(64, 48);
    const Finished done = run("robotas-stereo", {"gc", "l.png", "r.png", "d.png",
                                                 "--disparities", "8"});
    ASSERT_EQ(done.exitCode, 0) << done.err;
    EXPECT_TRUE(hasTimeLine(done.out)) << done.out;
    const cv::Mat written = cv::imread("d.png", cv::IMREAD_UNCHANGED);
    ASSERT_EQ(written.type(), CV_16UC1);

    cv::Mat dispLeft, dispRight;
    ASSERT_TRUE(findStereoCorrespondenceGC(cv::imread("l.png", cv::IMREAD_GRAYSCALE),
                                           cv::imread("r.png", cv::IMREAD_GRAYSCALE), dispLeft,
                                           dispRight, createStereoGCState(8, 2)));
    int threes = 0;
    for (int y = 0; y < written.rows; ++y)
        for (int x = 0; x < written.cols; ++x) {
            const short d = dispLeft.at<short>(y, x);
            const int expected = d == kGCOccluded ? 0 : -d * 16;
            ASSERT_EQ(written.at<unsigned short>(y, x), expected) << x << "," << y;
            threes += expected == 48;
        }
    EXPECT_GT(threes, written.total() * 9 / 10);
}

TEST(StereoTool, BlockMatchingWritesTheRobotMatchersPositiveDisparities) {
    robotest::ScopedWorkDir dir;
    const std::string left = robotest::testData("stereo/aloeL_320x240.png");
    const std::string right = robotest::testData("stereo/aloeR_320x240.png");
    const Finished done = run("robotas-stereo", {"bm", left, right, "d.png"});
    ASSERT_EQ(done.exitCode, 0) << done.err;
    const cv::Mat written = cv::imread("d.png", cv::IMREAD_UNCHANGED);
    ASSERT_EQ(written.type(), CV_16UC1);

    cv::Mat disparity;
    createRobotStereoBM()->compute(cv::imread(left, cv::IMREAD_GRAYSCALE),
                                   cv::imread(right, cv::IMREAD_GRAYSCALE), disparity);
    int found = 0;
    for (int y = 0; y < written.rows; ++y)
        for (int x = 0; x < written.cols; ++x) {
            const short d = disparity.at<short>(y, x);
            ASSERT_EQ(written.at<unsigned short>(y, x), d > 0 ? d : 0) << x << "," << y;
            found += d > 0;
        }
    EXPECT_GT(found, 1000);
}

TEST(StereoTool, RefusesMismatchedOrOversizedPicturesAndBadArguments) {
    robotest::ScopedWorkDir dir;
    cv::imwrite("a.png", cv::Mat(40, 60, CV_8UC1, cv::Scalar(7)));
    cv::imwrite("b.png", cv::Mat(40, 61, CV_8UC1, cv::Scalar(7)));
    Finished done = run("robotas-stereo", {"gc", "a.png", "b.png", "d.png"});
    EXPECT_EQ(done.exitCode, 1);
    EXPECT_NE(done.err.find("differ in size"), std::string::npos) << done.err;
    done = run("robotas-stereo", {"bm", "a.png", "missing.png", "d.png"});
    EXPECT_EQ(done.exitCode, 1);
    EXPECT_NE(done.err.find("cannot read picture missing.png"), std::string::npos) << done.err;

    cv::imwrite("big.pgm", cv::Mat(3000, 4000, CV_8UC1, cv::Scalar(0)));  // quick to write
    done = run("robotas-stereo", {"gc", "big.pgm", "big.pgm", "d.png"});
    EXPECT_EQ(done.exitCode, 1);
    EXPECT_NE(done.err.find("too large"), std::string::npos) << done.err;

    EXPECT_EQ(run("robotas-stereo", {"sgbm", "a.png", "a.png", "d.png"}).exitCode, 2);
    EXPECT_EQ(run("robotas-stereo", {"gc", "a.png", "a.png", "d.png", "--disparities", "x"})
                  .exitCode, 2);
    EXPECT_EQ(run("robotas-stereo", {"gc", "a.png", "a.png", "d.png", "--disparities", "0"})
                  .exitCode, 2);
    std::ifstream none("d.png");
    EXPECT_FALSE(none.good()) << "nothing written on refusal";
}

TEST(CalibrateTool, WritesAReprojectionMatrixTheDepthModesCanLoad) {
    robotest::ScopedWorkDir dir;
    const Finished done =
        run("robotas-calibrate", {robotest::testData("stereo/calib/stereo_calib.xml"), "Q.xml"});
    ASSERT_EQ(done.exitCode, 0) << done.err;
    EXPECT_NE(done.out.find("pairs used 5 of 5"), std::string::npos) << done.out;

    cv::FileStorage fs("Q.xml", cv::FileStorage::READ);
    ASSERT_TRUE(fs.isOpened());
    cv::Mat first, named;
    fs.getFirstTopLevelNode() >> first;
    fs["Q"] >> named;
    ASSERT_EQ(first.size(), cv::Size(4, 4));
    EXPECT_EQ(cv::norm(first, named, cv::NORM_INF), 0);
    // Q maps (x, y, d, 1) to (X, Y, Z, W): principal point inside the 320 x
    // 240 frame, a focal length of a few hundred pixels there, and a baseline
    // of about 3.3 board squares (the cameras of these pictures).
    const double cx = -first.at<double>(0, 3), cy = -first.at<double>(1, 3);
    EXPECT_GT(cx, 100);
    EXPECT_LT(cx, 220);
    EXPECT_GT(cy, 70);
    EXPECT_LT(cy, 170);
    EXPECT_GT(first.at<double>(2, 3), 150);
    EXPECT_LT(first.at<double>(2, 3), 500);
    const double baseline = 1.0 / std::abs(first.at<double>(3, 2));
    EXPECT_NEAR(baseline, 3.34, 0.2);
}

// An image list naming the given pictures.
std::string imageList(const std::vector<std::string>& names) {
    std::string list = "<?xml version=\"1.0\"?>\n<opencv_storage>\n<imagelist>";
    for (const std::string& name : names) list += "\"" + name + "\" ";
    return list + "</imagelist>\n</opencv_storage>\n";
}

TEST(CalibrateTool, ExplainsUnusableListsInOneLine) {
    robotest::ScopedWorkDir dir;
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
        const Finished done = run("robotas-calibrate", {"list.xml", "Q.xml"});
        const std::string name = c.list ? c.list : "no list";
        EXPECT_EQ(done.exitCode, 1) << name;
        EXPECT_NE(done.err.find(c.said), std::string::npos) << name << ": " << done.err;
        EXPECT_EQ(done.err.find('\n'), done.err.size() - 1) << name << ": one line, no library text";
        EXPECT_NE(done.out.find(c.skipped), std::string::npos) << name << ": " << done.out;
        EXPECT_FALSE(std::ifstream("Q.xml").good()) << name;
    }
}

}  // namespace
