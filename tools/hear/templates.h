#pragma once
// Word templates: recordings of the robot's words, each kept as the cepstra of
// its spoken part, and the nearest of them to an utterance by dynamic time
// warping. The acoustic model, trained on English, finds where the word is
// in the sound; the templates tell which of the robot's words it is, and
// whether it is one at all, better than that model's phones of a language
// it was not trained on.

#include <array>
#include <iosfwd>
#include <limits>
#include <string>
#include <utility>
#include <vector>

namespace hear {

constexpr int kCepstra = 13;
using Cepstrum = std::array<float, kCepstra>;

// One frame as compared between recordings: the cepstrum less the word's
// mean (so the microphone and the loudness drop out), and its slope.
using TemplateFrame = std::array<float, 2 * kCepstra>;
using TemplateFeatures = std::vector<TemplateFrame>;

// A linear map of a frame's cepstra, row by row (see transform.h).
using CepstralTransform = std::array<float, kCepstra * kCepstra>;
CepstralTransform identityTransform();

// A spoken word's cepstra (the front end's, liftered) less their mean and
// unliftered; templates with a learned map compare these through it.
std::vector<Cepstrum> normalisedCepstra(const std::vector<Cepstrum>& cepstra);
TemplateFeatures withSlopes(const std::vector<Cepstrum>& normalised);

// Frames stored value by value: every frame's first value, then every frame's
// second, ... so that one utterance frame's distances to all of a template's
// frames are worked out side by side, several at a time.
struct FrameColumns {
    std::size_t frames = 0;
    std::vector<float> values;  // value k of frame j at k * frames + j
    float* column(int k) { return values.data() + k * frames; }
    const float* column(int k) const { return values.data() + k * frames; }
    float at(std::size_t frame, int k) const { return column(k)[frame]; }
};
FrameColumns byValue(const TemplateFeatures& frames);

// Dynamic time warping: the mean frame distance along the best alignment of
// the two; infinity when one is over twice as long as the other. Past
// giveUpAbove the result is the distance or infinity, whichever is cheaper to
// know: work stops once the distance is sure to exceed it.
double warpedDistance(const TemplateFeatures& a, const FrameColumns& b,
                      double giveUpAbove = std::numeric_limits<double>::infinity());
inline double warpedDistance(const TemplateFeatures& a, const TemplateFeatures& b,
                             double giveUpAbove = std::numeric_limits<double>::infinity()) {
    return warpedDistance(a, byValue(b), giveUpAbove);
}

struct UnknownWord;

class WordTemplates {
public:
    struct Match {
        std::string word;  // empty when no template is near enough to compare
        double distance;   // to the word's nearest template
        // to the nearest template of any other word (within, when none is nearer)
        double runnerUp = std::numeric_limits<double>::infinity();
        // The least, over the word's templates, of the distance to the template
        // against how near other words' recordings come to it (see
        // measureOtherWords); 0 where that was not measured.
        double againstOtherWords = 0;
    };

    // Adds a recording of word by speaker (its cepstra from the start to the
    // end of the word; the speaker is not kept in the file).
    void add(const std::string& word, const std::string& speaker, const std::vector<Cepstrum>& spoken);
    // Learns the map that weighs what tells the words apart above what
    // changes with the voice from the command words' templates so far, and
    // compares in its terms from now on (those templates included). Templates
    // made without one (one's own, files of before) compare the cepstra as they are.
    void learnTransform();
    // Recordings of words outside the vocabulary are kept too, under this name,
    // which no grammar word has: an utterance that lies about as near one of
    // them as its nearest command word is more likely another word.
    static constexpr const char* kOtherWord = "_OTHER";
    void addOtherWords(const std::vector<UnknownWord>& unknown);
    // What a template's word may be: capitals and '_', as the grammar spells
    // its words, at most 64 of them.
    static bool isWord(const std::string& word);
    bool empty() const { return templates_.empty(); }
    std::size_t size() const { return templates_.size(); }
    // The nearest template of a command word, leaving out those of the
    // speaker apartFrom; none (an empty word) when every template lies
    // farther than within. Templates a quick comparison finds far past
    // where they could matter are not compared in full (see roughlyNearestFirst).
    Match nearest(const std::vector<Cepstrum>& spoken, const std::string& apartFrom = "",
                  double within = std::numeric_limits<double>::infinity()) const;

    // Whether a recording of a word outside the vocabulary lies within the given distance.
    bool otherWordWithin(const std::vector<Cepstrum>& spoken, double within) const;

    // How near recordings of words outside the vocabulary (by other speakers)
    // come to each template: the given share of them lie nearer. A template
    // that every word lies near tells less when an utterance lies near it.
    void measureOtherWords(const std::vector<UnknownWord>& unknown, double share);
    // An utterance whose nearest template is farther than this is no command word.
    double threshold() const { return threshold_; }
    void setThreshold(double threshold) { threshold_ = threshold; }

    // The file robotas-hear --make-templates writes. Loading is all or
    // nothing: false with the reason in why, the templates unchanged.
    bool save(const std::string& path, std::string& why) const;
    bool load(const std::string& path, std::string& why);

private:
    struct Template {
        std::string word;
        std::string speaker;
        FrameColumns frames;  // the first kCepstra values of each frame are what the file keeps
        float otherWordsNear = 0;  // 0: not measured
        FrameColumns pairs;  // the frames two by two, averaged (see roughlyNearestFirst)
        bool isOtherWord() const { return word == kOtherWord; }
    };
    using RoughMatch = std::pair<double, const Template*>;
    template <typename Wanted>
    std::vector<RoughMatch> roughlyNearestFirst(const TemplateFeatures& features, double within, Wanted wanted) const;
    TemplateFeatures compared(const std::vector<Cepstrum>& spoken) const;
    std::vector<Cepstrum> transformed(std::vector<Cepstrum> normalised) const;
    double againstOtherWords(const TemplateFeatures& features, const std::string& word, const std::string& apartFrom) const;
    bool read(std::istream& in, std::string& why);
    bool readTransform(std::istream& in);
    std::array<float, kCepstra> byteScales() const;
    void addNormalised(const std::string& word, const std::string& speaker, const std::vector<Cepstrum>& normalised,
                       float otherWordsNear = 0);

    std::vector<Template> templates_;
    double threshold_ = 0;
    CepstralTransform transform_ = identityTransform();
};

// A recording of a word outside the robot's vocabulary.
struct UnknownWord {
    std::string speaker;
    std::vector<Cepstrum> spoken;
};

// The threshold that accepts the given share of the unknown words, each
// compared with the templates of the other speakers only (as the robot will
// hear voices its templates do not have).
double unknownWordThreshold(const WordTemplates& templates, const std::vector<UnknownWord>& unknown, double share);

}  // namespace hear
