#pragma once
// Peers for the robot's serial port in tests.
//
// Ssc32Simulator starts the robotas-ssc32sim program (from ROBOTAS_BIN) in a
// folder, waits until it has linked its pseudo-terminal there as COM<n>, and
// reads back the command lines it logged. kill() pulls the plug.
//
// PtyPeer is a pseudo-terminal held by the test itself: the test writes what the
// device says and reads exactly the bytes the robot put on the wire.

#include <sys/types.h>

#include <string>
#include <vector>

#include "platform/pseudo_terminal.h"

namespace robotest {

class Ssc32Simulator {
public:
    // Starts the simulator with its link dir/linkName; inputs is its "A B C D" answer.
    explicit Ssc32Simulator(const std::string& dir, const std::string& linkName = "COM2",
                            const std::string& inputs = "1111");
    ~Ssc32Simulator();
    Ssc32Simulator(const Ssc32Simulator&) = delete;
    Ssc32Simulator& operator=(const Ssc32Simulator&) = delete;

    bool running() const { return pid_ > 0; }
    // Changes the answer to "A B C D" (any bytes; the next query sees it).
    void setInputs(const std::string& reply);
    // Command lines logged so far.
    std::vector<std::string> lines() const;
    // Waits (a bounded real time) until at least count lines are logged; returns them.
    std::vector<std::string> waitForLines(std::size_t count, int timeoutMs = 3000) const;
    // The servo state file: lines "#<ch> P<pw> S<spd>".
    std::string state() const;
    // Ends the simulator at once, as if the controller were unplugged.
    void kill();

private:
    std::string dir_;
    std::string logPath_;
    std::string controlPath_;
    std::string statePath_;
    pid_t pid_ = -1;
};

class PtyPeer {
public:
    // Opens a pseudo-terminal and links it as dir/linkName.
    explicit PtyPeer(const std::string& dir, const std::string& linkName = "COM2");
    bool ok() const { return terminal_.isOpen(); }
    // Bytes the device sends to the robot; returns how many went out.
    std::size_t send(const std::string& bytes);
    // Bytes the robot sent, waiting a bounded real time until count have arrived.
    std::string receive(std::size_t count, int timeoutMs = 2000);
    // Everything already arrived, without waiting.
    std::string receiveAvailable();
    // Closes the device end (the far side of the line goes away).
    void close();

private:
    platform::PseudoTerminal terminal_;
};

}  // namespace robotest
