// Word templates: the warping distance, the nearest word, their file, the
// threshold learned from unknown words, and (with the real decoder and
// espeak-ng) command words heard in a voice the templates lack.

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <random>

#include <gtest/gtest.h>

#include "tests/hear/listening_hear.h"
#include "tests/support/robot_test.h"
#include "tools/hear/decoder.h"
#include "tools/hear/templates.h"

namespace {

// A word as smooth cepstral tracks: shape picks the word, length its speed.
std::vector<hear::Cepstrum> word(int shape, int length, float offset = 0) {
    std::vector<hear::Cepstrum> frames(static_cast<std::size_t>(length));
    for (int t = 0; t < length; ++t)
        for (int i = 0; i < hear::kCepstra; ++i)
            frames[t][i] = offset + 10 * static_cast<float>(std::sin((shape + 1) * 3.0 * t / length + i * (shape + 2)));
    return frames;
}

hear::TemplateFeatures features(int shape, int length, float offset = 0) {
    return hear::withSlopes(hear::normalisedCepstra(word(shape, length, offset)));
}

TEST(HearTemplates, WarpingForgivesSpeedButNotADifferentWordAndGivingUpEarlyChangesNoDistanceWithinTheLimit) {
    const hear::TemplateFeatures said = features(1, 40);
    EXPECT_DOUBLE_EQ(hear::warpedDistance(said, said), 0);
    EXPECT_LT(hear::warpedDistance(said, features(1, 60)) * 3, hear::warpedDistance(said, features(2, 40)));
    EXPECT_NEAR(hear::warpedDistance(said, features(1, 40, 25)), 0, 1e-4);  // a louder recording
    // Over twice as long cannot be the same word.
    EXPECT_TRUE(std::isinf(hear::warpedDistance(said, features(1, 81))) && std::isinf(hear::warpedDistance(said, {})));
    int givenUp = 0;
    for (int shape = 0; shape < 8; ++shape)
        for (int length : {25, 40, 70}) {
            const hear::TemplateFeatures other = features(shape, length);
            const double full = hear::warpedDistance(said, other), cut = hear::warpedDistance(said, other, full * 0.5);
            EXPECT_DOUBLE_EQ(hear::warpedDistance(said, other, full), full);
            EXPECT_DOUBLE_EQ(hear::warpedDistance(said, other, full * 1.5), full);
            EXPECT_TRUE(std::isinf(cut) || cut == full);
            givenUp += std::isinf(cut) && std::isfinite(full);
        }
    EXPECT_GT(givenUp, 0);  // the limit does save work
}

TEST(HearTemplates, TheNearestWordWinsASpeakerCanBeLeftOutAndTheThresholdLetsTheGivenShareOfUnknownWordsThrough) {
    hear::WordTemplates templates;
    EXPECT_EQ(templates.nearest(word(0, 30)).word, "");
    templates.add("KAS", "anna", word(0, 30));
    templates.add("KAS", "jonas", word(0, 45));
    templates.add("SVEIKAS", "anna", word(3, 50));
    templates.add("TU", "jonas", {});  // nothing spoken: no template
    EXPECT_EQ(templates.size(), 3u);
    EXPECT_EQ(templates.nearest(word(0, 33)).word + templates.nearest(word(3, 55)).word, "KASSVEIKAS");
    // Without anna's recordings, SVEIKAS has no template left.
    EXPECT_EQ(templates.nearest(word(3, 55), "anna").word + templates.nearest(word(0, 30), "anna").word, "KASKAS");
    EXPECT_GT(templates.nearest(word(0, 30), "anna").distance, templates.nearest(word(0, 30)).distance);

    for (const std::string name : {"WA", "WB", "WC"}) templates.add(name, "jonas", word(name[1] - 'A' + 5, 50));
    // Anna's unknown word equals one of her own templates: only jonas's count.
    std::vector<hear::UnknownWord> unknown = {{"anna", word(0, 30)}};
    EXPECT_DOUBLE_EQ(hear::unknownWordThreshold(templates, unknown, 0.05), templates.nearest(word(0, 30), "anna").distance);
    for (int shape = 8; shape < 28; ++shape) unknown.push_back({"petras", word(shape, 45)});
    std::vector<double> distances;
    for (const hear::UnknownWord& w : unknown) distances.push_back(templates.nearest(w.spoken, w.speaker).distance);
    std::sort(distances.begin(), distances.end());
    EXPECT_DOUBLE_EQ(hear::unknownWordThreshold(templates, unknown, 0.1), distances[2]);
    EXPECT_DOUBLE_EQ(hear::unknownWordThreshold(templates, {}, 0.1), 0);
}

TEST(HearTemplateFile, ReadsBackTheSameWordsAndThresholdAndRefusesDamagedFilesKeepingTheTemplates) {
    robotest::ScopedWorkDir dir;
    const std::string path = "robot.templates";
    std::string why;
    hear::WordTemplates templates, loaded;
    templates.add("KAS", "anna", word(0, 30));
    templates.add("SVEIKAS", "anna", word(3, 50));
    templates.setThreshold(4.5);
    ASSERT_TRUE(templates.save(path, why) && loaded.load(path, why)) << why;
    EXPECT_EQ(loaded.size(), 2u);
    EXPECT_DOUBLE_EQ(loaded.threshold(), 4.5);
    for (const auto& probe : {word(0, 36), word(3, 44), word(5, 40)}) {
        EXPECT_EQ(loaded.nearest(probe).word, templates.nearest(probe).word);
        EXPECT_NEAR(loaded.nearest(probe).distance, templates.nearest(probe).distance, 0.02 * templates.nearest(probe).distance);
    }
    const std::string good = robotest::readFile(path);
    const std::pair<const char*, const char*> damages[] = {
        {"templates 1\n", "templates 2\n"}, {"threshold 4.5", "threshold -1"}, {"threshold 4.5", "threshold nan"},
        {"scales ", "scales 0 "}, {"templates 2", "templates 3"} /* one missing */, {"templates 2", "templates 99999999999"},
        {"KAS 30", "kas 30"}, {"KAS 30", "KAS 0"}, {"KAS 30", "KAS 100000"}, {"KAS 30", "KAS 31"} /* into the next word */};
    std::vector<std::string> damaged = {"", good.substr(0, good.size() - 1), good + "x"};
    for (const auto& [from, to] : damages) {
        ASSERT_NE(good.find(from), std::string::npos) << from;
        damaged.push_back(std::string(good).replace(good.find(from), std::strlen(from), to));
    }
    for (const std::string& content : damaged) {  // false, and the templates left as they were
        std::ofstream(path, std::ios::binary) << content;
        EXPECT_FALSE(loaded.load(path, why)) << content.substr(0, 80);
        EXPECT_EQ(loaded.size(), 2u);
        EXPECT_EQ(loaded.nearest(word(3, 50)).word, "SVEIKAS");
    }
    EXPECT_NE(why.find("robot.templates"), std::string::npos) << why;
    std::ofstream(path, std::ios::binary) << good;
    EXPECT_TRUE(loaded.load(path, why) && !hear::WordTemplates().load("no-such-file", why));
}

struct Words : hear::UtteranceListener {
    void speechStarted() override {}
    void heard(const std::vector<std::string>& words) override { all.insert(all.end(), words.begin(), words.end()); }
    std::vector<std::string> all;
};

// The robot's own grammar and templates, fed utterances as the listening
// recogniser cuts them: the word with half a second of room around it, the
// room's noise snrDb below the voice.
std::vector<std::string> heard(hear::Decoder& decoder, const std::string& voice, const std::string& text, double snrDb) {
    hear::Samples sound = heartest::silence(0.5);
    const hear::Samples word = heartest::spoken(voice, text);
    sound.insert(sound.end(), word.begin(), word.end());
    sound.resize(sound.size() + 8000);
    double speech = 0;
    for (std::int16_t s : word) speech += double(s) * s;
    const double noise = std::sqrt(speech / std::max<std::size_t>(word.size(), 1) / std::pow(10.0, snrDb / 10));
    std::minstd_rand random(static_cast<unsigned>(text.size()));
    std::normal_distribution<double> room(0.0, noise);
    for (std::int16_t& s : sound) s = static_cast<std::int16_t>(std::clamp(s + room(random), -32768.0, 32767.0));
    Words words;
    decoder.process(sound.data(), static_cast<long>(sound.size()), words);
    decoder.finish(words);
    return words.all;
}

// A command word in a held-out voice with room noise is heard, a word outside
// the vocabulary is not; in noise as loud as the voice every utterance lies
// about as near to the templates as any other, so only a word the grammar and
// the templates agree on may get through.
TEST(HearRobotTemplates, CommandWordsAreHeardOtherWordsAreNotEvenInNoiseAsLoudAsTheVoice) {
    hear::DecoderOptions options;
    options.grammar = ROBOTAS_HEAR_GRAMMAR;
    std::string why;
    const std::unique_ptr<hear::Decoder> decoder = hear::Decoder::open(options, why);
    ASSERT_TRUE(decoder) << why;
    const std::vector<std::string> none;
    const struct {
        const char *voice, *text;
        std::vector<std::string> words;
        const char* lastMatch;
    } utterances[] = {{"lt+m3", "sveikas", {"SVEIKAS"}, "SVEIKAS"}, {"lt+m3", "pirmyn", {"PIRMYN"}, "PIRMYN"},
                      {"lt+f2", "kas", {"KAS"}, "KAS"}, {"lt+m3", "vakaras", none, nullptr}, {"lt+f2", "obuolys", none, ""}};
    for (const auto& u : utterances) {
        EXPECT_EQ(heard(*decoder, u.voice, u.text, 18), u.words) << u.text;
        EXPECT_EQ(u.lastMatch ? decoder->lastMatch().word : "", u.lastMatch ? u.lastMatch : "") << u.text;  // "": no template near enough
    }
    std::string accepted;
    for (const char* text : {"labas", "vanduo", "medis", "langas", "durys", "rytas", "saulė", "knyga"})
        for (const std::string& word : heard(*decoder, "lt+m3", text, 3)) accepted += std::string(text) + " as " + word + "; ";
    EXPECT_LE(std::count(accepted.begin(), accepted.end(), ';'), 1) << accepted;
}

}  // namespace
