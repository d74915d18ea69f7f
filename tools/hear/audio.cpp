#include "tools/hear/audio.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

extern "C" {
#include <sphinxbase/ad.h>
}

namespace hear {
namespace {

constexpr std::size_t kLargestWav = 512u * 1024 * 1024;  // far above any spoken command

std::uint32_t little32(const std::string& bytes, std::size_t at) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 2])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 3])) << 24;
}

std::uint16_t little16(const std::string& bytes, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[at]) |
                                      static_cast<unsigned char>(bytes[at + 1]) << 8);
}

struct WavFormat {
    int channels = 0;
    int rate = 0;
    int bits = 0;
    int tag = 0;
};

constexpr int kPcmTag = 1;
constexpr int kExtensibleTag = 0xFFFE;

bool readFormat(const std::string& bytes, std::size_t at, std::size_t size, WavFormat& format, std::string& why) {
    if (size < 16) {
        why = "its format chunk is too short";
        return false;
    }
    format.tag = little16(bytes, at);
    format.channels = little16(bytes, at + 2);
    format.rate = static_cast<int>(std::min<std::uint32_t>(little32(bytes, at + 4), 1u << 30));
    format.bits = little16(bytes, at + 14);
    if (format.tag == kExtensibleTag && size >= 26) format.tag = little16(bytes, at + 24);  // the sub-format
    if (format.tag != kPcmTag || format.bits != 16) {
        why = "it is not 16-bit PCM (format " + std::to_string(format.tag) + ", " + std::to_string(format.bits) +
              " bits); convert it, for example: sox IN.wav -b 16 -e signed-integer OUT.wav";
        return false;
    }
    if (format.channels < 1 || format.channels > 8 || format.rate < 4000 || format.rate > 192000) {
        why = "it has " + std::to_string(format.channels) + " channels at " + std::to_string(format.rate) +
              " Hz (1-8 channels at 4000-192000 Hz are read)";
        return false;
    }
    return true;
}

// Mixes the interleaved channels of the data chunk down to one.
Samples mixDown(const std::string& bytes, std::size_t at, std::size_t size, int channels) {
    const std::size_t frames = size / (2 * static_cast<std::size_t>(channels));
    Samples mono(frames);
    for (std::size_t frame = 0; frame < frames; ++frame) {
        long sum = 0;
        for (int channel = 0; channel < channels; ++channel)
            sum += static_cast<std::int16_t>(little16(bytes, at + 2 * (frame * channels + channel)));
        mono[frame] = static_cast<std::int16_t>(sum / channels);
    }
    return mono;
}

}  // namespace

bool parseWav(const std::string& bytes, Samples& samples, std::string& why) {
    if (bytes.size() < 12 || bytes.compare(0, 4, "RIFF") != 0 || bytes.compare(8, 4, "WAVE") != 0) {
        why = "it is not a WAV file (no RIFF/WAVE header)";
        return false;
    }
    WavFormat format;
    bool haveFormat = false;
    for (std::size_t at = 12; at + 8 <= bytes.size();) {
        const std::string id = bytes.substr(at, 4);
        const std::size_t declared = little32(bytes, at + 4);
        const std::size_t body = at + 8;
        const std::size_t size = std::min(declared, bytes.size() - body);  // streamed files overstate it
        if (id == "fmt ") {
            if (!readFormat(bytes, body, size, format, why)) return false;
            haveFormat = true;
        } else if (id == "data") {
            if (!haveFormat) {
                why = "its sound data comes before its format";
                return false;
            }
            samples = resample(mixDown(bytes, body, size, format.channels), format.rate, kSampleRate);
            return true;
        }
        at = body + size + (size & 1);  // chunks are padded to even sizes
    }
    why = haveFormat ? "it has no sound data" : "it has no format chunk";
    return false;
}

bool readWav(const std::string& path, Samples& samples, std::string& why) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        why = "cannot open it: " + std::string(std::strerror(errno));
        return false;
    }
    std::ostringstream whole;
    whole << in.rdbuf();
    const std::string bytes = whole.str();
    if (bytes.size() > kLargestWav) {
        why = "it is larger than " + std::to_string(kLargestWav >> 20) + " MB";
        return false;
    }
    return parseWav(bytes, samples, why);
}

std::string wavBytes(const Samples& samples, int rate, int channels) {
    std::string bytes;
    const auto put = [&bytes](std::uint32_t value, int count) {
        for (int i = 0; i < count; ++i) bytes.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    };
    const auto data = static_cast<std::uint32_t>(samples.size() * 2);
    const auto frameBytes = static_cast<std::uint32_t>(channels * 2);
    bytes += "RIFF";
    put(36 + data, 4);
    bytes += "WAVEfmt ";
    put(16, 4);  // the format chunk's size
    put(1, 2);   // PCM
    put(static_cast<std::uint32_t>(channels), 2);
    put(static_cast<std::uint32_t>(rate), 4);
    put(static_cast<std::uint32_t>(rate) * frameBytes, 4);  // bytes a second
    put(frameBytes, 2);
    put(16, 2);  // bits a sample
    bytes += "data";
    put(data, 4);
    for (std::int16_t s : samples) put(static_cast<std::uint16_t>(s), 2);
    return bytes;
}

bool writeWav(const std::string& path, const Samples& samples, std::string& why) {
    const std::string bytes = wavBytes(samples);
    std::ofstream out(path, std::ios::binary);
    if (!out.write(bytes.data(), static_cast<std::streamsize>(bytes.size())) || !out.flush()) {
        why = "cannot write " + path;
        return false;
    }
    return true;
}

