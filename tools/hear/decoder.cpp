#include "tools/hear/decoder.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <chrono>
#include <fstream>
#include <sstream>

extern "C" {
#include <pocketsphinx.h>
}

namespace hear {
namespace {

bool readable(const std::string& path) { return access(path.c_str(), R_OK) == 0; }

class Stopwatch {
public:
    explicit Stopwatch(double& total) : total_(total), start_(std::chrono::steady_clock::now()) {}
    ~Stopwatch() { total_ += std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count(); }

private:
    double& total_;
    std::chrono::steady_clock::time_point start_;
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
    return std::unique_ptr<Decoder>(new Decoder(decoder, options.phones));
}

Decoder::Decoder(ps_decoder_s* decoder, bool phones) : decoder_(decoder), phones_(phones) {}

Decoder::~Decoder() {
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
            case Segmenter::Step::Ended: listener.heard(decode(segmenter_.utterance())); break;
            default: break;
        }
    }
}

void Decoder::finish(UtteranceListener& listener) {
    if (segmenter_.inUtterance()) listener.heard(decode(segmenter_.utterance()));
    segmenter_.reset();
    frameFill_ = 0;
}

void Decoder::drop() {
    segmenter_.reset();
    frameFill_ = 0;
}

std::vector<std::string> Decoder::decode(const Samples& utterance) {
    if (mostlyClipped(utterance)) return {};  // overdriven sound decodes as anything at all
    Stopwatch watch(decodingSeconds_);
    ps_start_utt(decoder_);
    ps_process_raw(decoder_, utterance.data(), utterance.size(), FALSE, TRUE);
    ps_end_utt(decoder_);
    const char* hypothesis = ps_get_hyp(decoder_, nullptr);
    return phones_ ? splitHypothesis(hypothesis) : commandWords(hypothesis);
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
        if (word[0] == '<' || word[0] == '[') continue;  // silence and noise fillers
        if (std::islower(static_cast<unsigned char>(word[0]))) return {};
        words.push_back(word);
    }
    return words;
}

}  // namespace hear
