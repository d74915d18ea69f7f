// Camera modes run for many frames on recordings; the resident memory is read after a
// warm-up run and after the long run: whatever a frame makes must be gone by the next.
// ROBOTAS_SOAK_FRAMES sets the long run's frames (0 or "full": each mode's own length).

#include <gtest/gtest.h>

#include <malloc.h>
#include <unistd.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <filesystem>
#include <fstream>

#include "faces/camera/camera.h"
#include "faces/faces.h"
#include "hardware/servo.h"
#include "objects/objects.h"
#include "platform/keys.h"
#include "shell/console/f_graph.h"
#include "stereo/stereo_modes.h"
#include "tests/faces/face_test_support.h"
#include "tests/support/robot_test.h"
#include "tests/support/stereo_data.h"

namespace {

// OpenCV's one-time caches; a picture of 320 x 240 lost every frame is 7 MB over 30.
constexpr double kNoiseMb = 2.0;

// What the process holds once the allocator has handed its free pages back: glibc keeps
// a freed large block's pages (its mmap threshold rises after such a free), which looks
// like growth but is reused by the next frame.
double residentMb() {
    malloc_trim(0);
    long pages = 0, resident = 0;
    return std::ifstream("/proc/self/statm") >> pages >> resident, static_cast<double>(resident * sysconf(_SC_PAGESIZE)) / (1 << 20);
}

class Soak : public robotest::RobotTest {
protected:
    void SetUp() override { RobotTest::SetUp(), kamera1 = 1, kamera2 = 2, centreAllServoVariables(); }
    void TearDown() override { releaseCameras(), RobotTest::TearDown(); }
    // A warm-up of a fifth of the frames (at least 2), then the long run, one key a frame.
    void soak(const char* name, int fullFrames, int quickFrames, const std::function<void()>& mode) {
        const char* configured = std::getenv("ROBOTAS_SOAK_FRAMES");
        const int asked = configured && *configured ? std::atoi(configured) : -1, frames = asked < 0 ? quickFrames : asked == 0 ? fullFrames : asked;
        const auto run = [&](int count) { keyPressed = kKeyMenuRead, platform::scriptKeys(std::string(count - 1, ' ') + "m"), mode(); };
        run(std::max(2, std::min(frames / 5, 200)));
        const double before = residentMb();
        run(frames);
        const double after = residentMb();
        std::printf("soak: %s: %d frames, resident memory %.1f MB -> %.1f MB (%+.1f MB)\n", name, frames, before, after, after - before);
        EXPECT_LT(after - before, kNoiseMb) << name << " grew over " << frames << " frames";
    }
    robotest::ScopedWorkDir dir;
};

TEST_F(Soak, BlockMatchingAndGraphCutDepthModes) {
    facetest::writeCameraRecording(1, {cv::imread(robotest::testData("stereo/aloeR_320x240.png"))});
    facetest::writeCameraRecording(2, {cv::imread(robotest::testData("stereo/aloeL_320x240.png"))});
    robotest::writeTestReprojectionMatrix();
    soak("block-matching depth", 10000, 30, stereoBM);
    std::filesystem::remove("Q.xml");  // the graph cuts run without the reprojection matrix
    soak("graph-cut depth", 10000, 4, stereoGC);
}

TEST_F(Soak, FaceRecognitionModeWithBothCameras) {
    facetest::copyFaceCascade();
    facetest::writeText("train.txt", facetest::trainingList({3, 4}, 1, 5));
    ASSERT_EQ(learn("train.txt"), 1);
    const cv::Mat empty(240, 320, CV_8UC3, cv::Scalar::all(150)), person = facetest::faceOnBackground(facetest::orlPicture(3, 6));
    facetest::writeCameraRecording(1, {person, person, empty});
    facetest::writeCameraRecording(2, {person, empty, person});
    soak("face recognition", 100000, 30, VeidoAtpazinimas);
}

TEST_F(Soak, ObjectSearchOnTheLeftCamera) {
    cv::Mat scene;
    cv::resize(cv::imread(robotest::testData("objects/box_in_scene.png")), scene, cv::Size(640, 480));
    facetest::writeCameraRecording(1, {scene}), facetest::writeCameraRecording(2, {scene});
    soak("object search", 10000, 10, [] { daiktas(1, robotest::testData("objects/box.png").c_str()); });
}

TEST_F(Soak, MotionWatchOnARecordedStreet) {  // walking people, reopened at each end; only m ends the watch
    std::filesystem::copy_file(robotest::testData("motion/vtest_320x240.avi"), "video2");
    ekranorezimas = 1;
    soak("motion watch", 100000, 30, [] { judesys(std::numeric_limits<int>::max(), 0); });
}

}  // namespace
