#include "tools/hear/decoder.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <chrono>
#include <ctime>
#include <fstream>
#include <random>
#include <sstream>

#include "tools/hear/denoise.h"
#include "tools/hear/enrol.h"

extern "C" {
#include <pocketsphinx.h>
}

namespace hear {
namespace {

bool readable(const std::string& path) { return access(path.c_str(), R_OK) == 0; }

// Silence and noise fillers of the acoustic model (<sil>, [NOISE], ...).
bool isFiller(const char* word) { return word[0] == '<' || word[0] == '['; }

// Wall time, and the processor's time, which a busy machine does not stretch.
class Stopwatch {
public:
    Stopwatch(double& total, double& processorTotal, double& longest)
        : total_(total), processorTotal_(processorTotal), longest_(longest),
          start_(std::chrono::steady_clock::now()), processorStart_(std::clock()) {}
    ~Stopwatch() {
        total_ += std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        const double processor = static_cast<double>(std::clock() - processorStart_) / CLOCKS_PER_SEC;
        processorTotal_ += processor;
        longest_ = std::max(longest_, processor);
    }

private:
    double& total_;
    double& processorTotal_;
    double& longest_;
    std::chrono::steady_clock::time_point start_;
    std::clock_t processorStart_;
};

// The grammar's tuning of the decoder: lines of "-name value" ("#" starts a
// comment). A missing file means no tuning.
bool readSettings(const std::string& path, std::vector<std::string>& arguments, std::string& why) {
    std::ifstream in(path);
    if (!in) return true;
    int number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        std::istringstream words(line.substr(0, line.find('#')));
        std::string name, value, extra;
        if (!(words >> name)) continue;
        if (name[0] != '-' || !(words >> value) || (words >> extra)) {
            why = path + " line " + std::to_string(number) + ": expected \"-name value\"";
            return false;
        }
        arguments.push_back(name);
        arguments.push_back(value);
    }
    return true;
}

// True when a fifth of the samples sit at the ends of the range.
bool mostlyClipped(const Samples& samples) {
    const auto clipped = std::count_if(samples.begin(), samples.end(),
                                       [](std::int16_t s) { return s >= 32767 || s <= -32767; });
    return !samples.empty() && static_cast<std::size_t>(clipped) * 5 >= samples.size();
}

// Digital silence (espeak-ng's pauses, a muted microphone) has the spectrum
// of the logarithm's floor, which neither the acoustic model's silence nor
// any spoken frame comes near: the decoder took it for words. A faint steady
// hiss under the loudest frame gives quiet frames the sound of a quiet room,
// alike whatever the recording.
constexpr double kNoiseFloorDb = 30;

// The mean square sample of every 10 ms of the sound.
std::vector<double> framePowers(const Samples& sound) {
    std::vector<double> powers;
    for (std::size_t at = 0; at + Segmenter::kFrameSamples <= sound.size(); at += Segmenter::kFrameSamples) {
        double power = 0;
        for (int i = 0; i < Segmenter::kFrameSamples; ++i) power += double(sound[at + i]) * sound[at + i];
        powers.push_back(power / Segmenter::kFrameSamples);
    }
    return powers;
}

Samples withNoiseFloor(const Samples& sound) {
    const std::vector<double> powers = framePowers(sound);
    const double loudest = powers.empty() ? 0 : *std::max_element(powers.begin(), powers.end());
    std::minstd_rand random(7);  // the same hiss for the same sound
    std::normal_distribution<double> hiss(0.0, std::sqrt(loudest) * std::pow(10.0, -kNoiseFloorDb / 20));
    Samples floored(sound.size());
    for (std::size_t i = 0; i < sound.size(); ++i)
        floored[i] = static_cast<std::int16_t>(std::clamp(std::lround(sound[i] + hiss(random)), -32768L, 32767L));
    return floored;
}

// What the templates are compared with. The acoustic model hears worse
// once the noise it was trained with is taken away, so the grammar decodes
// the utterance as it came, and finds where the word lies; the templates, made
// from clean recordings and ones with some noise, hear that part of it
// without the steady noise.
Samples comparedSound(const Samples& sound) { return withNoiseFloor(withoutSteadyNoise(sound)); }

// The loudest 10 ms of an utterance against its quiet tenth (the room
// around the word), in dB.
double loudestAboveBackgroundDb(const Samples& sound) {
    std::vector<double> powers = framePowers(sound);
    if (powers.size() < 10) return 0;
    std::sort(powers.begin(), powers.end());
    return 10 * std::log10((powers.back() + 1) / (powers[powers.size() / 10] + 1));  // + 1: digital silence
}

// In loud noise every utterance lies about as near to the noisy templates as
// another: there, only a word the grammar and the templates agree on is taken.
// Loud is measured on the sound as it came: a word spoken 18 dB above the
// noise stands 20-24 dB above it at its loudest, one spoken 12 dB above,
// 15-20 dB, and one spoken 6 dB above, 10-13 dB.
constexpr double kClearSpeechDb = 14;
// No word lying farther than this many times the threshold from all of a
// command word's templates is taken.
constexpr double kFarthestPastThreshold = 1.5;
// How doubtful a command word is: the product of four shares, each smaller
// the surer the word: its distance against the threshold, against how near
// other words' recordings come to its nearest template (againstOtherWords),
// against the nearest other command word, and against the nearest recording
// of a word outside the vocabulary. A voice unlike the templates' lies far
// from its word yet clearly nearer it than any other; a word outside the
// vocabulary may lie as near a command word but then lies about as near
// others. Weighing the four together takes more words of new voices and fewer
// other words than a limit on each of them alone.
constexpr double kMostDoubt = 0.42;
// However sure a word is on the other counts, it is not taken when a
// recording of a word outside the vocabulary lies this many times nearer than
// the word's nearest template: the utterance is then more likely that word
// (eiti heard as VEIKI). Not 1: a new voice lies far from every recording,
// and one of the thousands of other words' may come a little nearer.
constexpr double kOtherWordNearer = 1.05;

}  // namespace

