#include "tools/hear/templates.h"

#include "tools/hear/transform.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <limits>

namespace hear {
namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
// Version 3 adds the map the cepstra are compared through, version 2 each
// template's distance to other words; files of before (an enrolment) are read
// as compared without a map, and version 1 as not measured.
constexpr char kHeader[] = "robotas-hear word templates 3";
constexpr char kSecondHeader[] = "robotas-hear word templates 2";
constexpr char kFirstHeader[] = "robotas-hear word templates 1";
constexpr std::size_t kMostTemplates = 100000;
constexpr int kMostFrames = 1000;  // ten seconds: no command word is that long
constexpr std::size_t kLongestWord = 64;

// The front end lifters its cepstra for the acoustic model, which scales every
// coefficient by its own variance; undone here, or the highest coefficients
// (weighted up to twelve times) would decide every distance.
float unliftered(int i) {
    constexpr double kLifter = 22;
    return static_cast<float>(1.0 / (1.0 + kLifter / 2 * std::sin(M_PI * i / kLifter)));
}

Cepstrum mapped(const CepstralTransform& map, const Cepstrum& values) {
    Cepstrum result{};
    for (int i = 0; i < kCepstra; ++i)
        for (int j = 0; j < kCepstra; ++j) result[i] += map[i * kCepstra + j] * values[j];
    return result;
}

// The distances of one frame to every frame of b, summed value by value in the
// same order as frame against frame, so the result is the same to the bit.
// Processors with AVX2 take eight frames at a time instead of four (no fused
// multiply-add, which would round differently). The thread checker's runtime
// is not up yet when the loader picks the version, so its builds keep one.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__)
__attribute__((target_clones("avx2", "default")))
#endif
void distancesToEveryFrame(const TemplateFrame& frame, const FrameColumns& b, float* distances) {
    const std::size_t m = b.frames;
    std::fill(distances, distances + m, 0.0f);
    for (int k = 0; k < 2 * kCepstra; ++k) {
        const float value = frame[k];
        const float* column = b.column(k);
        for (std::size_t j = 0; j < m; ++j) {
            const float difference = value - column[j];
            distances[j] += difference * difference;
        }
    }
    for (std::size_t j = 0; j < m; ++j) distances[j] = std::sqrt(distances[j]);
}

// How much farther a template may lie by the quick comparison than its limit
// before it is not compared in full (see roughlyNearestFirst). Averaging two
// frames blurs what tells them apart, and the quick distance lies near the
// full one: for words of voices the templates never heard, within 5 % of it
// for 99 templates in 100, and more than 1.3 times it for about one in 100 000.
constexpr double kRoughSlack = 1.3;

// Every two frames averaged into one (the last alone when the count is odd).
TemplateFeatures framePairs(const TemplateFeatures& frames) {
    TemplateFeatures pairs((frames.size() + 1) / 2);
    for (std::size_t t = 0; t < pairs.size(); ++t) {
        const TemplateFrame& first = frames[2 * t];
        const TemplateFrame& second = frames[std::min(2 * t + 1, frames.size() - 1)];
        for (int k = 0; k < 2 * kCepstra; ++k) pairs[t][k] = (first[k] + second[k]) / 2;
    }
    return pairs;
}

TemplateFeatures byFrame(const FrameColumns& columns) {
    TemplateFeatures frames(columns.frames);
    for (std::size_t j = 0; j < columns.frames; ++j)
        for (int k = 0; k < 2 * kCepstra; ++k) frames[j][k] = columns.at(j, k);
    return frames;
}

// A template's frames averaged two by two, for the quick comparison.
FrameColumns averagedPairs(const FrameColumns& frames) { return byValue(framePairs(byFrame(frames))); }

// The value the given share of values lie below once sorted (the largest
// when the share reaches the end); values is not empty.
double valueAtShare(std::vector<double>& values, double share) {
    std::sort(values.begin(), values.end());
    const auto below = static_cast<std::size_t>(share * static_cast<double>(values.size()));
    return values[std::min(below, values.size() - 1)];
}

}  // namespace

