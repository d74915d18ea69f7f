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

using Lines = std::vector<std::string>;

class HardwareTest : public robotest::RobotTest {
protected:
    void SetUp() override {
        RobotTest::SetUp();
        centreAllServoVariables();
        servo_greitisX = 400, servo_greitisY = 300, daviklisSSC = 0, vazDR = 0, StatuseProDas = 0, cport_nr = 1, bdrate = 115200;
        for (int pin = 0; pin < 8; ++pin) cachedPinLevel(pin) = 0;
        platform::useBoard(nullptr);
    }
    void TearDown() override {
        for (int port = 0; port < kComportCount; ++port) CloseComport(port);
        platform::useBoard(nullptr);
        RobotTest::TearDown();
    }
    const std::string& dir() const { return dir_.path(); }
    // COM2 on a started simulator; false (with a test failure) when it is not there.
    bool openSimulatorPort(robotest::Ssc32Simulator& simulator) {
        EXPECT_TRUE(simulator.running()) << "robotas-ssc32sim did not start";
        return simulator.running() && OpenComport(1, 115200) == 0;
    }
    std::shared_ptr<platform::SimulatedBoard> board = std::make_shared<platform::SimulatedBoard>();  // not in use until given

private:
    robotest::ScopedWorkDir dir_;
};

}  // namespace hwtest
