// Faults the depth mode survives while it steers the head over the Aloe pair:
// a recording cut short or taken away, the servo controller pulled out and back.

#include <gtest/gtest.h>

#include <unistd.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

#include <algorithm>
#include <filesystem>
#include <thread>

#include "faces/camera/camera.h"
#include "hardware/rs232.h"
#include "hardware/servo.h"
#include "platform/clock.h"
#include "platform/keys.h"
#include "platform/ui.h"
#include "shell/console/f_graph.h"
#include "stereo/stereo_modes.h"
#include "tests/faces/face_test_support.h"
#include "tests/support/robot_test.h"
#include "tests/support/ssc32_peer.h"
#include "tests/support/stereo_data.h"

namespace {

namespace fs = std::filesystem;
const char* const kDepthWindow = "stereoBM gylis";
constexpr int kWaitMs = 60000;  // real time, bounded, while the mode runs on the test's thread

cv::Mat aloe(const std::string& side) { return cv::imread(robotest::testData("stereo/aloe" + side + "_320x240.png")); }

class DepthModeFaults : public robotest::RobotTest {
protected:
    void SetUp() override {
        RobotTest::SetUp(), robotest::writeTestReprojectionMatrix();
        cport_nr = 1, bdrate = 115200, kamera1 = 1, kamera2 = 2, servo_x = kServoCentreX, servo_y = kServoCentreY;
    }
    void TearDown() override { CloseComport(cport_nr), releaseCameras(), RobotTest::TearDown(); }
    static void recordAloe() { facetest::writeCameraRecording(1, {aloe("R")}), facetest::writeCameraRecording(2, {aloe("L")}); }
    static long panCommands(const robotest::Ssc32Simulator& simulator) {
        const std::vector<std::string> lines = simulator.lines();
        return std::count_if(lines.begin(), lines.end(), [](const std::string& line) { return line.rfind("#7 P", 0) == 0; });
    }
    robotest::ScopedWorkDir dir;
};

// Three frames whose last is cut off in the middle, as a copy that stopped early leaves it.
void writeCutVideo(const std::string& path, const cv::Mat& frame) {
    const std::string file = path + ".avi";  // the writer goes by the extension
    {
        cv::VideoWriter writer(file, cv::CAP_OPENCV_MJPEG, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 10, frame.size());
        ASSERT_TRUE(writer.isOpened());
        for (int i = 0; i < 3; ++i) writer.write(frame);
    }
    fs::resize_file(file, fs::file_size(file) * 4 / 5);
    fs::rename(file, path);
}

TEST_F(DepthModeFaults, CutVideoFilePlaysAgainFromItsStart) {
    writeCutVideo("video1", aloe("R"));
    writeCutVideo("video2", aloe("L"));
    platform::scriptKeys("           m");
    testing::internal::CaptureStderr();
    stereoBM();
    EXPECT_EQ(testing::internal::GetCapturedStderr().find("Nera prisijungimo"), std::string::npos) << "no frame was missing";
    EXPECT_EQ(row(42).substr(0, 13) + char(keyPressed & 0xFF), "   Min disp: m");
    EXPECT_TRUE(camera.isOpened() && camera1.isOpened()) << "both recordings still play";
}

// The operator's hand while the mode runs: it pulls the controller out, plugs it
// back, then takes the pictures away (the folders stay: no video device is tried).
TEST_F(DepthModeFaults, ModeRunsOnWithoutControllerOrFramesAndStillEndsOnM) {
    recordAloe();
    auto first = std::make_unique<robotest::Ssc32Simulator>(dir.path());
    ASSERT_TRUE(first->running());
    ASSERT_EQ(OpenComport(cport_nr, bdrate), 0);
    std::unique_ptr<robotest::Ssc32Simulator> second;  // ends with the thread that started it
    int shownWhenPulled = 0, shownWhenBack = 0, shownWithoutFrames = 0;
    bool sawCommandsFirst = false, sawCommandsAgain = false;
    std::thread hand([&] {
        sawCommandsFirst = robotest::waitUntil([&] { return panCommands(*first) >= 3; }, kWaitMs);
        first->kill();
        unlink("COM2");  // the device node goes with the device
        unlink("ssc32sim.log");
        shownWhenPulled = ui::showCount(kDepthWindow);
        robotest::waitUntil([&] { return ui::showCount(kDepthWindow) >= shownWhenPulled + 5; }, kWaitMs);
        second = std::make_unique<robotest::Ssc32Simulator>(dir.path());
        shownWhenBack = ui::showCount(kDepthWindow);
        sawCommandsAgain = second->running() && robotest::waitUntil([&] { return panCommands(*second) >= 3; }, kWaitMs) && ComportOpen(cport_nr);
        for (const char* folder : {"video1", "video2"})
            for (const auto& entry : fs::directory_iterator(folder)) fs::remove(entry.path());
        shownWithoutFrames = ui::showCount(kDepthWindow);
        // Each look for a frame that no longer comes pauses 2 s of the robot's clock.
        const long long gone = platform::nowMs();
        robotest::waitUntil([&] { return platform::nowMs() - gone >= 2 * 2000; }, kWaitMs);
        platform::scriptKeys("m");
    });
    stereoBM();
    hand.join();
    EXPECT_TRUE(sawCommandsFirst) << "the mode steered the head before the plug was pulled";
    EXPECT_GT(shownWhenBack, shownWhenPulled + 4) << "frames went on without the controller";
    EXPECT_TRUE(sawCommandsAgain) << "the controller plugged back takes the mode's commands";
    // The picture folder's open capture may still hold a frame or two; then nothing.
    EXPECT_LE(ui::showCount(kDepthWindow), shownWithoutFrames + 2);
    EXPECT_EQ(keyPressed & 0xFF, 'm');
}

TEST_F(DepthModeFaults, PortClosedOnPurposeStaysClosedWhenTheDeviceIsThere) {
    robotest::Ssc32Simulator simulator(dir.path());
    ASSERT_EQ(OpenComport(cport_nr, bdrate), 0);
    CloseComport(cport_nr);
    sendCommand(cport_nr, "#7 P1500 S400 |");
    EXPECT_FALSE(ComportOpen(cport_nr));
    EXPECT_TRUE(simulator.waitForLines(1, 300).empty());
}

}  // namespace
