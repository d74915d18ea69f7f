// Camera modes run for many frames on recordings, with virtual time and
// headless windows; the process's resident memory is read after a warm-up run
// and after the long run. Whatever a frame makes must be gone by the next one,
// so the memory may not grow beyond noise.
//
// ROBOTAS_SOAK_FRAMES sets the long run's frames for every mode (scripts/soak
// sets the full lengths); without it each mode runs a few frames only.

#include <gtest/gtest.h>

#include <unistd.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/objdetect.hpp>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "faces/camera/camera.h"
#include "faces/eigenfaces.h"
#include "faces/camera/imageutil.h"
#include "faces/veido_atpazinimas.h"
#include "objects/judesys.h"
#include "objects/object_modes.h"
#include "platform/keys.h"
#include "platform/ui.h"
#include "shell/console/f_graph.h"
#include "hardware/servo.h"
#include "stereo/stereo_modes.h"
#include "tests/faces/face_test_support.h"
#include "tests/support/robot_test.h"
#include "tests/support/stereo_data.h"

namespace {

constexpr int kQuickFrames = 30;
// Allowed growth: allocator noise and OpenCV's one-time caches, far below
// what one lost picture a frame would add over a long run.
constexpr double kNoiseMb = 12.0;

double residentMb() {
    long pages = 0, resident = 0;
    std::ifstream statm("/proc/self/statm");
    statm >> pages >> resident;
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

int framesFor(int fullLength, int quick = kQuickFrames) {
    const char* text = std::getenv("ROBOTAS_SOAK_FRAMES");
    if (!text || !*text) return quick;
    const long frames = std::atol(text);
    if (frames <= 0) return fullLength;  // ROBOTAS_SOAK_FRAMES=full: each mode's own length
    return static_cast<int>(frames);
}

class Soak : public robotest::RobotTest {
protected:
    void SetUp() override {
        RobotTest::SetUp();
        kamera1 = 1;
        kamera2 = 2;
        centreAllServoVariables();
    }
    void TearDown() override {
        releaseCameras();
        RobotTest::TearDown();
    }

    // The mode once for a warm-up of a fifth of the frames (at least 2), then
    // for frames frames, one key a frame; prints and checks the memory.
    void soak(const char* name, int frames, const std::function<void()>& mode) {
        run(mode, std::max(2, std::min(frames / 5, 200)));
        const double before = residentMb();
        run(mode, frames);
        const double after = residentMb();
        std::printf("soak: %s: %d frames, resident memory %.1f MB -> %.1f MB (%+.1f MB)\n", name, frames, before,
                    after, after - before);
        std::fflush(stdout);
        RecordProperty("resident_growth_kb", static_cast<int>((after - before) * 1024));
        EXPECT_LT(after - before, kNoiseMb) << name << " grew over " << frames << " frames";
    }
    static void run(const std::function<void()>& mode, int frames) {
        keyPressed = kKeyMenuRead;
        platform::scriptKeys(std::string(static_cast<std::size_t>(frames - 1), ' ') + "m");
        mode();
    }

    static void recordAloe() {
        for (auto [index, file] : {std::pair<int, const char*>{1, "stereo/aloeR_320x240.png"},
                                   {2, "stereo/aloeL_320x240.png"}}) {
            const std::string folder = "video" + std::to_string(index);
            std::filesystem::create_directories(folder);
            cv::imwrite(folder + "/frame001.png", cv::imread(robotest::testData(file)));
        }
    }

    robotest::ScopedWorkDir dir;
};

TEST_F(Soak, BlockMatchingDepthMode) {
    recordAloe();
    robotest::writeTestReprojectionMatrix();
    soak("block-matching depth", framesFor(10000), stereoBM);
}

TEST_F(Soak, GraphCutDepthMode) {
    recordAloe();
    soak("graph-cut depth", framesFor(10000, 4), stereoGC);
}

TEST_F(Soak, FaceRecognitionModeWithBothCameras) {
    facetest::copyFaceCascade();
    facetest::writeText("train.txt", facetest::trainingList({3, 4}, 1, 5));
    ASSERT_EQ(learn("train.txt"), 1);
    // Person 3 and an empty room, in turn, before both cameras.
    const cv::Mat empty(240, 320, CV_8UC3, cv::Scalar(150, 150, 150));
    const cv::Mat person = facetest::faceOnBackground(facetest::orlPicture(3, 6));
    facetest::writeCameraRecording(1, {person, person, empty});
    facetest::writeCameraRecording(2, {person, empty, person});
    soak("face recognition", framesFor(100000), VeidoAtpazinimas);
}

TEST_F(Soak, ObjectSearchOnTheLeftCamera) {
    cv::Mat scene;
    cv::resize(cv::imread(robotest::testData("objects/box_in_scene.png")), scene, cv::Size(640, 480));
    ASSERT_FALSE(scene.empty());
    for (const char* folder : {"video1", "video2"}) {
        std::filesystem::create_directories(folder);
        cv::imwrite(std::string(folder) + "/frame001.png", scene);
    }
    const std::string object = robotest::testData("objects/box.png");
    soak("object search", framesFor(10000, 10), [&] { daiktas(1, object.c_str()); });
}

TEST_F(Soak, MotionWatchOnARecordedStreet) {
    // The walking people of the recording as the left camera; the recording
    // starts again at its end, so the capture is reopened again and again.
    std::filesystem::copy_file(robotest::testData("motion/vtest_320x240.avi"), "video2");
    ekranorezimas = 1;
    // No move count or time limit ends the watch: only the scripted m does.
    soak("motion watch", framesFor(100000), [] { judesys(INT_MAX, 0); });
}

}  // namespace
