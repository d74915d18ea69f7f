// The servo controller pulled out while the depth mode steers the head, and
// plugged back in: the mode runs on without it, and once it is back the
// mode's commands reach it again without a restart.

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>

#include "faces/camera/camera.h"
#include "hardware/rs232.h"
#include "platform/keys.h"
#include "platform/ui.h"
#include "shell/console/f_graph.h"
#include "hardware/servo.h"
#include "stereo/stereo_modes.h"
#include "tests/faults/fault_support.h"
#include "tests/support/robot_test.h"
#include "tests/support/ssc32_peer.h"

namespace {

const char* const kDepthWindow = "stereoBM gylis";

class ServoControllerUnplugged : public robotest::RobotTest {
protected:
    void SetUp() override {
        RobotTest::SetUp();
        cport_nr = 1;
        bdrate = 115200;
        kamera1 = 1;
        kamera2 = 2;
        servo_x = kServoCentreX;
        servo_y = kServoCentreY;
    }
    void TearDown() override {
        CloseComport(cport_nr);
        releaseCameras();
        RobotTest::TearDown();
    }
    static int panCommands(const robotest::Ssc32Simulator& simulator) {
        const auto lines = simulator.lines();
        return static_cast<int>(std::count_if(lines.begin(), lines.end(),
                                              [](const std::string& l) { return l.rfind("#7 P", 0) == 0; }));
    }
    robotest::ScopedWorkDir dir;
};

TEST_F(ServoControllerUnplugged, DepthModeRunsOnAndDrivesTheControllerPluggedBack) {
    faults::recordAloe();
    faults::writeQ();
    auto first = std::make_unique<robotest::Ssc32Simulator>(dir.path());
    ASSERT_TRUE(first->running());
    ASSERT_EQ(OpenComport(cport_nr, bdrate), 0);

    std::unique_ptr<robotest::Ssc32Simulator> second;
    int shownWhenPulled = 0, shownWhenBack = 0, shownAtTheEnd = 0;
    bool sawCommandsFirst = false, sawCommandsAgain = false, openAgain = false;
    // The operator's hand, while the mode runs on this test's thread. (The
    // simulator it starts ends with the thread that started it.)
    std::thread hand([&] {
        sawCommandsFirst = faults::waitUntil([&] { return panCommands(*first) >= 3; });
        first->kill();
        unlink("COM2");  // the device node goes with the device
        unlink("ssc32sim.log");
        shownWhenPulled = ui::showCount(kDepthWindow);
        faults::waitForShows(kDepthWindow, shownWhenPulled + 5);  // frames without a controller
        second = std::make_unique<robotest::Ssc32Simulator>(dir.path());
        shownWhenBack = ui::showCount(kDepthWindow);
        sawCommandsAgain = second->running() && faults::waitUntil([&] { return panCommands(*second) >= 3; });
        openAgain = ComportOpen(cport_nr);
        shownAtTheEnd = ui::showCount(kDepthWindow);
        platform::scriptKeys("m");
    });
    stereoBM();
    hand.join();

    EXPECT_TRUE(sawCommandsFirst) << "the mode steered the head before the plug was pulled";
    EXPECT_GE(shownAtTheEnd, shownWhenPulled + 5) << "frames went on without the controller";
    EXPECT_GT(shownWhenBack, shownWhenPulled);
    EXPECT_TRUE(sawCommandsAgain) << "the controller plugged back takes the mode's commands";
    EXPECT_TRUE(openAgain);
    EXPECT_EQ(keyPressed & 0xFF, 'm') << "the mode ended as always, on m";
    EXPECT_EQ(row(42).substr(0, 13), "   Min disp: ");
}

TEST_F(ServoControllerUnplugged, PortClosedOnPurposeStaysClosedWhenTheDeviceIsThere) {
    robotest::Ssc32Simulator simulator(dir.path());
    ASSERT_EQ(OpenComport(cport_nr, bdrate), 0);
    CloseComport(cport_nr);
    sendCommand(cport_nr, "#7 P1500 S400 |");
    EXPECT_FALSE(ComportOpen(cport_nr));
    simulator.waitForLines(1, 300);
    EXPECT_EQ(panCommands(simulator), 0);
}

}  // namespace