CepstralTransform identityTransform() {
    CepstralTransform map{};
    for (int i = 0; i < kCepstra; ++i) map[i * kCepstra + i] = 1;
    return map;
}

std::vector<Cepstrum> normalisedCepstra(const std::vector<Cepstrum>& cepstra) {
    Cepstrum mean{};
    for (const Cepstrum& c : cepstra)
        for (int i = 0; i < kCepstra; ++i) mean[i] += c[i] / static_cast<float>(cepstra.size());
    std::vector<Cepstrum> normalised = cepstra;
    for (Cepstrum& c : normalised)
        for (int i = 0; i < kCepstra; ++i) c[i] = (c[i] - mean[i]) * unliftered(i);
    return normalised;
}

TemplateFeatures withSlopes(const std::vector<Cepstrum>& normalised) {
    TemplateFeatures features(normalised.size());
    for (std::size_t t = 0; t < normalised.size(); ++t) {
        const Cepstrum& before = normalised[t > 0 ? t - 1 : t];
        const Cepstrum& after = normalised[t + 1 < normalised.size() ? t + 1 : t];
        for (int i = 0; i < kCepstra; ++i) {
            features[t][i] = normalised[t][i];
            features[t][kCepstra + i] = (after[i] - before[i]) / 2;
        }
    }
    return features;
}

FrameColumns byValue(const TemplateFeatures& frames) {
    FrameColumns columns{frames.size(), std::vector<float>(frames.size() * 2 * kCepstra)};
    for (int k = 0; k < 2 * kCepstra; ++k)
        for (std::size_t j = 0; j < frames.size(); ++j) columns.column(k)[j] = frames[j][k];
    return columns;
}

double warpedDistance(const TemplateFeatures& a, const FrameColumns& b, double giveUpAbove) {
    const std::size_t n = a.size(), m = b.frames;
    if (n == 0 || m == 0 || n > 2 * m || m > 2 * n) return kInfinity;
    // Symmetric steps: a diagonal step counts its frame distance twice, so
    // every path from corner to corner weighs n + m in all. Costs only grow
    // along a path, so once a whole row is dearer than giveUpAbove allows,
    // the end will be too.
    const double limit = giveUpAbove * static_cast<double>(n + m);
    std::vector<double> previous(m + 1, kInfinity), current(m + 1, kInfinity);
    std::vector<float> distances(m);
    previous[0] = 0;
    for (std::size_t i = 1; i <= n; ++i) {
        distancesToEveryFrame(a[i - 1], b, distances.data());
        current[0] = kInfinity;
        double cheapest = kInfinity;
        for (std::size_t j = 1; j <= m; ++j) {
            const double d = distances[j - 1];
            current[j] = std::min({previous[j - 1] + 2 * d, previous[j] + d, current[j - 1] + d});
            cheapest = std::min(cheapest, current[j]);
        }
        if (cheapest > limit) return kInfinity;
        std::swap(previous, current);
    }
    return previous[m] / static_cast<double>(n + m);
}

bool WordTemplates::isWord(const std::string& word) {
    return !word.empty() && word.size() <= kLongestWord &&
           std::all_of(word.begin(), word.end(), [](char c) { return (c >= 'A' && c <= 'Z') || c == '_'; });
}

void WordTemplates::add(const std::string& word, const std::string& speaker, const std::vector<Cepstrum>& spoken) {
    if (!spoken.empty()) addNormalised(word, speaker, transformed(normalisedCepstra(spoken)));
}

void WordTemplates::addNormalised(const std::string& word, const std::string& speaker,
                                  const std::vector<Cepstrum>& normalised, float otherWordsNear) {
    FrameColumns frames = byValue(withSlopes(normalised));
    FrameColumns pairs = averagedPairs(frames);
    templates_.push_back({word, speaker, std::move(frames), otherWordsNear, std::move(pairs)});
}

