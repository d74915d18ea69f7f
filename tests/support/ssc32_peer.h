#pragma once
// Peers for the robot's serial port: Ssc32Simulator runs robotas-ssc32sim linked
// as dir/COM<n> and reads back the command lines it logged; PtyPeer is a
// pseudo-terminal the test holds itself, seeing exactly the bytes on the wire.

#include <sys/types.h>

#include <string>
#include <vector>

#include "platform/pseudo_terminal.h"

namespace robotest {

class Ssc32Simulator {
public:
    // inputs: the "A B C D" answer (any bytes; setInputs changes it for the next query).
    explicit Ssc32Simulator(const std::string& dir, const std::string& linkName = "COM2",
                            const std::string& inputs = "1111");
    ~Ssc32Simulator();
    Ssc32Simulator(const Ssc32Simulator&) = delete;
    bool running() const { return pid_ > 0; }
    void setInputs(const std::string& reply);
    std::vector<std::string> lines() const;
    // Waits a bounded real time until at least count lines are logged.
    std::vector<std::string> waitForLines(std::size_t count, int timeoutMs = 3000) const;
    void kill();                // as if the controller were unplugged

private:
    std::string dir_, logPath_, controlPath_, statePath_;
    pid_t pid_ = -1;
};

class PtyPeer {
public:
    explicit PtyPeer(const std::string& dir, const std::string& linkName = "COM2");
    bool ok() const { return terminal_.isOpen(); }
    std::size_t send(const std::string& bytes);  // what the device says; how many bytes went
    // The robot's bytes, waiting a bounded real time until count have arrived.
    std::string receive(std::size_t count, int timeoutMs = 2000);
    void close();  // the far side of the line goes away

private:
    platform::PseudoTerminal terminal_;
};

}  // namespace robotest
