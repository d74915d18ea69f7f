#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "blobs/blobs.h"
#include "tests/support/robot_test.h"

extern char** environ;

namespace {

std::string fileText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs robotas-blobs with the arguments, its output into out.txt; the exit status.
int runTool(const std::vector<std::string>& arguments) {
    std::vector<std::string> words{robotest::programPath("robotas-blobs")};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "out.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t child = 0;
    const int started = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (started != 0) return -1;
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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
    expected.PrintBlobs("expected.txt");
    EXPECT_EQ(fileText("report.txt"), fileText("expected.txt"));
    const std::string out = fileText("out.txt");
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