std::vector<Cepstrum> WordTemplates::transformed(std::vector<Cepstrum> normalised) const {
    if (transform_ != identityTransform())
        for (Cepstrum& c : normalised) c = mapped(transform_, c);
    return normalised;
}

TemplateFeatures WordTemplates::compared(const std::vector<Cepstrum>& spoken) const {
    return withSlopes(transformed(normalisedCepstra(spoken)));
}

void WordTemplates::learnTransform() {
    std::vector<std::string> words;
    std::vector<std::vector<TemplateFeatures>> recordings;
    for (const Template& t : templates_) {
        if (t.isOtherWord()) continue;
        const auto index = static_cast<std::size_t>(std::find(words.begin(), words.end(), t.word) - words.begin());
        if (index == words.size()) {
            words.push_back(t.word);
            recordings.emplace_back();
        }
        recordings[index].push_back(byFrame(t.frames));
    }
    const CepstralTransform map = wordDiscriminatingTransform(recordings);
    // Slopes are differences of cepstra, so the same map carries them.
    for (Template& t : templates_) {
        for (std::size_t j = 0; j < t.frames.frames; ++j)
            for (int half : {0, kCepstra}) {
                Cepstrum values{};
                for (int k = 0; k < kCepstra; ++k) values[k] = t.frames.at(j, half + k);
                const Cepstrum result = mapped(map, values);
                for (int i = 0; i < kCepstra; ++i) t.frames.column(half + i)[j] = result[i];
            }
        t.pairs = averagedPairs(t.frames);
    }
    // Templates already mapped were mapped again: the new map follows the old.
    CepstralTransform composed{};
    for (int column = 0; column < kCepstra; ++column) {
        Cepstrum old{};
        for (int k = 0; k < kCepstra; ++k) old[k] = transform_[k * kCepstra + column];
        const Cepstrum result = mapped(map, old);
        for (int i = 0; i < kCepstra; ++i) composed[i * kCepstra + column] = result[i];
    }
    transform_ = composed;
}

// A quick first comparison, of the frames two by two averaged (a quarter of
// the work), puts the wanted templates in order, nearest first, and leaves out
// those lying well beyond within. The full comparison then meets the near
// templates first, so its limits come near their last values at once, and it
// gives up on the far ones after a few frames or does not compare them at all.
template <typename Wanted>
std::vector<WordTemplates::RoughMatch> WordTemplates::roughlyNearestFirst(const TemplateFeatures& features,
                                                                          double within, Wanted wanted) const {
    const TemplateFeatures pairs = framePairs(features);
    const double farthest = kRoughSlack * within;
    std::vector<RoughMatch> order;
    for (const Template& t : templates_) {
        if (!wanted(t)) continue;
        const double rough = warpedDistance(pairs, t.pairs, farthest);
        if (rough <= farthest) order.emplace_back(rough, &t);
    }
    std::stable_sort(order.begin(), order.end(), [](const RoughMatch& a, const RoughMatch& b) { return a.first < b.first; });
    return order;
}

WordTemplates::Match WordTemplates::nearest(const std::vector<Cepstrum>& spoken, const std::string& apartFrom,
                                            double within) const {
    Match match{"", within, within};
    if (spoken.empty()) return match;
    const TemplateFeatures features = compared(spoken);
    const auto wanted = [&](const Template& t) { return !t.isOtherWord() && (apartFrom.empty() || t.speaker != apartFrom); };
    for (const auto& [rough, candidate] : roughlyNearestFirst(features, within, wanted)) {
        // Past the runner-up no template matters, and the rest lie farther still.
        if (rough > kRoughSlack * match.runnerUp) break;
        // Another template of the leading word matters only if it leads by
        // more; one of another word, as soon as it beats the runner-up.
        const bool sameWord = candidate->word == match.word;
        const double limit = sameWord ? match.distance : match.runnerUp;
        if (rough > kRoughSlack * limit) continue;
        const double d = warpedDistance(features, candidate->frames, limit);
        if (sameWord) {
            match.distance = std::min(match.distance, d);
        } else if (d < match.distance) {
            match = {candidate->word, d, match.distance};
        } else if (d < match.runnerUp) {
            match.runnerUp = d;
        }
    }
    if (!match.word.empty()) match.againstOtherWords = againstOtherWords(features, match.word, apartFrom);
    return match;
}

