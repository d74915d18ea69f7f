#include "tools/hear/segmenter.h"

#include <cmath>

namespace hear {
namespace {

constexpr double kLoudAboveBackgroundDb = 8;  // a voice stands this far above the room
constexpr double kQuietestVoiceDb = 36;        // RMS 63: below this nothing is a voice
constexpr double kBackgroundRisePerFrameDb = 0.02;  // the background follows a louder room slowly
constexpr int kFramesToStart = 4;            // 40 ms of voice starts an utterance
static_assert(Segmenter::kFramesToEnd - Segmenter::kFramesToPause <= Segmenter::kFramesToPause,
              "the pause heard stands in for the rest");
constexpr std::size_t kPreRollSamples = 4000;     // 250 ms before the start is kept
constexpr std::size_t kLongestUtterance = 10 * kSampleRate;  // a word is never this long

}  // namespace

double Segmenter::levelDb(const std::int16_t* frame) {
    double sum = 0;
    for (int i = 0; i < kFrameSamples; ++i) sum += static_cast<double>(frame[i]) * frame[i];
    return 10 * std::log10(sum / kFrameSamples + 1);
}

Segmenter::Step Segmenter::take(const std::int16_t* frame) {
    const double level = levelDb(frame);
    if (!haveBackground_ || level < backgroundDb_) backgroundDb_ = level;
    else if (!inUtterance_) backgroundDb_ += kBackgroundRisePerFrameDb;
    haveBackground_ = true;
    const bool loud = level > backgroundDb_ + kLoudAboveBackgroundDb && level > kQuietestVoiceDb;

    if (inUtterance_) {
        utterance_.insert(utterance_.end(), frame, frame + kFrameSamples);
        quietRun_ = loud ? 0 : quietRun_ + 1;
        if (quietRun_ >= kFramesToEnd || utterance_.size() >= kLongestUtterance) {
            inUtterance_ = false;
            loudRun_ = 0;
            return Step::Ended;
        }
        return quietRun_ == kFramesToPause ? Step::Paused : Step::Speaking;
    }
    preRoll_.insert(preRoll_.end(), frame, frame + kFrameSamples);
    while (preRoll_.size() > kPreRollSamples) preRoll_.pop_front();
    loudRun_ = loud ? loudRun_ + 1 : 0;
    if (loudRun_ < kFramesToStart) return Step::Quiet;
    start();
    return Step::Started;
}

Samples Segmenter::pausedUtterance() const {
    const std::size_t rest = static_cast<std::size_t>(kFramesToEnd - kFramesToPause) * kFrameSamples;
    Samples whole = utterance_;
    whole.insert(whole.end(), utterance_.end() - rest, utterance_.end());
    return whole;
}

bool Segmenter::endedByPause() const { return quietRun_ >= kFramesToEnd; }

void Segmenter::start() {
    utterance_.assign(preRoll_.begin(), preRoll_.end());
    preRoll_.clear();
    inUtterance_ = true;
    quietRun_ = 0;
}

void Segmenter::reset() {
    inUtterance_ = false;
    utterance_.clear();
    preRoll_.clear();
    loudRun_ = 0;
    quietRun_ = 0;
}

}  // namespace hear
