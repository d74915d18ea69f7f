// robotas-hear: the robot's speech recogniser on 127.0.0.1:10500, speaking
// the recogniser's module protocol to one client (the robot) at a time.
//
//   robotas-hear [--port N] [--script FILE] [--log FILE]
//       the typed-word peer: utterances are typed, or read from a script
//       (its format: peer.cpp)
//   robotas-hear --mic | --wav FILE [--speed X] | --pcm   [--port N] [--grammar DIR] [--own FOLDER]
//       listens: the microphone, a WAV file played in real time (X times
//       faster with --speed X; playback starts when the robot connects and
//       silence follows it), or raw 16 kHz mono 16-bit PCM on standard input
//   robotas-hear --decode FILE... [--grammar DIR] [--own FOLDER] [--phones | --no-templates] [--scores]
//       decodes WAV files as fast as it can and prints each one's words
//       (with --phones: the phones heard, for working on the grammar; with
//       --scores: each utterance's nearest template and its distance, "-"
//       when none lies near enough to be taken, how fast it decoded, in
//       all and in the processor's time, and how soon after the voice the
//       words were ready)
//   robotas-hear --enrol FOLDER [--grammar DIR]
//       a person's own voice: every command word said three times, from
//       FOLDER/WORD-own-N.wav where they exist, else from the microphone (the
//       person is asked for each), becomes FOLDER/own.templates; listening
//       and decoding with --own FOLDER prefer those templates
//   robotas-hear --make-templates OUT FILE... --unknown FILE... [--other FILE...] [--grammar DIR]
//       makes word templates from recordings named WORD-SPEAKER-anything.wav,
//       with the threshold that rejects nearly all of the unknown words
//       (recordings of words outside the vocabulary, named the same way;
//       --other: more such recordings, kept only as other words that a
//       command word must lie clearly nearer than)
// Without --grammar the grammar is share/robotas/grammar beside the program's
// bin folder (an installed robot's, or the build tree's link to the source
// grammar), else the one of the prefix the program was built for.

#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <iomanip>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/datafiles.h"
#include "tools/hear/audio.h"
#include "tools/hear/decoder.h"
#include "tools/hear/enrol.h"
#include "tools/hear/peer.h"
#include "tools/hear/server.h"

namespace {

enum class Mode { Typed, Mic, Wav, Pcm, Decode, MakeTemplates, Enrol };

// The share of unknown words whose distance sets the templates' threshold:
// about one in ten unknown words from a new voice lies that near; most of
// those lie nearer other words' recordings than the decoder then allows.
constexpr double kUnknownWordsAccepted = 0.10;
// How near other words come to a template: as near as the nearest twentieth.
constexpr double kOtherWordsNearer = 0.05;

struct Options {
    Mode mode = Mode::Typed;
    hear::PeerOptions peer;
    std::string wav;
    double speed = 1.0;
    hear::DecoderOptions decoder;
    std::vector<std::string> files;  // --decode, --make-templates
    std::vector<std::string> unknown;  // --make-templates
    std::vector<std::string> other;    // --make-templates
    std::string templates;             // --make-templates
    std::string enrolFolder;           // --enrol
    bool scores = false;
};

const char* const kUsage =
    "usage: robotas-hear [--port N] [--script FILE] [--log FILE]\n"
    "       robotas-hear --mic | --wav FILE [--speed X] | --pcm   [--port N] [--grammar DIR] [--own FOLDER]\n"
    "       robotas-hear --decode FILE... [--grammar DIR] [--own FOLDER] [--phones | --no-templates] [--scores]\n"
    "       robotas-hear --enrol FOLDER [--grammar DIR]\n"
    "       robotas-hear --make-templates OUT FILE... --unknown FILE... [--other FILE...] [--grammar DIR]\n";

bool setMode(Options& options, Mode mode) {
    if (options.mode != Mode::Typed) return false;  // one sound source only
    options.mode = mode;
    return true;
}

bool parseNumber(const std::string& text, double lowest, double highest, double& value) {
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return !text.empty() && *end == '\0' && value >= lowest && value <= highest;
}

bool parseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--mic" || option == "--pcm") {
            if (!setMode(options, option == "--mic" ? Mode::Mic : Mode::Pcm)) return false;
            continue;
        }
        if (option == "--phones" || option == "--no-templates" || option == "--scores") {
            if (option == "--phones") options.decoder.phones = true;
            if (option == "--no-templates") options.decoder.useTemplates = false;
            if (option == "--scores") options.scores = true;
            continue;
        }
        if (option == "--decode" || option == "--make-templates" || option == "--unknown" || option == "--other") {
            if (option == "--decode" && !setMode(options, Mode::Decode)) return false;
            if (option == "--make-templates") {
                if (!setMode(options, Mode::MakeTemplates) || i + 1 >= argc) return false;
                options.templates = argv[++i];
                options.decoder.useTemplates = false;
            }
            std::vector<std::string>& files =
                option == "--unknown" ? options.unknown : option == "--other" ? options.other : options.files;
            const std::size_t before = files.size();
            for (; i + 1 < argc && argv[i + 1][0] != '-'; ++i) files.push_back(argv[i + 1]);
            if (files.size() == before) return false;
            continue;
        }
        if (i + 1 >= argc) return false;
        const std::string value = argv[++i];
        double number = 0;
        if (option == "--port") {
            if (!parseNumber(value, 1, 65535, number) || number != static_cast<int>(number)) return false;
            options.peer.port = static_cast<int>(number);
        } else if (option == "--script") {
            options.peer.script = value;
        } else if (option == "--log") {
            options.peer.log = value;
        } else if (option == "--wav") {
            if (!setMode(options, Mode::Wav)) return false;
            options.wav = value;
        } else if (option == "--speed") {
            if (!parseNumber(value, 0.1, 1000, options.speed)) return false;
        } else if (option == "--grammar") {
            options.decoder.grammar = value;
        } else if (option == "--own") {
            options.decoder.own = value;
        } else if (option == "--enrol") {
            if (!setMode(options, Mode::Enrol)) return false;
            options.enrolFolder = value;
        } else {
            return false;
        }
    }
    if (options.mode == Mode::MakeTemplates) return !options.unknown.empty();
    return options.unknown.empty() && options.other.empty();
}

