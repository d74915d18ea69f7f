#pragma once
// The listening part of the recogniser: voice-activity detection cuts the
// sound into utterances and each utterance is decoded, whole, against the
// robot's grammar. Words outside the grammar match its garbage loop and give an
// utterance without words (rejected) instead of the nearest command word.
// With word templates (robot.templates in the grammar folder), the decoding
// finds where the word lies in the utterance and the templates say which
// command word it is, or that it is none.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tools/hear/segmenter.h"
#include "tools/hear/templates.h"

struct ps_decoder_s;
struct fe_s;

namespace hear {

struct DecoderOptions {
    std::string model = "/usr/share/pocketsphinx/model/en-us/en-us";
    std::string grammar;  // folder with robot.dict, robot.gram, robot.conf (settings), robot.templates
    bool useTemplates = true;  // robot.templates, when there is one
    std::string own;  // folder of a person's own templates (robotas-hear --enrol), preferred when given
    bool phones = false;  // report the phones heard instead of words (for working on the grammar)
};

// What the decoder tells its listener.
class UtteranceListener {
public:
    virtual ~UtteranceListener() = default;
    virtual void speechStarted() = 0;
    // The command words of one utterance; empty when it was rejected.
    virtual void heard(const std::vector<std::string>& words) = 0;
};

class Decoder {
public:
    // nullptr with the reason in why when the model or grammar cannot be loaded.
    static std::unique_ptr<Decoder> open(const DecoderOptions& options, std::string& why);
    ~Decoder();
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    // Takes the next samples of the sound; an utterance that ends in them is
    // decoded and reported at once.
    void process(const std::int16_t* samples, long count, UtteranceListener& listener);
    // The sound has ended: an utterance in progress is decoded and reported.
    void finish(UtteranceListener& listener);
    // Forgets the utterance in progress (recognition was paused).
    void drop();

    // Seconds of sound taken and seconds spent decoding it.
    double soundSeconds() const { return static_cast<double>(samplesTaken_) / 16000.0; }
    double decodingSeconds() const { return decodingSeconds_; }
    // The processor's seconds spent decoding, in all and on the costliest utterance.
    double processorSeconds() const { return processorSeconds_; }
    double longestUtteranceSeconds() const { return longestUtteranceSeconds_; }
    // How long after the voice ended the words of an utterance that a pause
    // ended were ready (the processor's time spent decoding after the pause
    // was half over, or the rest of the pause if that was longer): on
    // average, and at the most.
    double meanDelaySeconds() const { return wordsDelayed_ ? delaySeconds_ / wordsDelayed_ : 0.0; }
    double longestDelaySeconds() const { return longestDelaySeconds_; }

    // The command words of a decoder hypothesis: garbage words (lower case)
    // make the whole utterance rejected.
    static std::vector<std::string> commandWords(const char* hypothesis);

    // The cepstra of the spoken part of a recording, all of it one utterance
    // (for making templates); empty when nothing was spoken.
    std::vector<Cepstrum> spokenCepstra(const Samples& recording);
    // The nearest template to the last utterance decoded, if any lay near
    // enough to be taken (an empty word otherwise, or without templates).
    const WordTemplates::Match& lastMatch() const { return lastMatch_; }

private:
    Decoder(ps_decoder_s* decoder, fe_s* front, bool phones);
    static std::vector<std::string> splitHypothesis(const char* hypothesis);
    std::vector<std::string> decode(const Samples& utterance);
    void decodeEarly();
    std::vector<std::string> endedWords();
    void decodeWhole(const Samples& utterance);
    std::vector<std::string> templateWords(const std::vector<Cepstrum>& spoken, bool clear,
                                           const std::vector<std::string>& grammarWords);
    std::vector<std::string> sharedTemplateWords(const std::vector<Cepstrum>& spoken, bool clear,
                                                 const std::vector<std::string>& grammarWords);
    std::vector<Cepstrum> spokenPart(const Samples& sound);
    std::pair<int, int> spokenFrames();
    std::vector<Cepstrum> cepstra(const Samples& sound);

    ps_decoder_s* decoder_;
    // The templates' own front end, without the decoder's noise tracking
    // from one utterance to the next (see open).
    fe_s* front_;
    bool phones_;
    Segmenter segmenter_;
    std::int16_t frame_[Segmenter::kFrameSamples] = {};
    int frameFill_ = 0;
    long long samplesTaken_ = 0;
    double decodingSeconds_ = 0;
    double processorSeconds_ = 0;
    double longestUtteranceSeconds_ = 0;
    WordTemplates templates_;
    WordTemplates ownTemplates_;
    WordTemplates::Match lastMatch_{"", 0};
    // The utterance decoded halfway through its pause (see decodeEarly).
    bool haveEarly_ = false;
    std::vector<std::string> early_;
    double earlyDecodingSeconds_ = 0;
    double delaySeconds_ = 0;
    double longestDelaySeconds_ = 0;
    int wordsDelayed_ = 0;
};

}  // namespace hear
