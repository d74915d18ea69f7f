#pragma once
// Common ground of the hardware tests: the robot's console in memory, virtual
// time, a folder of the test's own (where the serial port links live), the
// shared motion variables back at their start values, and no board.

#include <string>

#include "hardware/eprodas.h"
#include "hardware/hardware.h"
#include "hardware/servo.h"
#include "platform/board.h"
#include "tests/support/robot_test.h"
#include "tests/support/ssc32_peer.h"

namespace hwtest {

class HardwareTest : public robotest::RobotTest {
protected:
    void SetUp() override {
        RobotTest::SetUp();
        workDir_ = std::make_unique<robotest::ScopedWorkDir>();
        centreAllServoVariables();
        servo_greitisX = 400, servo_greitisY = 300, daviklisSSC = 0, vazDR = 0, StatuseProDas = 0;
        for (int pin = 0; pin < 8; ++pin) cachedPinLevel(pin) = 0;
        cport_nr = 1, bdrate = 115200;
        platform::useBoard(nullptr);
    }
    void TearDown() override {
        for (int port = 0; port < kComportCount; ++port) CloseComport(port);
        platform::useBoard(nullptr);
        workDir_.reset();
        RobotTest::TearDown();
    }
    const std::string& dir() const { return workDir_->path(); }
    // COM2 on a started simulator; false (with a test failure) when it is not there.
    bool openSimulatorPort(robotest::Ssc32Simulator& simulator) {
        EXPECT_TRUE(simulator.running()) << "robotas-ssc32sim did not start";
        return simulator.running() && OpenComport(1, 115200) == 0;
    }

private:
    std::unique_ptr<robotest::ScopedWorkDir> workDir_;
};

}  // namespace hwtest
