#pragma once
// Sound for the robotas-hear tests, and programs started with a pipe as their standard input.

#include <sys/types.h>

#include <string>
#include <vector>

#include "tools/hear/audio.h"
#include "tools/hear/decoder.h"

namespace heartest {

hear::Samples spoken(const std::string& voice, const std::string& text);  // 16 kHz; empty when espeak-ng failed
hear::Samples silence(double seconds);
// The words the decoder hears in the sound, as one utterance.
std::vector<std::string> decoded(hear::Decoder& decoder, const hear::Samples& sound);
std::string wavBytes(const hear::Samples& samples, int rate, int channels);  // a 16-bit WAV file
// Starts a program (found on the PATH) reading input (when >= 0), both its outputs to the file output.
pid_t start(std::vector<std::string> arguments, int input, const std::string& output);

}  // namespace heartest
