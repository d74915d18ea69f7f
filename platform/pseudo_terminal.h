#pragma once
// A pseudo-terminal standing in for a serial device: the servo-controller
// simulator, the test peers and the fuzz target hold the master end, the robot
// opens the slave by its name or through a link such as COM2 in its folder.

#include <string>

namespace platform {

class PseudoTerminal {
public:
    PseudoTerminal() = default;
    ~PseudoTerminal() { close(); }  // the link stays: the owner removes it with unlink()
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    // Opens a new pair. The slave is made raw, so that nothing is echoed back
    // before the robot sets the line up itself, and stays open here too, so that
    // the line does not hang up while the robot closes and opens it again. With
    // nonBlockingMaster, reads of the master return at once when nothing has
    // arrived. False (errno set, nothing open) when no pair could be made.
    bool open(bool nonBlockingMaster);
    // Points a link at the slave, replacing any link of that name in one step:
    // a robot opening it never finds the name missing. False when it cannot be made.
    bool link(const std::string& path);
    // Removes the link while it still names this slave (another device may have
    // taken the name since).
    void unlink();
    // Closes both ends: for the robot, the device has gone.
    void close();

    bool isOpen() const { return master_ >= 0; }
    int master() const { return master_; }
    const std::string& slaveName() const { return slaveName_; }

private:
    int master_ = -1;
    int slave_ = -1;
    std::string slaveName_;
    std::string link_;
};

}  // namespace platform
