// The robot program: wires the subsystems' modes into the menus and starts.

#include <cstdlib>

#include "platform/clock.h"
#include "shell/modes.h"
#include "shell/startup.h"

namespace {

void wireModes() {
    RobotModes& modes = robotModes();
    (void)modes;
}

}  // namespace

int main() {
    // Scripted runs of the whole program (the end-to-end tests) let the robot's
    // waits pass at once.
    if (const char* virtualTime = std::getenv("ROBOTAS_VIRTUAL_TIME"); virtualTime && *virtualTime == '1')
        platform::useVirtualTime(true);
    wireModes();
    return robotasMain();
}
