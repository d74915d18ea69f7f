// robotas-find run as the operator runs it.

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/robot_test.h"

namespace {

// The number after "name " at the start of a line of the report; -1 without one.
double valueOf(const std::string& report, const std::string& name) {
    const size_t at = ("\n" + report).find("\n" + name + " ");
    return at == std::string::npos ? -1 : std::stod(report.substr(at + name.size() + 1));
}

std::vector<cv::Point> cornersOf(const std::string& report) {
    std::vector<cv::Point> corners;
    std::istringstream lines(report);
    for (std::string line; std::getline(lines, line);) {
        cv::Point c;
        if (std::sscanf(line.c_str(), "corner %d %d", &c.x, &c.y) == 2) corners.push_back(c);
    }
    return corners;
}

const std::string box = robotest::testData("objects/box.png"), scene = robotest::testData("objects/box_in_scene.png");

TEST(FindTool, FindsTheBoxDrawsTheSearchPictureFindsNothingWithoutKeyPointsAndRefusesBadInput) {
    robotest::ScopedWorkDir dir;
    const robotest::ProgramRun run = robotest::runProgram("robotas-find", {box, scene, "--out", "search.png"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(valueOf(run.out, "object keypoints"), 620);  // as Surf.FindsTheSamePointsAndDescriptorsAsRecorded finds
    EXPECT_TRUE(valueOf(run.out, "scene keypoints") > 0 && valueOf(run.out, "pairs") >= 4 && valueOf(run.out, "ms") > 0) << run.out;
    EXPECT_EQ(valueOf(run.out, "located"), 1);
    const std::vector<cv::Point> corners = cornersOf(run.out);
    ASSERT_EQ(corners.size(), 4u);
    EXPECT_TRUE(corners[1].x > corners[0].x && corners[2].y > corners[1].y) << "the top edge runs right, then down";
    EXPECT_EQ(cv::imread("search.png", cv::IMREAD_UNCHANGED).size(), cv::Size(512, 223 + 384));
    std::remove("search.png");

    cv::imwrite("dot.png", cv::Mat(1, 1, CV_8UC1, cv::Scalar(9)));
    cv::imwrite("wall.png", cv::Mat(480, 640, CV_8UC1, cv::Scalar(128)));
    for (const auto& [object, seen] : {std::pair<std::string, std::string>{"dot.png", scene}, {box, "wall.png"}}) {
        const robotest::ProgramRun none = robotest::runProgram("robotas-find", {object, seen, "--out", "found.png"});
        EXPECT_EQ(none.status, 0) << none.err;
        EXPECT_EQ(valueOf(none.out, "pairs") + valueOf(none.out, "located"), 0) << none.out;
        EXPECT_TRUE(cornersOf(none.out).empty());
        EXPECT_FALSE(cv::imread("found.png").empty());
    }
    std::ofstream("notes.txt") << "not a picture\n";
    const struct { std::vector<std::string> arguments; int status; std::string said; } refused[] = {
        {{"nowhere.png", scene, "--out", "search.png"}, 1, "cannot read picture nowhere.png: No such file or directory\n"},
        {{box, "notes.txt", "--out", "search.png"}, 1, "cannot read picture notes.txt: not a picture\n"},
        {{box}, 2, ""}, {{box, scene, "--out"}, 2, ""}, {{box, scene, scene}, 2, ""},
        {{box, scene, "--out", "no/such/folder/x.png"}, 1, ""}};
    for (const auto& r : refused) {
        const robotest::ProgramRun refusal = robotest::runProgram("robotas-find", r.arguments);
        EXPECT_EQ(refusal.status, r.status) << r.arguments.back();
        if (r.said.empty()) continue;
        EXPECT_EQ(refusal.out + refusal.err, "robotas-find: " + r.said);  // no report of a search that never ran
    }
    EXPECT_FALSE(std::ifstream("search.png").good());
}

}  // namespace