// The first data folder that holds a grammar: nothing of the machine the
// program was built on is compiled in, so an installed copy finds its own.
std::string installedGrammar() {
    const std::vector<std::string> folders = platform::installedDataFolders();
    for (const std::string& folder : folders)
        if (access((folder + "/grammar/robot.gram").c_str(), R_OK) == 0) return folder + "/grammar";
    return folders.back() + "/grammar";  // the decoder's message names what is missing there
}

std::unique_ptr<hear::Decoder> openDecoder(const Options& options) {
    std::string why;
    std::unique_ptr<hear::Decoder> decoder = hear::Decoder::open(options.decoder, why);
    if (!decoder) std::cerr << "robotas-hear: cannot start the recogniser: " << why << "\n";
    else std::cerr << "robotas-hear: grammar " << options.decoder.grammar << "\n";
    return decoder;
}

// Collects the words of one file's utterances; "?" marks a rejected one.
// With scores, each utterance's nearest template follows, tab-separated.
class Transcript : public hear::UtteranceListener {
public:
    Transcript(const hear::Decoder& decoder, bool scores) : decoder_(decoder), scores_(scores) {}
    void speechStarted() override {}
    void heard(const std::vector<std::string>& words) override {
        if (words.empty()) text += text.empty() ? "?" : " ?";
        for (const std::string& word : words) text += (text.empty() ? "" : " ") + word;
        if (!scores_) return;
        std::ostringstream score;
        if (decoder_.lastMatch().word.empty()) score << "\t-";  // no template near enough to finish comparing
        else score << "\t" << decoder_.lastMatch().word << " " << std::fixed << std::setprecision(3) << decoder_.lastMatch().distance;
        scoreText += score.str();
    }
    std::string text;
    std::string scoreText;

private:
    const hear::Decoder& decoder_;
    bool scores_;
};

// The n-th dash-separated field of a recording named WORD-SPEAKER-anything.wav
// (0: the word, 1: the speaker; "" when the name has no such field).
std::string nameField(const std::string& path, int n) {
    std::string name = path.substr(path.find_last_of('/') + 1);
    for (; n > 0; --n) {
        const auto dash = name.find('-');
        if (dash == std::string::npos) return "";
        name = name.substr(dash + 1);
    }
    return name.substr(0, name.find('-'));
}

std::string wordOf(const std::string& path) { return nameField(path, 0); }
std::string speakerOf(const std::string& path) { return nameField(path, 1); }

bool readRecording(const std::string& file, hear::Samples& samples) {
    std::string why;
    if (hear::readWav(file, samples, why)) return true;
    std::cerr << "robotas-hear: " << file << ": " << why << "\n";
    return false;
}