bool WordTemplates::otherWordWithin(const std::vector<Cepstrum>& spoken, double within) const {
    if (spoken.empty()) return false;
    const TemplateFeatures features = compared(spoken);
    const std::vector<RoughMatch> others =
        roughlyNearestFirst(features, within, [](const Template& t) { return t.isOtherWord(); });
    return std::any_of(others.begin(), others.end(), [&](const RoughMatch& other) {
        return warpedDistance(features, other.second->frames, within) <= within;
    });
}

void WordTemplates::addOtherWords(const std::vector<UnknownWord>& unknown) {
    for (const UnknownWord& w : unknown) add(kOtherWord, w.speaker, w.spoken);
}

double WordTemplates::againstOtherWords(const TemplateFeatures& features, const std::string& word,
                                        const std::string& apartFrom) const {
    double least = kInfinity;
    bool measured = false;
    for (const Template& t : templates_) {
        if (t.word != word || t.otherWordsNear <= 0 || (!apartFrom.empty() && t.speaker == apartFrom)) continue;
        measured = true;
        least = std::min(least, warpedDistance(features, t.frames, least * t.otherWordsNear) / t.otherWordsNear);
    }
    return measured ? least : 0;
}

void WordTemplates::measureOtherWords(const std::vector<UnknownWord>& unknown, double share) {
    std::vector<TemplateFeatures> others;
    for (const UnknownWord& w : unknown) others.push_back(compared(w.spoken));
    for (Template& t : templates_) {
        if (t.isOtherWord()) continue;
        std::vector<double> distances;
        for (std::size_t i = 0; i < unknown.size(); ++i) {
            if (unknown[i].speaker == t.speaker) continue;
            const double d = warpedDistance(others[i], t.frames);
            if (std::isfinite(d)) distances.push_back(d);
        }
        if (!distances.empty()) t.otherWordsNear = static_cast<float>(valueAtShare(distances, share));
    }
}

// Signed bytes, a scale a coefficient: a template is 13 bytes a frame.
std::array<float, kCepstra> WordTemplates::byteScales() const {
    std::array<float, kCepstra> largest{};
    for (const Template& t : templates_)
        for (std::size_t j = 0; j < t.frames.frames; ++j)
            for (int i = 0; i < kCepstra; ++i) largest[i] = std::max(largest[i], std::fabs(t.frames.at(j, i)));
    for (float& scale : largest) scale = scale > 0 ? scale / 127 : 1;
    return largest;
}

bool WordTemplates::save(const std::string& path, std::string& why) const {
    const std::array<float, kCepstra> scales = byteScales();
    std::ofstream out(path, std::ios::binary);
    out << kHeader << "\nthreshold " << threshold_ << "\nscales";
    for (float scale : scales) out << ' ' << scale;
    out << "\ntransform";
    out.precision(std::numeric_limits<float>::max_digits10);
    for (float value : transform_) out << ' ' << value;
    out.precision(6);
    out << "\ntemplates " << templates_.size() << '\n';
    for (const Template& t : templates_) {
        out << t.word << ' ' << t.frames.frames << ' ' << t.otherWordsNear << '\n';
        for (std::size_t j = 0; j < t.frames.frames; ++j)
            for (int i = 0; i < kCepstra; ++i)
                out.put(static_cast<char>(static_cast<signed char>(std::lround(std::clamp(t.frames.at(j, i) / scales[i], -127.0f, 127.0f)))));
    }
    if (!out.flush()) {
        why = "cannot write " + path;
        return false;
    }
    return true;
}

