#pragma once
// The typed-word peer: utterances come from a script or are typed, one line
// each, and are reported as results while recognition runs.

#include <string>

#include "speech/speech.h"

namespace hear {

struct PeerOptions {
    int port = kRecogniserPort;
    std::string script;  // empty: read standard input
    std::string log;     // empty: no log of the robot's lines
};

// Serves one robot after another until one says DIE; 2 when it cannot start.
int runTypedPeer(const PeerOptions& options);

}  // namespace hear