std::unique_ptr<Decoder> Decoder::open(const DecoderOptions& options, std::string& why) {
    const std::string dictionary = options.grammar + "/robot.dict";
    const std::string grammar = options.grammar + "/robot.gram";
    for (const std::string& path : {options.model + "/mdef", dictionary, grammar}) {
        if (!readable(path)) {
            why = "cannot read " + path;
            return nullptr;
        }
    }
    std::vector<std::string> arguments = {"robotas-hear", "-hmm", options.model, "-dict", dictionary,
                                          "-samprate", "16000", "-logfn", "/dev/null",
                                          // utterances come cut out already, weak consonants included
                                          "-remove_silence", "no"};
    if (options.phones) {
        arguments.insert(arguments.end(), {"-allphone", options.model + "-phone.lm.bin", "-beam", "1e-10", "-pbeam", "1e-10", "-lw", "2.0"});
    } else {
        arguments.insert(arguments.end(), {"-jsgf", grammar});
    }
    if (!readSettings(options.grammar + "/robot.conf", arguments, why)) return nullptr;
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    cmd_ln_t* config = cmd_ln_parse_r(nullptr, ps_args(), static_cast<int32>(argv.size()), argv.data(), FALSE);
    if (!config) {
        why = "the decoder settings were refused";
        return nullptr;
    }
    ps_decoder_t* decoder = ps_init(config);
    cmd_ln_free_r(config);
    if (!decoder) {
        why = "the decoder would not load " + options.model + " with " + grammar;
        return nullptr;
    }
    // The templates' front end has the decoder's settings but tracks no noise
    // from one utterance to the next: the steady noise is taken out of each
    // utterance before it is compared, so a word's cepstra depend on that
    // utterance alone, as when its templates were made.
    cmd_ln_t* settings = ps_get_config(decoder);
    const bool decoderRemovesNoise = cmd_ln_boolean_r(settings, "-remove_noise");
    cmd_ln_set_boolean_r(settings, "-remove_noise", FALSE);
    fe_t* front = fe_init_auto_r(settings);
    cmd_ln_set_boolean_r(settings, "-remove_noise", decoderRemovesNoise);
    if (!front) {
        ps_free(decoder);
        why = "the front end would not start";
        return nullptr;
    }
    std::unique_ptr<Decoder> made(new Decoder(decoder, front, options.phones));
    const std::string templates = options.grammar + "/robot.templates";
    if (options.useTemplates && !options.phones && readable(templates) && !made->templates_.load(templates, why))
        return nullptr;
    if (!options.own.empty() && !made->ownTemplates_.load(options.own + "/" + kOwnTemplatesFile, why)) return nullptr;
    return made;
}

