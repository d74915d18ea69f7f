#pragma once
// Voice-activity segmentation: cuts a stream of 16 kHz samples into
// utterances by their loudness against a tracked background level. An
// utterance keeps a little sound from before its start (weak first
// consonants) and the pause that ends it (weak last consonants). Halfway
// through that pause the word is most likely over: the segmenter says so, so
// that its decoding can start while the rest of the pause is still awaited.

#include <cstdint>
#include <deque>

#include "tools/hear/audio.h"

namespace hear {

class Segmenter {
public:
    static constexpr int kFrameSamples = 160;  // 10 ms
    static constexpr int kFramesToEnd = 30;    // 300 ms of quiet ends an utterance
    static constexpr int kFramesToPause = 15;  // 150 ms of it: the word is most likely over

    enum class Step { Quiet, Started, Speaking, Paused, Ended };

    // Takes one frame of kFrameSamples samples.
    Step take(const std::int16_t* frame);
    // The utterance in progress, or the one that just ended.
    const Samples& utterance() const { return utterance_; }
    // At Paused: the utterance as it will be if the pause goes on, the half of
    // the pause still to come stood in for by the half heard.
    Samples pausedUtterance() const;
    // At Ended: true when the pause ended the utterance (not its length), so
    // the utterance is the one at Paused with the rest of its pause.
    bool endedByPause() const;
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
