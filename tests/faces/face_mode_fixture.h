#pragma once
// Common ground of the live face mode tests: picture folders as the two cameras,
// the shared motion variables at the centre, recorded speech, and the servo
// controller simulator on COM2 when a test connects it. A camera folder without
// pictures is a camera that gives no frame: its getter reports and pauses, which
// makes a frame several seconds of virtual time and lets the time rules run.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "faces/camera/camera.h"
#include "faces/veido_atpazinimas.h"
#include "hardware/hardware.h"
#include "platform/clock.h"
#include "platform/runner.h"
#include "shell/console/f_graph.h"
#include "hardware/servo.h"
#include "tests/faces/face_test_support.h"
#include "tests/support/robot_test.h"
#include "tests/support/ssc32_peer.h"

namespace facetest {

using Lines = std::vector<std::string>;

class FaceModeTest : public robotest::RobotTest {
protected:
    void SetUp() override {
        RobotTest::SetUp();
        centreHead();
        kamera1 = 1, kamera2 = 2, cport_nr = 1, bdrate = 115200, ekranorezimas = 2, keyPressed = kKeyMenuRead;
        naujasVeidas = senasVeidas = std::string(20, ' ');
        shownImg.release(), shownImg1.release();
        platform::seedRand15(7);
    }
    void TearDown() override {
        CloseComport(cport_nr);
        releaseCameras();
        RobotTest::TearDown();
    }

    // The head at the centre with the speeds the robot starts with.
    static void centreHead() {
        centreAllServoVariables();
        servo_greitisX = 400;
        servo_greitisY = 300;
    }
    static cv::Mat face(int person, int picture) { return faceOnBackground(orlPicture(person, picture)); }
    static cv::Mat background() { return cv::Mat(240, 320, CV_8UC3, cv::Scalar::all(150)); }
    static void cameraWithoutFrames(int index) { std::filesystem::create_directories("video" + std::to_string(index)); }
    // Virtual time one frame of the left camera takes when it gives none.
    static long long missingCameraPauseMs() {
        const long long start = platform::nowMs();
        EXPECT_TRUE(getCameraFrame1(2).empty());
        releaseLeftCamera();
        return platform::nowMs() - start;
    }

    static int spoken(const std::string& commandLine) {
        const Lines commands = platform::recordedCommands();
        return static_cast<int>(std::count(commands.begin(), commands.end(), commandLine));
    }
    // Console row y without its trailing blanks.
    static std::string text(int y) { return row(y).erase(row(y).find_last_not_of(' ') + 1); }

    // Opens COM2 on the simulator; the mode's mechanics steps then reach the wire.
    void connectServos(robotest::Ssc32Simulator& simulator) {
        ASSERT_TRUE(simulator.running()) << "robotas-ssc32sim did not start";
        ASSERT_EQ(OpenComport(cport_nr, bdrate), 0);
    }
    static Lines servoCommands(const robotest::Ssc32Simulator& simulator) {
        Lines servo = simulator.lines();
        servo.erase(std::remove_if(servo.begin(), servo.end(), [](const std::string& l) { return l.rfind("#", 0) != 0; }), servo.end());
        return servo;
    }

    robotest::ScopedWorkDir dir;
};

}  // namespace facetest
