#pragma once
// Sound for the recogniser: 16 kHz mono 16-bit samples, read from a WAV file
// (other rates and stereo are converted; formats other than 16-bit PCM are
// refused with the reason), from raw PCM on standard input, or from the
// microphone.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace hear {

constexpr int kSampleRate = 16000;

using Samples = std::vector<std::int16_t>;

// Reads a WAV file into 16 kHz mono samples. False with the reason in why when
// the file cannot be read or is not a 16-bit PCM WAV file.
bool readWav(const std::string& path, Samples& samples, std::string& why);
// The same for the bytes of a whole WAV file.
bool parseWav(const std::string& bytes, Samples& samples, std::string& why);
// A whole 16-bit PCM WAV file of the samples (interleaved when channels > 1).
std::string wavBytes(const Samples& samples, int rate = kSampleRate, int channels = 1);
// Writes 16 kHz mono samples as a 16-bit PCM WAV file; false with the reason in why.
bool writeWav(const std::string& path, const Samples& samples, std::string& why);

// Rate conversion through a windowed-sinc low-pass below the lower of the two
// Nyquist frequencies: going down, sound above the new Nyquist frequency is
// removed instead of folding into the speech band (espeak-ng's 22 050 Hz hiss
// would otherwise reach the recogniser as false fricatives).
Samples resample(const Samples& in, int fromRate, int toRate);

// A stream of 16 kHz mono samples.
class AudioSource {
public:
    virtual ~AudioSource() = default;
    // Fills up to max samples, waiting as a live source would: the number
    // read, 0 at the end of the sound, -1 on failure.
    virtual long read(std::int16_t* buffer, long max) = 0;
    // Called once a listener is there (WAV playback starts then).
    virtual void start() {}
};

// A WAV file played at speed times real time (0: as fast as it can be read),
// followed by silence when endless is set (a microphone in a quiet room).
std::unique_ptr<AudioSource> wavSource(Samples samples, double speed, bool endless);
// Raw 16 kHz mono 16-bit little-endian PCM read from a file descriptor.
std::unique_ptr<AudioSource> pcmSource(int fd);
// The default recording device; nullptr with the reason in why when there is none.
std::unique_ptr<AudioSource> micSource(std::string& why);

}  // namespace hear