int makeTemplates(const Options& options) {
    std::unique_ptr<hear::Decoder> decoder = openDecoder(options);
    if (!decoder) return 2;
    hear::WordTemplates templates;
    hear::Samples samples;
    for (const std::string& file : options.files) {
        if (!hear::WordTemplates::isWord(wordOf(file))) {
            std::cerr << "robotas-hear: " << file << ": the name does not begin with a word in capitals "
                      << "(as the grammar spells it: KAS-ona-1.wav)\n";
            return 1;
        }
        if (!readRecording(file, samples)) return 1;
        templates.add(wordOf(file), speakerOf(file), decoder->spokenCepstra(samples));
    }
    templates.learnTransform();
    const auto readWords = [&](const std::vector<std::string>& files, std::vector<hear::UnknownWord>& words) {
        for (const std::string& file : files) {
            if (!readRecording(file, samples)) return false;
            words.push_back({speakerOf(file), decoder->spokenCepstra(samples)});
        }
        return true;
    };
    std::vector<hear::UnknownWord> unknown, other;
    if (!readWords(options.unknown, unknown) || !readWords(options.other, other)) return 1;
    templates.measureOtherWords(unknown, kOtherWordsNearer);
    templates.setThreshold(hear::unknownWordThreshold(templates, unknown, kUnknownWordsAccepted));
    templates.addOtherWords(unknown);
    templates.addOtherWords(other);
    std::string why;
    if (templates.empty() || templates.threshold() <= 0) {
        std::cerr << "robotas-hear: no word was heard in the recordings\n";
        return 1;
    }
    if (!templates.save(options.templates, why)) {
        std::cerr << "robotas-hear: " << why << "\n";
        return 1;
    }
    std::cerr << "robotas-hear: " << templates.size() << " templates, threshold " << templates.threshold() << "\n";
    return 0;
}

// Asks for the missing recordings at the microphone when there is one.
int enrolSpeaker(const Options& options) {
    std::unique_ptr<hear::Decoder> decoder = openDecoder(options);
    if (!decoder) return 2;
    if (access(options.enrolFolder.c_str(), W_OK) != 0) {
        std::cerr << "robotas-hear: " << options.enrolFolder << " is no folder that can be written to\n";
        return 1;
    }
    const std::vector<std::string> words = hear::grammarCommandWords(options.decoder.grammar);
    std::unique_ptr<hear::AudioSource> microphone;
    std::string why;
    if (!hear::missingRecordings(options.enrolFolder, words).empty()) {
        microphone = hear::micSource(why);
        if (!microphone) std::cerr << "robotas-hear: cannot use the microphone: " << why << "\n";
    }
    if (!hear::enrol(options.enrolFolder, words, *decoder, microphone.get(), std::cout, why)) {
        std::cerr << "robotas-hear: " << why << "\n";
        return 1;
    }
    return 0;
}

int decodeFiles(const Options& options) {
    std::unique_ptr<hear::Decoder> decoder = openDecoder(options);
    if (!decoder) return 2;
    int failures = 0;
    for (const std::string& file : options.files) {
        hear::Samples samples;
        if (!readRecording(file, samples)) {
            ++failures;
            continue;
        }
        Transcript transcript(*decoder, options.scores);
        decoder->process(samples.data(), static_cast<long>(samples.size()), transcript);
        decoder->finish(transcript);
        std::cout << file << "\t" << transcript.text << transcript.scoreText << "\n";
    }
    // The words are the answer; how fast they came is for whoever tunes the decoder.
    if (!options.scores) return failures ? 1 : 0;
    const double sound = decoder->soundSeconds();
    const double spent = decoder->decodingSeconds();
    const double processor = decoder->processorSeconds();
    std::cerr << std::fixed << std::setprecision(1) << "robotas-hear: decoded " << sound << " s of sound in " << spent
              << " s (" << (spent > 0 ? sound / spent : 0.0) << " times real time; processor "
              << (processor > 0 ? sound / processor : 0.0) << " times, the costliest utterance "
              << std::setprecision(3) << decoder->longestUtteranceSeconds() << " s; words ready "
              << std::setprecision(2) << decoder->meanDelaySeconds() << " s after the voice, at most "
              << decoder->longestDelaySeconds() << " s)\n";
    return failures ? 1 : 0;
}

int listen(const Options& options) {
    std::unique_ptr<hear::AudioSource> sound;
    std::string why;
    if (options.mode == Mode::Wav) {
        hear::Samples samples;
        if (!hear::readWav(options.wav, samples, why)) {
            std::cerr << "robotas-hear: cannot play " << options.wav << ": " << why << "\n";
            return 2;
        }
        sound = hear::wavSource(std::move(samples), options.speed, true);
    } else if (options.mode == Mode::Pcm) {
        sound = hear::pcmSource(STDIN_FILENO);
    } else {
        sound = hear::micSource(why);
        if (!sound) {
            std::cerr << "robotas-hear: cannot use the microphone: " << why << "\n";
            return 2;
        }
    }
    std::unique_ptr<hear::Decoder> decoder = openDecoder(options);
    if (!decoder) return 2;
    return hear::runListeningRecogniser(options.peer.port, std::move(sound), std::move(decoder));
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parseOptions(argc, argv, options)) {
        std::cerr << kUsage;
        return 2;
    }
    if (options.decoder.grammar.empty()) options.decoder.grammar = installedGrammar();
    signal(SIGPIPE, SIG_IGN);  // a robot that has gone must not end us mid-write
    switch (options.mode) {
        case Mode::Typed: return hear::runTypedPeer(options.peer);
        case Mode::Decode: return decodeFiles(options);
        case Mode::MakeTemplates: return makeTemplates(options);
        case Mode::Enrol: return enrolSpeaker(options);
        default: return listen(options);
    }
}
