#pragma once
// The recogniser stand-in (robotas-hear) on the robot's recogniser port 10500.
// Tests that use it carry LOCKS port10500.

#include <sys/types.h>

#include <string>
#include <vector>

namespace robotest {

class HearPeer {
public:
    // Starts robotas-hear with this script (format: tools/hear/main.cpp) and waits until it listens.
    explicit HearPeer(const std::string& script);
    ~HearPeer();
    HearPeer(const HearPeer&) = delete;
    bool listening() const { return listening_; }
    const std::string& startOutput() const { return startOutput_; }  // why it did not listen
    // Waits a bounded real time for the peer to end (after DIE or a closed connection).
    bool waitForExit(int timeoutMs = 3000);
    std::vector<std::string> receivedLines() const;  // every line the robot sent

private:
    std::string folder_;
    pid_t pid_ = -1;
    bool listening_ = false, exited_ = false;
    std::string startOutput_;
};

}  // namespace robotest