namespace {

constexpr int kZeroCrossings = 16;  // of the filter's sinc on each side
constexpr double kPassBand = 0.92;  // of the lower of the two Nyquist frequencies

double sinc(double x) { return x == 0 ? 1.0 : std::sin(M_PI * x) / (M_PI * x); }

// A low-pass at kPassBand of the lower Nyquist frequency, as a Hann-windowed
// sinc, evaluated at source position where.
double filteredAt(const Samples& source, double where, double cutoff) {
    const double reach = kZeroCrossings / cutoff;  // in source samples
    const long first = std::max(0L, static_cast<long>(std::ceil(where - reach)));
    const long last = std::min(static_cast<long>(source.size()) - 1, static_cast<long>(std::floor(where + reach)));
    double value = 0;
    for (long k = first; k <= last; ++k) {
        const double x = where - static_cast<double>(k);
        const double window = 0.5 + 0.5 * std::cos(M_PI * x / reach);
        value += static_cast<double>(source[static_cast<std::size_t>(k)]) * cutoff * sinc(cutoff * x) * window;
    }
    return value;
}

}  // namespace

Samples resample(const Samples& in, int fromRate, int toRate) {
    if (fromRate == toRate || in.empty()) return in;
    const double step = static_cast<double>(fromRate) / toRate;
    const double cutoff = kPassBand * std::min(1.0, 1.0 / step);
    const std::size_t count = static_cast<std::size_t>(static_cast<double>(in.size()) / step);
    Samples out(count);
    for (std::size_t i = 0; i < count; ++i) {
        const double value = filteredAt(in, static_cast<double>(i) * step, cutoff);
        out[i] = static_cast<std::int16_t>(std::clamp(std::lround(value), -32768L, 32767L));
    }
    return out;
}

namespace {

class WavSource : public AudioSource {
public:
    WavSource(Samples samples, double speed, bool endless)
        : samples_(std::move(samples)), speed_(speed), endless_(endless) {}

    void start() override {
        if (!started_) startTime_ = std::chrono::steady_clock::now();
        started_ = true;
    }

    long read(std::int16_t* buffer, long max) override {
        if (!started_) start();
        if (speed_ > 0) waitUntilPlayed(max);
        if (next_ >= samples_.size()) {
            if (!endless_) return 0;
            std::fill(buffer, buffer + max, 0);
            next_ += static_cast<std::size_t>(max);
            return max;
        }
        const long count = static_cast<long>(std::min<std::size_t>(static_cast<std::size_t>(max), samples_.size() - next_));
        std::copy(samples_.begin() + static_cast<long>(next_), samples_.begin() + static_cast<long>(next_) + count, buffer);
        next_ += static_cast<std::size_t>(count);
        return count;
    }

private:
    // Real-time playback: the samples up to next_ + count are due only when
    // that much time (divided by the speed) has passed since the start.
    void waitUntilPlayed(long count) {
        const double dueSeconds = static_cast<double>(next_ + static_cast<std::size_t>(count)) / kSampleRate / speed_;
        const auto due = startTime_ + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                          std::chrono::duration<double>(dueSeconds));
        std::this_thread::sleep_until(due);
    }

    Samples samples_;
    double speed_;
    bool endless_;
    bool started_ = false;
    std::chrono::steady_clock::time_point startTime_;
    std::size_t next_ = 0;
};

class PcmSource : public AudioSource {
public:
    explicit PcmSource(int fd) : fd_(fd) {}

    long read(std::int16_t* buffer, long max) override {
        std::vector<char> bytes(static_cast<std::size_t>(max) * 2);
        std::size_t have = 0;
        if (odd_) bytes[have++] = oddByte_;
        odd_ = false;
        while (have < 2) {  // at least one whole sample, or the end
            const ssize_t got = ::read(fd_, bytes.data() + have, bytes.size() - have);
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) return -1;
            if (got == 0) return 0;  // a lone trailing byte is not a sample
            have += static_cast<std::size_t>(got);
        }
        if (have & 1) {
            odd_ = true;
            oddByte_ = bytes[have - 1];
        }
        const long count = static_cast<long>(have / 2);
        for (long i = 0; i < count; ++i)
            buffer[i] = static_cast<std::int16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                                  static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
        return count;
    }

private:
    int fd_;
    bool odd_ = false;
    char oddByte_ = 0;
};

class MicSource : public AudioSource {
public:
    explicit MicSource(ad_rec_t* device) : device_(device) {}
    ~MicSource() override {
        ad_stop_rec(device_);
        ad_close(device_);
    }

    long read(std::int16_t* buffer, long max) override {
        for (;;) {
            const int32 got = ad_read(device_, buffer, static_cast<int32>(max));
            if (got < 0) return -1;
            if (got > 0) return got;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));  // nothing recorded yet
        }
    }

private:
    ad_rec_t* device_;
};

}  // namespace

std::unique_ptr<AudioSource> wavSource(Samples samples, double speed, bool endless) {
    return std::make_unique<WavSource>(std::move(samples), speed, endless);
}

std::unique_ptr<AudioSource> pcmSource(int fd) { return std::make_unique<PcmSource>(fd); }

std::unique_ptr<AudioSource> micSource(std::string& why) {
    ad_rec_t* device = ad_open_dev(nullptr, kSampleRate);
    if (!device) {
        why = "no recording device could be opened (is PulseAudio running and a microphone attached?)";
        return nullptr;
    }
    if (ad_start_rec(device) < 0) {
        ad_close(device);
        why = "the recording device would not start recording";
        return nullptr;
    }
    return std::make_unique<MicSource>(device);
}

}  // namespace hear
