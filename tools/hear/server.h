#pragma once
// The listening recogniser: serves the robot on a loopback port in the
// module protocol while an audio thread cuts the sound into utterances and
// decodes them. One client at a time; when it goes, the next may connect.

#include <memory>

#include "tools/hear/audio.h"
#include "tools/hear/decoder.h"

namespace hear {

// Runs until a client says DIE: 0, or 2 when the port cannot be opened.
int runListeningRecogniser(int port, std::unique_ptr<AudioSource> sound, std::unique_ptr<Decoder> decoder);

}  // namespace hear
