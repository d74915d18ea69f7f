#include "tools/hear/denoise.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numeric>

namespace hear {
namespace {

constexpr int kWindow = 400;  // 25 ms, as the front end's frames
constexpr int kHop = kWindow / 2;
constexpr int kBins = 512;
// The pre-roll and the closing pause are a third or more of an utterance.
constexpr double kQuietShare = 0.2;
// Noise takes on a frame several times its mean: taking off twice the mean
// leaves few peaks of it standing (each would sound like a faint tone).
constexpr double kOverSubtraction = 2.0;
// A frequency is turned down at most 20 dB, so speech below the noise is not
// cut out altogether.
constexpr double kLeastPowerGain = 0.01;
// The recogniser lays a faint hiss 30 dB under an utterance's loudest frame
// over it (digital silence would sound like nothing else): noise 35 dB under
// that frame is lost in the hiss, and is left alone.
constexpr double kNegligibleNoiseDb = 35;

using Spectrum = std::vector<std::complex<double>>;
using Powers = std::vector<std::vector<double>>;  // of each frame, each frequency up to half the rate

// e^(-2 pi i k / kBins) for the first half of k.
const Spectrum& turns() {
    static const Spectrum values = [] {
        Spectrum t(kBins / 2);
        for (int k = 0; k < kBins / 2; ++k) t[k] = std::polar(1.0, -2 * M_PI * k / kBins);
        return t;
    }();
    return values;
}

// Iterative radix-2 transform of kBins values in place; the inverse is scaled.
void transform(Spectrum& x, bool inverse) {
    const std::size_t n = kBins;
    const Spectrum& forwardTurns = turns();
    for (std::size_t i = 1, j = 0; i < n; ++i) {
        std::size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(x[i], x[j]);
    }
    for (std::size_t length = 2; length <= n; length <<= 1) {
        const std::size_t stride = n / length;
        for (std::size_t start = 0; start < n; start += length) {
            for (std::size_t k = 0; k < length / 2; ++k) {
                const std::complex<double> forward = forwardTurns[k * stride];
                const std::complex<double> turn = inverse ? std::conj(forward) : forward;
                const std::complex<double> even = x[start + k], odd = x[start + k + length / 2] * turn;
                x[start + k] = even + odd;
                x[start + k + length / 2] = even - odd;
            }
        }
    }
    if (inverse)
        for (auto& value : x) value /= static_cast<double>(n);
}

// Square root of a periodic Hann window, used going in and coming out: at half
// a window's overlap the two together sum to one, so untouched frames give the
// sound back as it was.
const std::vector<double>& window() {
    static const std::vector<double> values = [] {
        std::vector<double> w(kWindow);
        for (int i = 0; i < kWindow; ++i) w[i] = std::sqrt(0.5 - 0.5 * std::cos(2 * M_PI * i / kWindow));
        return w;
    }();
    return values;
}

// Each frame's power at each frequency, worked out once for the noise and the smoothing.
Powers powersOf(const std::vector<Spectrum>& frames) {
    Powers powers(frames.size(), std::vector<double>(kBins / 2 + 1));
    for (std::size_t f = 0; f < frames.size(); ++f)
        for (int b = 0; b <= kBins / 2; ++b) powers[f][b] = std::norm(frames[f][b]);
    return powers;
}

// The power of each frequency over the quietest frames (those wholly inside
// the sound: the first and last lie half in the padding); none when that
// is negligible against the loudest frame.
std::vector<double> noiseSpectrum(const Powers& powers) {
    std::vector<double> loudness(powers.size(), 0);
    for (std::size_t f = 0; f < powers.size(); ++f)
        for (int b = 0; b <= kBins / 2; ++b) loudness[f] += powers[f][b];
    std::vector<std::size_t> inner(powers.size() - 2);
    std::iota(inner.begin(), inner.end(), 1);
    const std::size_t quiet = std::max<std::size_t>(1, static_cast<std::size_t>(kQuietShare * inner.size()));
    std::nth_element(inner.begin(), inner.begin() + (quiet - 1), inner.end(),
                     [&](std::size_t a, std::size_t b) { return loudness[a] < loudness[b]; });
    std::vector<double> noise(kBins / 2 + 1, 0);
    double noiseLoudness = 0;
    for (std::size_t q = 0; q < quiet; ++q) {
        noiseLoudness += loudness[inner[q]] / static_cast<double>(quiet);
        for (int b = 0; b <= kBins / 2; ++b) noise[b] += powers[inner[q]][b] / static_cast<double>(quiet);
    }
    const double loudest = *std::max_element(loudness.begin(), loudness.end());
    if (noiseLoudness <= loudest * std::pow(10.0, -kNegligibleNoiseDb / 10)) return {};
    return noise;
}

// Each frequency's power, averaged with its neighbours in frequency and time.
// Noise alone comes and goes at a single frequency; what stands above it over
// a few neighbours is a voice, and frames do not keep lone peaks of the noise.
Powers smoothedPowers(const Powers& powers) {
    constexpr int kNearFrequencies = 2, kNearFrames = 1;
    const int count = static_cast<int>(powers.size());
    Powers smoothed(powers.size(), std::vector<double>(kBins / 2 + 1, 0));
    for (int f = 0; f < count; ++f) {
        for (int b = 0; b <= kBins / 2; ++b) {
            double sum = 0;
            int taken = 0;
            for (int g = std::max(0, f - kNearFrames); g <= std::min(count - 1, f + kNearFrames); ++g)
                for (int c = std::max(0, b - kNearFrequencies); c <= std::min(kBins / 2, b + kNearFrequencies); ++c, ++taken)
                    sum += powers[g][c];
            smoothed[f][b] = sum / taken;
        }
    }
    return smoothed;
}

void subtract(Spectrum& frame, const std::vector<double>& smoothed, const std::vector<double>& noise) {
    for (int b = 0; b <= kBins / 2; ++b) {
        const double p = smoothed[b];
        const double gain = std::sqrt(p > 0 ? std::max(1 - kOverSubtraction * noise[b] / p, kLeastPowerGain) : kLeastPowerGain);
        frame[b] *= gain;
        if (b > 0 && b < kBins / 2) frame[kBins - b] *= gain;
    }
}

}  // namespace

Samples withoutSteadyNoise(const Samples& utterance) {
    // Half a window of silence at either end, so every sample lies under two frames.
    const std::size_t frameCount = (utterance.size() + kHop - 1) / kHop + 1;
    if (frameCount < 3) return utterance;
    std::vector<double> padded((frameCount + 1) * kHop, 0.0);
    std::copy(utterance.begin(), utterance.end(), padded.begin() + kHop);
    const std::vector<double>& w = window();
    std::vector<Spectrum> frames(frameCount, Spectrum(kBins));
    for (std::size_t f = 0; f < frameCount; ++f) {
        for (int i = 0; i < kWindow; ++i) frames[f][i] = padded[f * kHop + i] * w[i];
        transform(frames[f], false);
    }
    const Powers powers = powersOf(frames);
    const std::vector<double> noise = noiseSpectrum(powers);
    if (noise.empty()) return utterance;
    const Powers smoothed = smoothedPowers(powers);
    std::vector<double> rebuilt(padded.size(), 0.0);
    for (std::size_t f = 0; f < frameCount; ++f) {
        subtract(frames[f], smoothed[f], noise);
        transform(frames[f], true);
        for (int i = 0; i < kWindow; ++i) rebuilt[f * kHop + i] += frames[f][i].real() * w[i];
    }
    Samples cleaned(utterance.size());
    for (std::size_t i = 0; i < cleaned.size(); ++i)
        cleaned[i] = static_cast<std::int16_t>(std::clamp(std::lround(rebuilt[i + kHop]), -32768L, 32767L));
    return cleaned;
}

}  // namespace hear