Decoder::Decoder(ps_decoder_s* decoder, fe_s* front, bool phones) : decoder_(decoder), front_(front), phones_(phones) {}

Decoder::~Decoder() {
    fe_free(front_);
    ps_free(decoder_);
}

void Decoder::process(const std::int16_t* samples, long count, UtteranceListener& listener) {
    samplesTaken_ += count;
    for (long i = 0; i < count; ++i) {
        frame_[frameFill_++] = samples[i];
        if (frameFill_ < Segmenter::kFrameSamples) continue;
        frameFill_ = 0;
        switch (segmenter_.take(frame_)) {
            case Segmenter::Step::Started: listener.speechStarted(); break;
            case Segmenter::Step::Paused: decodeEarly(); break;
            case Segmenter::Step::Ended: listener.heard(endedWords()); break;
            default: break;
        }
    }
}

// Decoding starts halfway through the pause that ends an utterance, so the
// words are ready when the pause is over: a word reaches the robot the rest
// of the pause or the decoding after the voice, whichever is longer, instead
// of both. A voice that comes back before the end makes the utterance go on,
// and it is decoded again at its next pause. (Nothing is decoded in between,
// so lastMatch_ stays the early decoding's.)
void Decoder::decodeEarly() {
    const double processorBefore = processorSeconds_;
    early_ = decode(segmenter_.pausedUtterance());
    earlyDecodingSeconds_ = processorSeconds_ - processorBefore;
    haveEarly_ = true;
}

std::vector<std::string> Decoder::endedWords() {
    const bool early = haveEarly_ && segmenter_.endedByPause();
    haveEarly_ = false;
    if (!early) return decode(segmenter_.utterance());
    const auto seconds = [](int frames) { return frames * Segmenter::kFrameSamples / double(kSampleRate); };
    const double delay = std::max(seconds(Segmenter::kFramesToEnd), seconds(Segmenter::kFramesToPause) + earlyDecodingSeconds_);
    delaySeconds_ += delay;
    longestDelaySeconds_ = std::max(longestDelaySeconds_, delay);
    ++wordsDelayed_;
    return early_;
}

void Decoder::finish(UtteranceListener& listener) {
    if (segmenter_.inUtterance()) listener.heard(decode(segmenter_.utterance()));
    drop();
}

void Decoder::drop() {
    segmenter_.reset();
    frameFill_ = 0;
    haveEarly_ = false;
}

std::vector<std::string> Decoder::decode(const Samples& utterance) {
    lastMatch_ = {"", 0};
    if (mostlyClipped(utterance)) return {};  // overdriven sound decodes as anything at all
    Stopwatch watch(decodingSeconds_, processorSeconds_, longestUtteranceSeconds_);
    const Samples floored = withNoiseFloor(utterance);
    decodeWhole(floored);
    const char* hypothesis = ps_get_hyp(decoder_, nullptr);
    if (phones_) return splitHypothesis(hypothesis);
    std::vector<std::string> words = commandWords(hypothesis);
    if (templates_.empty() && ownTemplates_.empty()) return words;
    const bool clear = loudestAboveBackgroundDb(floored) >= kClearSpeechDb;
    return templateWords(spokenPart(comparedSound(utterance)), clear, words);
}

void Decoder::decodeWhole(const Samples& utterance) {
    // A new stream forgets the noise the front end learnt from earlier
    // utterances, so each is heard against its own lead-in of room: the same
    // sound decodes the same whatever the robot heard before it.
    ps_start_stream(decoder_);
    ps_start_utt(decoder_);
    ps_process_raw(decoder_, utterance.data(), utterance.size(), FALSE, TRUE);
    ps_end_utt(decoder_);
}

std::vector<std::string> Decoder::templateWords(const std::vector<Cepstrum>& spoken, bool clear,
                                                const std::vector<std::string>& grammarWords) {
    // The person's own voice first: a word near enough to their takes is theirs.
    if (!ownTemplates_.empty()) {
        lastMatch_ = ownTemplates_.nearest(spoken, "", ownTemplates_.threshold());
        const bool agreed = grammarWords == std::vector<std::string>{lastMatch_.word};
        if (!lastMatch_.word.empty() && (clear || agreed)) return {lastMatch_.word};
    }
    if (templates_.empty()) return grammarWords;
    return sharedTemplateWords(spoken, clear, grammarWords);
}

