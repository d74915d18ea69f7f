#pragma once
// A person's own voice in a few minutes: every command word said three
// times, from WAV files already in a folder or else from the microphone (the
// person is prompted word by word), becomes templates of that voice, which the
// listening recogniser prefers to those of the synthetic voices.

#include <iosfwd>
#include <string>
#include <vector>

#include "tools/hear/audio.h"
#include "tools/hear/templates.h"

namespace hear {

class Decoder;

constexpr int kEnrolTakes = 3;
constexpr char kOwnTemplatesFile[] = "own.templates";

// The command words of the grammar in folder: robot.dict's words in capitals.
std::vector<std::string> grammarCommandWords(const std::string& grammarFolder);

// Where take (1-3) of word is kept: FOLDER/WORD-own-TAKE.wav.
std::string enrolRecordingPath(const std::string& folder, const std::string& word, int take);
// The recordings of words that folder lacks, in the order they are asked for.
std::vector<std::string> missingRecordings(const std::string& folder, const std::vector<std::string>& words);

// Records what folder lacks from the microphone (when there is one), then
// writes FOLDER/own.templates from all the takes. Prompts and progress go to
// out; false with the reason in why when no word could be enrolled.
bool enrol(const std::string& folder, const std::vector<std::string>& words, Decoder& decoder,
           AudioSource* microphone, std::ostream& out, std::string& why);

// One recording of an enrolled word.
struct Take {
    std::string word;
    int number;
    std::vector<Cepstrum> spoken;
};

// The templates of one voice, with the threshold from how far each take lies
// from the other takes of its word (the farthest, with a margin: that voice
// says the word no more alike next time). A take nearer another word's takes
// counts not; no threshold (0) when there is no word with two takes.
WordTemplates ownVoiceTemplates(const std::vector<Take>& takes);

}  // namespace hear
