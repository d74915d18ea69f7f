#pragma once
// robotas-hear started in one of its listening modes for a test, with a pipe
// to its standard input (the sound of --pcm), spoken words made by espeak-ng,
// and the robot's client. Tests that start it carry LOCKS port10500.

#include <sys/types.h>

#include <string>
#include <vector>

#include "tools/hear/audio.h"

namespace heartest {

class ListeningHear {
public:
    // Starts robotas-hear with these arguments and waits until it listens
    // (or has ended: see exitStatus and output).
    explicit ListeningHear(const std::vector<std::string>& arguments);
    ~ListeningHear();
    ListeningHear(const ListeningHear&) = delete;
    ListeningHear& operator=(const ListeningHear&) = delete;

    bool listening() const { return listening_; }
    const std::string& output() const { return output_; }

    // Writes samples to its standard input as raw PCM; false when it failed.
    bool play(const hear::Samples& samples);
    // Closes its standard input (the end of the sound).
    void endSound();

    // Waits up to timeoutMs of real time for it to end; its exit status, or -1.
    int waitForExit(int timeoutMs);

private:
    std::string outputPath_;
    pid_t pid_ = -1;
    int input_ = -1;
    bool listening_ = false;
    int status_ = -1;
    std::string output_;
};

// A word spoken by espeak-ng in this voice, as 16 kHz samples; empty when
// espeak-ng failed.
hear::Samples spoken(const std::string& voice, const std::string& text);
// Seconds of silence.
hear::Samples silence(double seconds);
// A WAV file of 16-bit samples at this rate and channel count.
std::string wavBytes(const hear::Samples& samples, int rate, int channels);

class RobotEar {
public:
    RobotEar();
    ~RobotEar();
    bool connected() const { return sd_ > 1; }
    int socket() const { return sd_; }
    // The word of the next result message that brings one, or "" after
    // timeoutMs without one.
    std::string nextWord(int timeoutMs);
    // Reads lines until one starts with prefix; false after timeoutMs.
    bool waitForLine(const std::string& prefix, int timeoutMs, std::vector<std::string>* seen = nullptr);

private:
    int sd_;
};

}  // namespace heartest