std::vector<std::string> Decoder::sharedTemplateWords(const std::vector<Cepstrum>& spoken, bool clear,
                                                      const std::vector<std::string>& grammarWords) {
    const double threshold = templates_.threshold();
    const std::string likely = grammarWords.size() == 1 ? grammarWords.front() : "";
    if (!clear && likely.empty()) return {};  // in loud noise only a word the grammar heard may be taken
    lastMatch_ = templates_.nearest(spoken, "", threshold * kFarthestPastThreshold);
    if (lastMatch_.word.empty()) return {};
    const bool agreed = grammarWords == std::vector<std::string>{lastMatch_.word};
    if (!clear && !agreed) {
        lastMatch_.word.clear();
        return {};
    }
    // The nearest other word's recording is looked for last, and only as near
    // as it may lie for the doubt to stay within kMostDoubt and for it not to be
    // kOtherWordNearer times nearer. (Where how near other words come to the
    // template was not measured, the word counts as lying as near as they do.)
    const double distance = lastMatch_.distance;
    const double againstOtherWords = lastMatch_.againstOtherWords > 0 ? lastMatch_.againstOtherWords : 1.0;
    const double doubtSoFar = distance / threshold * againstOtherWords * (distance / lastMatch_.runnerUp);
    const double refusedIfOtherWordWithin = std::max(distance * doubtSoFar / kMostDoubt, distance / kOtherWordNearer);
    if (!templates_.otherWordWithin(spoken, refusedIfOtherWordWithin)) return {lastMatch_.word};
    lastMatch_.word.clear();  // none lay near enough to be taken
    return {};
}

std::vector<Cepstrum> Decoder::spokenCepstra(const Samples& recording) {
    if (std::all_of(recording.begin(), recording.end(), [](std::int16_t s) { return s == 0; })) return {};
    decodeWhole(withNoiseFloor(recording));
    return spokenPart(comparedSound(recording));
}

// The cepstra of sound, as long as the sound just decoded, over the frames
// where the decoder heard words.
std::vector<Cepstrum> Decoder::spokenPart(const Samples& sound) {
    const auto [first, last] = spokenFrames();
    const std::vector<Cepstrum> all = cepstra(sound);
    if (first < 0 || last >= static_cast<int>(all.size())) return {};
    return {all.begin() + first, all.begin() + last + 1};
}

// The first and last frame of the words (command or garbage) the decoder
// heard, silence and noise fillers left out; -1, -1 when it heard none.
std::pair<int, int> Decoder::spokenFrames() {
    int first = -1, last = -1;
    for (ps_seg_t* segment = ps_seg_iter(decoder_); segment; segment = ps_seg_next(segment)) {
        const char* word = ps_seg_word(segment);
        if (isFiller(word)) continue;
        int start = 0, end = 0;
        ps_seg_frames(segment, &start, &end);
        if (first < 0) first = start;
        last = end;
    }
    return {first, last};
}

// The cepstra of sound through the templates' front end, frame for frame as the decoder
// framed it.
std::vector<Cepstrum> Decoder::cepstra(const Samples& sound) {
    std::vector<Cepstrum> frames;
    fe_start_utt(front_);
    const std::int16_t* next = sound.data();
    std::size_t left = sound.size();
    Cepstrum frame{};
    mfcc_t* out = frame.data();
    while (left > 0) {
        int32 count = 1;
        if (fe_process_frames(front_, &next, &left, &out, &count, nullptr) < 0 || count == 0) break;
        frames.push_back(frame);
    }
    int32 count = 0;
    if (fe_end_utt(front_, out, &count) >= 0 && count == 1) frames.push_back(frame);
    return frames;
}

std::vector<std::string> Decoder::splitHypothesis(const char* hypothesis) {
    std::vector<std::string> words;
    std::istringstream in(hypothesis ? hypothesis : "");
    for (std::string word; in >> word;) words.push_back(word);
    return words;
}

std::vector<std::string> Decoder::commandWords(const char* hypothesis) {
    std::vector<std::string> words;
    if (!hypothesis) return words;
    std::istringstream in(hypothesis);
    for (std::string word; in >> word;) {
        if (isFiller(word.c_str())) continue;
        if (std::islower(static_cast<unsigned char>(word[0]))) return {};
        words.push_back(word);
    }
    return words;
}

}  // namespace hear
