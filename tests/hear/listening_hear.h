#pragma once
// robotas-hear started in a listening mode for a test, its standard input a
// pipe (the sound of --pcm); words spoken by espeak-ng; the robot's own client.
// Tests that start it carry LOCKS port10500.

#include <sys/types.h>

#include <string>
#include <vector>

#include "tools/hear/audio.h"

namespace heartest {

class ListeningHear {
public:
    // Starts robotas-hear and waits until it listens (or has ended: see output).
    explicit ListeningHear(const std::vector<std::string>& arguments);
    ~ListeningHear();
    ListeningHear(const ListeningHear&) = delete;
    bool listening() const { return listening_; }
    const std::string& output() const { return output_; }
    bool play(const hear::Samples& samples);  // raw PCM to its standard input
    int waitForExit(int timeoutMs);           // its exit status, or -1 while it runs

private:
    std::string outputPath_, output_;
    pid_t pid_ = -1;
    int input_ = -1, status_ = -1;
    bool listening_ = false;
};

hear::Samples spoken(const std::string& voice, const std::string& text);  // 16 kHz; empty when espeak-ng failed
hear::Samples silence(double seconds);
std::string wavBytes(const hear::Samples& samples, int rate, int channels);  // a 16-bit WAV file

// The robot's recogniser client on port 10500.
class RobotEar {
public:
    RobotEar();
    ~RobotEar();
    bool connected() const { return sd_ > 1; }
    int socket() const { return sd_; }
    std::string nextWord(int timeoutMs);  // the word of the next result that brings one, or ""
    // Reads lines until one starts with prefix; false after timeoutMs.
    bool waitForLine(const std::string& prefix, int timeoutMs, std::vector<std::string>* seen = nullptr);

private:
    int sd_;
};

}  // namespace heartest
