#include "tools/hear/enrol.h"

#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <ostream>
#include <sstream>

#include "tools/hear/decoder.h"
#include "tools/hear/segmenter.h"

namespace hear {
namespace {

// A person says a word a little differently every time: an utterance may lie
// this much farther from the takes than the takes lie from one another.
constexpr double kOwnVoiceMargin = 1.3;
// Longer than any command word: a cough, a sentence, or the room's noise.
constexpr std::size_t kLongestTake = 3 * kSampleRate;

std::string takeSpeaker(int number) { return "take" + std::to_string(number); }

// One utterance from the microphone, as the listening recogniser cuts them.
bool recordUtterance(AudioSource& microphone, Samples& utterance) {
    Segmenter segmenter;
    std::int16_t frame[Segmenter::kFrameSamples];
    long fill = 0;
    for (;;) {
        const long got = microphone.read(frame + fill, Segmenter::kFrameSamples - fill);
        if (got <= 0) return false;
        fill += got;
        if (fill < Segmenter::kFrameSamples) continue;
        fill = 0;
        if (segmenter.take(frame) == Segmenter::Step::Ended) {
            utterance = segmenter.utterance();
            return true;
        }
    }
}

// Prompts for each missing recording until one of a command word's length is
// heard; false when the microphone stopped.
bool recordMissing(const std::vector<std::string>& missing, AudioSource& microphone, std::ostream& out,
                   std::string& why) {
    for (const std::string& path : missing) {
        const std::string name = path.substr(path.find_last_of('/') + 1);
        out << "Say " << name.substr(0, name.find('-')) << " (take " << name[name.size() - 5] << " of "
            << kEnrolTakes << "), then wait." << std::endl;
        Samples utterance;
        for (;;) {
            if (!recordUtterance(microphone, utterance)) {
                why = "the microphone stopped";
                return false;
            }
            if (utterance.size() <= kLongestTake) break;
            out << "That was too long for one word: once more, please." << std::endl;
        }
        if (!writeWav(path, utterance, why)) return false;
    }
    return true;
}

std::vector<Take> readTakes(const std::string& folder, const std::vector<std::string>& words, Decoder& decoder,
                            std::ostream& out) {
    std::vector<Take> takes;
    for (const std::string& word : words) {
        for (int number = 1; number <= kEnrolTakes; ++number) {
            const std::string path = enrolRecordingPath(folder, word, number);
            Samples samples;
            std::string why;
            if (access(path.c_str(), F_OK) != 0) continue;
            if (!readWav(path, samples, why)) {
                out << path << ": " << why << ": left out" << std::endl;
                continue;
            }
            std::vector<Cepstrum> spoken = decoder.spokenCepstra(samples);
            if (spoken.empty()) out << path << ": no word heard in it: left out" << std::endl;
            else takes.push_back({word, number, std::move(spoken)});
        }
    }
    return takes;
}

}  // namespace

std::vector<std::string> grammarCommandWords(const std::string& grammarFolder) {
    std::vector<std::string> words;
    std::ifstream in(grammarFolder + "/robot.dict");
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::string word;
        fields >> word;
        word = word.substr(0, word.find('('));  // KAS(2): another pronunciation of KAS
        if (WordTemplates::isWord(word) && std::find(words.begin(), words.end(), word) == words.end())
            words.push_back(word);
    }
    return words;
}

std::string enrolRecordingPath(const std::string& folder, const std::string& word, int take) {
    return folder + "/" + word + "-own-" + std::to_string(take) + ".wav";
}

std::vector<std::string> missingRecordings(const std::string& folder, const std::vector<std::string>& words) {
    std::vector<std::string> missing;
    for (const std::string& word : words)
        for (int take = 1; take <= kEnrolTakes; ++take)
            if (access(enrolRecordingPath(folder, word, take).c_str(), F_OK) != 0)
                missing.push_back(enrolRecordingPath(folder, word, take));
    return missing;
}

WordTemplates ownVoiceTemplates(const std::vector<Take>& takes) {
    WordTemplates templates;
    for (const Take& take : takes) templates.add(take.word, takeSpeaker(take.number), take.spoken);
    double farthest = 0;
    for (const Take& take : takes) {
        const WordTemplates::Match nearest = templates.nearest(take.spoken, takeSpeaker(take.number));
        if (nearest.word == take.word) farthest = std::max(farthest, nearest.distance);
    }
    templates.setThreshold(farthest * kOwnVoiceMargin);
    return templates;
}

bool enrol(const std::string& folder, const std::vector<std::string>& words, Decoder& decoder,
           AudioSource* microphone, std::ostream& out, std::string& why) {
    const std::vector<std::string> missing = missingRecordings(folder, words);
    if (!missing.empty() && microphone && !recordMissing(missing, *microphone, out, why)) return false;
    if (!missing.empty() && !microphone)
        out << missing.size() << " recordings are missing (" << missing.front()
            << ", ...): those words keep the synthetic voices' templates" << std::endl;
    const WordTemplates templates = ownVoiceTemplates(readTakes(folder, words, decoder, out));
    if (templates.threshold() <= 0) {
        why = "no word of " + folder + " was heard in two takes";
        return false;
    }
    if (!templates.save(folder + "/" + kOwnTemplatesFile, why)) return false;
    out << templates.size() << " takes enrolled in " << folder << "/" << kOwnTemplatesFile << std::endl;
    return true;
}

}  // namespace hear
