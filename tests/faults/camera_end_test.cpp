// A camera recording that ends, or is taken away, while the depth mode runs:
// the mode goes on (from the recording's start, or without frames and with
// its message) and still ends on m.

#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

#include <filesystem>
#include <fstream>
#include <thread>

#include "faces/camera/camera.h"
#include "platform/clock.h"
#include "platform/keys.h"
#include "platform/ui.h"
#include "shell/console/f_graph.h"
#include "hardware/servo.h"
#include "stereo/stereo_modes.h"
#include "tests/faults/fault_support.h"
#include "tests/support/robot_test.h"

namespace {

const char* const kDepthWindow = "stereoBM gylis";

class CameraEnds : public robotest::RobotTest {
protected:
    void SetUp() override {
        RobotTest::SetUp();
        kamera1 = 1;
        kamera2 = 2;
        servo_x = kServoCentreX;
        servo_y = kServoCentreY;
        faults::writeQ();
    }
    void TearDown() override {
        releaseCameras();
        RobotTest::TearDown();
    }
    robotest::ScopedWorkDir dir;
};

// A video file of three frames whose last frame is cut off in the middle, as a
// copy that stopped early leaves it.
bool writeCutVideo(const std::string& path, const cv::Mat& frame) {
    const std::string file = path + ".avi";  // the writer goes by the extension
    {
        cv::VideoWriter writer(file, cv::CAP_OPENCV_MJPEG, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 10,
                               frame.size());
        if (!writer.isOpened()) return false;
        for (int i = 0; i < 3; ++i) writer.write(frame);
    }
    const auto size = std::filesystem::file_size(file);
    std::filesystem::resize_file(file, size - size / 5);
    std::filesystem::rename(file, path);
    return true;
}

TEST_F(CameraEnds, CutVideoFilePlaysAgainFromItsStart) {
    const cv::Mat right = cv::imread(robotest::testData("stereo/aloeR_320x240.png"));
    const cv::Mat left = cv::imread(robotest::testData("stereo/aloeL_320x240.png"));
    ASSERT_FALSE(right.empty() || left.empty());
    ASSERT_TRUE(writeCutVideo("video1", right));
    ASSERT_TRUE(writeCutVideo("video2", left));
    platform::scriptKeys(std::string(11, ' ') + "m");
    testing::internal::CaptureStderr();
    stereoBM();
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_EQ(errors.find("Nera prisijungimo"), std::string::npos) << "no frame was missing past the file's end";
    EXPECT_EQ(row(42).substr(0, 13), "   Min disp: ");
    EXPECT_EQ(keyPressed & 0xFF, 'm');
    EXPECT_TRUE(camera.isOpened() && camera1.isOpened()) << "both recordings still play";
}

TEST_F(CameraEnds, RecordingTakenAwayMidModeLeavesAModeWithoutFramesThatStillEndsOnM) {
    faults::recordAloe();
    int shownBefore = 0;
    std::thread hand([&] {
        faults::waitForShows(kDepthWindow, 3);
        // The pictures go; the folders stay (no video device is tried instead).
        for (const char* folder : {"video1", "video2"})
            for (const auto& entry : std::filesystem::directory_iterator(folder)) std::filesystem::remove(entry.path());
        shownBefore = ui::showCount(kDepthWindow);
        // The mode looks for frames that no longer come (each look pauses 2 s of
        // the robot's clock), then the operator leaves.
        const long long gone = platform::nowMs();
        faults::waitUntil([&] { return platform::nowMs() - gone >= 2 * 2000; });
        platform::scriptKeys("m");
    });
    stereoBM();
    hand.join();
    EXPECT_GE(shownBefore, 3);
    EXPECT_EQ(keyPressed & 0xFF, 'm');
    // The picture folder's open capture may still hold a frame or two; then nothing.
    EXPECT_LE(ui::showCount(kDepthWindow), shownBefore + 2);
}

}  // namespace
