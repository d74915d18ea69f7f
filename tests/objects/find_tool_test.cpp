#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "objects/surf.h"
#include "tests/objects/objects_test_util.h"
#include "tests/support/robot_test.h"

namespace {

// What robotas-find printed: the "name value" lines, corners in order.
struct FindReport {
    int status = -1;
    std::map<std::string, double> values;
    std::vector<cv::Point> corners;
    std::string text;
};

FindReport runFind(const std::vector<std::string>& arguments) {
    const robotest::ProgramRun run = robotest::runProgram("robotas-find", arguments);
    FindReport report;
    report.status = run.status;
    report.text = run.out;
    std::istringstream lines(report.text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string name, second;
        words >> name;
        if (name == "corner") {
            cv::Point c;
            words >> c.x >> c.y;
            report.corners.push_back(c);
        } else if (name == "object" || name == "scene") {
            double n = 0;
            words >> second >> n;
            report.values[name + " " + second] = n;
        } else {
            double v = 0;
            words >> v;
            report.values[name] = v;
        }
    }
    return report;
}

class FindTool : public ::testing::Test {
protected:
    void SetUp() override {
        box_ = robotest::testData("objects/box.png");
        scene_ = robotest::testData("objects/box_in_scene.png");
    }
    robotest::ScopedWorkDir dir_;
    std::string box_, scene_;
};

TEST_F(FindTool, FindsTheBoxAndDrawsTheSearchPicture) {
    const FindReport r = runFind({box_, scene_, "--out", "search.png"});
    ASSERT_EQ(r.status, 0) << r.text;
    std::vector<SurfPoint> points;
    cv::Mat descriptors;
    extractSURF(cv::imread(box_, cv::IMREAD_GRAYSCALE), points, descriptors);
    EXPECT_EQ(r.values.at("object keypoints"), static_cast<double>(points.size()));
    EXPECT_GT(r.values.at("scene keypoints"), 0);
    EXPECT_GE(r.values.at("pairs"), 4);
    EXPECT_EQ(r.values.at("located"), 1);
    ASSERT_EQ(r.corners.size(), 4u);
    EXPECT_GT(r.corners[1].x, r.corners[0].x);  // top edge runs to the right, then down
    EXPECT_GT(r.corners[2].y, r.corners[1].y);
    EXPECT_GT(r.values.at("ms"), 0);
    const cv::Mat picture = cv::imread("search.png", cv::IMREAD_UNCHANGED);
    ASSERT_FALSE(picture.empty());
    EXPECT_EQ(picture.cols, 512);
    EXPECT_EQ(picture.rows, 223 + 384);
}

TEST_F(FindTool, PicturesWithoutKeyPointsFindNothing) {
    cv::imwrite("dot.png", cv::Mat(1, 1, CV_8UC1, cv::Scalar(9)));
    cv::imwrite("wall.png", cv::Mat(480, 640, CV_8UC1, cv::Scalar(128)));
    for (const auto& [object, scene] : {std::pair<std::string, std::string>{"dot.png", scene_}, {box_, "wall.png"}}) {
        const FindReport r = runFind({object, scene, "--out", "search.png"});
        EXPECT_EQ(r.status, 0) << r.text;
        EXPECT_EQ(r.values.at("pairs"), 0);
        EXPECT_EQ(r.values.at("located"), 0);
        EXPECT_TRUE(r.corners.empty());
        EXPECT_FALSE(cv::imread("search.png").empty());
    }
}

TEST_F(FindTool, MissingFilesAndBadArguments) {
    std::ofstream("notes.txt") << "not a picture\n";
    const struct {
        std::string object, scene, said;
    } unreadable[] = {{"nowhere.png", scene_, "nowhere.png: No such file or directory"},
                      {box_, "notes.txt", "notes.txt: not a picture"}};
    for (const auto& u : unreadable) {
        const robotest::ProgramRun run = robotest::runProgram("robotas-find", {u.object, u.scene, "--out", "search.png"});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, "");  // no report of a search that never ran
        EXPECT_EQ(run.err, "robotas-find: cannot read picture " + u.said + "\n");
        EXPECT_FALSE(std::ifstream("search.png").good());
    }
    EXPECT_EQ(runFind({box_}).status, 2);
    EXPECT_EQ(runFind({box_, scene_, "--out"}).status, 2);
    EXPECT_EQ(runFind({box_, scene_, scene_}).status, 2);
    EXPECT_EQ(runFind({box_, scene_, "--out", "no/such/folder/x.png"}).status, 1);
}

}  // namespace