bool WordTemplates::load(const std::string& path, std::string& why) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        why = "cannot read " + path;
        return false;
    }
    WordTemplates loaded;
    if (!loaded.read(in, why)) {
        why = path + ": " + why;
        return false;
    }
    *this = std::move(loaded);
    return true;
}

bool WordTemplates::read(std::istream& in, std::string& why) {
    std::string line;
    if (!std::getline(in, line) || (line != kHeader && line != kSecondHeader && line != kFirstHeader)) {
        why = "not a word templates file";
        return false;
    }
    const bool measured = line != kFirstHeader;
    std::string name;
    std::array<float, kCepstra> scales{};
    std::size_t count = 0;
    if (!(in >> name >> threshold_) || name != "threshold" || !std::isfinite(threshold_) || threshold_ <= 0) {
        why = "no threshold";
        return false;
    }
    if (!(in >> name) || name != "scales") {
        why = "no scales";
        return false;
    }
    // A byte times its scale must stay a number: 127 times the largest float is not.
    constexpr float kLargestScale = std::numeric_limits<float>::max() / 128;
    for (float& scale : scales) {
        if (!(in >> scale) || !std::isfinite(scale) || scale <= 0 || scale > kLargestScale) {
            why = "a scale is missing, not a positive number or too large";
            return false;
        }
    }
    if (line == kHeader && !readTransform(in)) {
        why = "no transform of 169 numbers, each at most a million";
        return false;
    }
    if (!(in >> name >> count) || name != "templates" || count > kMostTemplates || in.get() != '\n') {
        why = "no count of templates, or more than " + std::to_string(kMostTemplates);
        return false;
    }
    for (std::size_t n = 0; n < count; ++n) {
        std::string word;
        int frames = 0;
        float otherWordsNear = 0;
        if (!(in >> word >> frames) || !isWord(word) || frames < 1 || frames > kMostFrames ||
            (measured && !(in >> otherWordsNear && std::isfinite(otherWordsNear) && otherWordsNear >= 0)) ||
            in.get() != '\n') {
            why = "template " + std::to_string(n + 1) + " has no word in capitals, frame count (1-" +
                  std::to_string(kMostFrames) + ")" + (measured ? " and distance of other words" : "");
            return false;
        }
        std::vector<signed char> bytes(static_cast<std::size_t>(frames) * kCepstra);
        if (!in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()))) {
            why = "template " + std::to_string(n + 1) + " is cut short";
            return false;
        }
        std::vector<Cepstrum> normalised(static_cast<std::size_t>(frames));
        for (std::size_t k = 0; k < bytes.size(); ++k) normalised[k / kCepstra][k % kCepstra] = bytes[k] * scales[k % kCepstra];
        addNormalised(word, "", normalised, otherWordsNear);
    }
    if (in.peek() != std::char_traits<char>::eof()) {
        why = "more follows the last template";
        return false;
    }
    return true;
}

bool WordTemplates::readTransform(std::istream& in) {
    std::string name;
    if (!(in >> name) || name != "transform") return false;
    // Far beyond any learned map's, and small enough that mapped cepstra stay numbers.
    constexpr float kLargestValue = 1e6f;
    for (float& value : transform_)
        if (!(in >> value) || !std::isfinite(value) || std::fabs(value) > kLargestValue) return false;
    return true;
}

double unknownWordThreshold(const WordTemplates& templates, const std::vector<UnknownWord>& unknown, double share) {
    std::vector<double> distances;
    for (const UnknownWord& recording : unknown) {
        const double d = templates.nearest(recording.spoken, recording.speaker).distance;
        if (std::isfinite(d)) distances.push_back(d);
    }
    return distances.empty() ? 0 : valueAtShare(distances, share);
}

}  // namespace hear
