#pragma once
// The recogniser stand-in (the robotas-hear program) run for one test on the
// robot's recogniser port 10500. Tests that use it carry LOCKS port10500.

#include <sys/types.h>

#include <string>
#include <vector>

namespace robotest {

class HearPeer {
public:
    // Starts robotas-hear with this script (its format: tools/hear/main.cpp) and
    // waits until it listens; listening() says whether it got there.
    explicit HearPeer(const std::string& script);
    ~HearPeer();
    HearPeer(const HearPeer&) = delete;
    HearPeer& operator=(const HearPeer&) = delete;

    bool listening() const { return listening_; }
    // What the peer printed before it listened (the reason when it did not).
    const std::string& startOutput() const { return startOutput_; }

    // Waits up to timeoutMs of real time for the peer to end (after DIE, or
    // when the robot closes the connection); true when it has ended.
    bool waitForExit(int timeoutMs = 3000);
    // Every line the robot sent, in order.
    std::vector<std::string> receivedLines() const;

private:
    void readUntilListening();

    std::string folder_;
    pid_t pid_ = -1;
    int output_ = -1;
    bool listening_ = false;
    bool exited_ = false;
    std::string startOutput_;
};

}  // namespace robotest
