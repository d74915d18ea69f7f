#pragma once
// Voice-activity segmentation: cuts a stream of 16 kHz samples into
// utterances by their loudness against a tracked background level. An
// utterance keeps a little sound from before its start (weak first
// consonants) and the pause that ends it (weak last consonants).

#include <cstdint>
#include <deque>

#include "tools/hear/audio.h"

namespace hear {

class Segmenter {
public:
    static constexpr int kFrameSamples = 160;  // 10 ms

    enum class Step { Quiet, Started, Speaking, Ended };

    // Takes one frame of kFrameSamples samples.
    Step take(const std::int16_t* frame);
    // The utterance in progress, or the one that just ended.
    const Samples& utterance() const { return utterance_; }
    bool inUtterance() const { return inUtterance_; }
    // Forgets the utterance in progress.
    void reset();

    // Background level in dB (of the mean square sample value).
    double backgroundDb() const { return backgroundDb_; }

private:
    static double levelDb(const std::int16_t* frame);
    void start();

    std::deque<std::int16_t> preRoll_;
    Samples utterance_;
    bool inUtterance_ = false;
    bool haveBackground_ = false;
    double backgroundDb_ = 0;
    int loudRun_ = 0;
    int quietRun_ = 0;
};

}  // namespace hear
