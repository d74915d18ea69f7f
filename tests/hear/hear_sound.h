#pragma once
// Sound for the robotas-hear tests.

#include <string>
#include <vector>

#include "tools/hear/audio.h"
#include "tools/hear/decoder.h"

namespace heartest {

hear::Samples spoken(const std::string& voice, const std::string& text);  // 16 kHz; empty when espeak-ng failed
hear::Samples silence(double seconds);
// The word as the listening recogniser cuts it: half a second of room before and after.
hear::Samples asCut(const hear::Samples& word);
// The words the decoder hears in the sound, as one utterance.
std::vector<std::string> decoded(hear::Decoder& decoder, const hear::Samples& sound);

}  // namespace heartest
