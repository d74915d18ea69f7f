// The pieces of robotas-hear that need no sound card and no port.

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <random>
#include <tuple>

#include <gtest/gtest.h>

#include <unistd.h>

#include "tests/hear/hear_sound.h"
#include "tests/support/robot_test.h"
#include "tools/hear/audio.h"
#include "tools/hear/decoder.h"
#include "tools/hear/denoise.h"
#include "tools/hear/protocol.h"
#include "tools/hear/segmenter.h"
#include "tools/hear/templates.h"
#include "tools/hear/transform.h"

namespace {

using Lines = std::vector<std::string>;

TEST(HearCommandStream, CommandsSplitAcrossReadsComeOutWholeGrammarLinesAreNoCommandsAndGarbageWordsNoResult) {
    hear::LineSplitter splitter;
    const std::string flood(3 * hear::LineSplitter::kMaxCommandLine, 'x'), cut = flood.substr(0, flood.size() / 3);
    const std::pair<std::string, Lines> reads[] = {{"PAU", {}}, {"SE\r", {}}, {"\nRESUME\nSTAT", {"PAUSE", "RESUME"}},
                                                   {"US\r\n", {"STATUS"}}, {flood, {cut, cut, cut}}};
    for (const auto& [taken, lines] : reads) {
        splitter.take(taken.data(), taken.size());
        Lines got;
        for (std::string line; splitter.next(line);) got.push_back(line);
        EXPECT_EQ(got, lines) << taken.substr(0, 20);
    }
    using K = hear::LineKind;
    hear::CommandReader reader;
    const std::pair<const char*, K> lines[] = {
        {"DEACTIVATEGRAM", K::Command}, {"PAUSE", K::Argument} /* an id list that reads PAUSE */, {"ADDGRAM robot", K::Command},
        {"0 1 2 0", K::GrammarLine}, {"DIE", K::GrammarLine}, {"DFAEND", K::GrammarLine},
        {"0 [SVEIKAS] s v e i k a s", K::GrammarLine}, {"DICEND", K::GrammarEnd}, {"RESUME", K::Command}};
    for (const auto& [line, kind] : lines) EXPECT_EQ(reader.classify(line), kind) << line;
    EXPECT_TRUE(reader.grammarLines() == 3 && hear::CommandReader::commandWord("ADDGRAM robot") == "ADDGRAM");
    // Garbage words reject the utterance; fillers are skipped.
    std::string why;
    EXPECT_TRUE(hear::resultMessage({"BAD\"WORD"}, why).empty());
    EXPECT_TRUE(hear::resultMessage({std::string(300, 'A')}, why).empty());
    EXPECT_NE(why.find("too long"), std::string::npos);
    EXPECT_EQ(hear::Decoder::commandWords("<sil> KAS [NOISE]"), Lines{"KAS"});
    EXPECT_TRUE(hear::Decoder::commandWords("ph_k ph_aa KAS").empty() && hear::Decoder::commandWords(nullptr).empty());
}

hear::Samples tone(int rate, double seconds, double hertz = 440) {
    hear::Samples samples(static_cast<std::size_t>(rate * seconds));
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<std::int16_t>(8000 * std::sin(2 * M_PI * hertz * static_cast<double>(i) / rate));
    return samples;
}

TEST(HearInput, PcmSplitBetweenReadsIsJoinedWavBecomesSixteenKilohertzMonoOrIsRefused) {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    std::unique_ptr<hear::AudioSource> source = hear::pcmSource(ends[0]);
    std::int16_t samples[8] = {};
    ASSERT_EQ(write(ends[1], "\x01\x02\x03", 3), 3);
    EXPECT_EQ(source->read(samples, 8), 1);
    EXPECT_EQ(samples[0], 0x0201);
    ASSERT_EQ(write(ends[1], "\x04\xFF\xFF", 3), 3);
    close(ends[1]);
    EXPECT_EQ(source->read(samples, 8), 2);
    EXPECT_EQ(samples[0] * 10 + samples[1], 0x0403 * 10 - 1);
    EXPECT_EQ(source->read(samples, 8), 0);
    close(ends[0]);
    hear::Samples stereo, read;
    for (std::int16_t sample : tone(22050, 1.0)) stereo.insert(stereo.end(), {sample, sample});
    std::string why;
    ASSERT_TRUE(hear::parseWav(hear::wavBytes(stereo, 22050, 2), read, why)) << why;
    EXPECT_NEAR(static_cast<double>(read.size()), 16000, 2);
    // The 440 Hz tone survives: a sample a quarter period on is its quadrature.
    EXPECT_NEAR(std::hypot(read[4000], read[4000 + std::lround(16000.0 / 440 / 4)]), 8000, 800);
    // 9 kHz at 22 050 Hz would fold to 7 kHz, inside the band the recogniser
    // hears; 6 kHz is below 8 kHz and must pass whole; going up adds nothing.
    for (const auto& [rate, hertz, kept] : {std::tuple{22050, 9000, 0.0}, {22050, 6000, 1.0}, {8000, 3000, 1.0}}) {
        const hear::Samples resampled = hear::resample(tone(rate, 0.5, hertz), rate, 16000);
        double sum = 0;
        for (std::size_t i = 1000; i < 7000; ++i) sum += static_cast<double>(resampled[i]) * resampled[i];
        EXPECT_NEAR(std::sqrt(sum / 6000) / (8000 / std::sqrt(2.0)), kept, kept > 0 ? 0.05 : 0.01) << hertz << " Hz";
    }
    // Formats that are not 16-bit PCM are refused with the reason.
    const std::string whole = hear::wavBytes(tone(16000, 0.1), 16000, 1);
    const auto changed = [&](std::vector<std::pair<int, char>> bytes) {
        std::string wav = whole;
        for (auto [at, value] : bytes) wav[at] = value;
        return wav;
    };
    const std::pair<std::string, std::string> refused[] = {
        {changed({{34, 8}}), "16-bit PCM"},  // bits per sample
        {changed({{20, 3}, {34, 32}}), ""},  // IEEE float
        {std::string("RIFF\x10\0\0\0WAVEjunk", 16), ""},
        {"not a wav at all", "not a WAV"},
        {changed({{24, 0}, {25, 0}, {26, 0}, {27, 0}}), ""}};  // no rate
    for (const auto& [wav, reason] : refused) {
        EXPECT_TRUE(!hear::parseWav(wav, read, why) && why.find(reason) != std::string::npos) << why;
    }
    // A file cut short keeps the samples it has.
    EXPECT_TRUE(hear::parseWav(whole.substr(0, whole.size() - 1001), read, why) && read.size() == 1600u - 501) << why;
}

hear::Samples hiss(double seconds, int amplitude, unsigned seed) {
    hear::Samples samples(static_cast<std::size_t>(seconds * hear::kSampleRate));
    for (std::int16_t& sample : samples) {
        seed = seed * 1103515245u + 12345u;
        sample = static_cast<std::int16_t>(static_cast<int>((seed >> 16) % (2 * amplitude + 1)) - amplitude);
    }
    return samples;
}

// Where the segmenter paused and ended utterances, and how long they were then.
struct Cuts {
    std::vector<int> pausedAt, endedAt;
    std::vector<std::size_t> pausedLengths, endedLengths;
    bool pauseStoodInFor = true;  // the pause heard is repeated for the rest of it
    bool endedByPauses = true;
};

Cuts cutsOf(const hear::Samples& samples) {
    hear::Segmenter segmenter;
    Cuts cuts;
    constexpr std::size_t kRest = (hear::Segmenter::kFramesToEnd - hear::Segmenter::kFramesToPause) * hear::Segmenter::kFrameSamples;
    for (std::size_t at = 0; at + hear::Segmenter::kFrameSamples <= samples.size(); at += hear::Segmenter::kFrameSamples) {
        const int frame = static_cast<int>(at / hear::Segmenter::kFrameSamples);
        switch (segmenter.take(&samples[at])) {
            case hear::Segmenter::Step::Paused: {
                const hear::Samples paused = segmenter.pausedUtterance();
                cuts.pausedAt.push_back(frame), cuts.pausedLengths.push_back(paused.size());
                cuts.pauseStoodInFor &= paused.size() >= 2 * kRest &&
                                        std::equal(paused.end() - kRest, paused.end(), paused.end() - 2 * kRest);
                break;
            }
            case hear::Segmenter::Step::Ended:
                cuts.endedAt.push_back(frame), cuts.endedLengths.push_back(segmenter.utterance().size());
                cuts.endedByPauses &= segmenter.endedByPause();
                break;
            default: break;
        }
    }
    return cuts;
}

// Halfway through the pause after a word its decoding may start, on the
// utterance as long as it will be; a voice coming back before the pause is
// over makes the same utterance go on.
TEST(HearSegmenter, HalfwayThroughThePauseTheUtteranceIsReadyAVoiceComingBackGoesOnWithIt) {
    hear::Samples sound = hiss(1.0, 300, 1);
    for (double pause : {0.2, 0.8}) {
        hear::Samples voice = tone(hear::kSampleRate, 0.3);
        const hear::Samples room = hiss(0.3, 300, 2), quiet = hiss(pause, 300, 3);
        for (std::size_t i = 0; i < voice.size(); ++i) voice[i] = static_cast<std::int16_t>(voice[i] + room[i]);
        sound.insert(sound.end(), voice.begin(), voice.end()), sound.insert(sound.end(), quiet.begin(), quiet.end());
    }
    const Cuts cuts = cutsOf(sound);
    ASSERT_EQ(cuts.pausedAt.size(), 2u);
    ASSERT_EQ(cuts.endedAt.size(), 1u);
    EXPECT_EQ(cuts.endedAt[0] - cuts.pausedAt[1], hear::Segmenter::kFramesToEnd - hear::Segmenter::kFramesToPause);
    EXPECT_EQ(cuts.pausedLengths[1], cuts.endedLengths[0]);
    EXPECT_TRUE(cuts.pauseStoodInFor && cuts.endedByPauses);
}

TEST(HearSegmenter, TwoWordsInARoomAreTwoUtterancesWithTheirEdgesKeptClicksAndASteadyRoomAreNone) {
    hear::Samples sound = hiss(1.0, 300, 1);
    for (unsigned word = 0; word < 2; ++word) {
        hear::Samples voice = tone(hear::kSampleRate, 0.3), pause = hiss(0.8, 300, 5 + word);
        const hear::Samples room = hiss(0.3, 300, 2 + word);
        for (std::size_t i = 0; i < voice.size(); ++i) voice[i] = static_cast<std::int16_t>(voice[i] + room[i]);
        sound.insert(sound.end(), voice.begin(), voice.end()), sound.insert(sound.end(), pause.begin(), pause.end());
    }
    // 0.3 s of voice, up to 0.25 s before it and the 0.3 s pause that ended it.
    const std::vector<std::size_t> lengths = cutsOf(sound).endedLengths;
    ASSERT_EQ(lengths.size(), 2u);
    for (std::size_t length : lengths) EXPECT_TRUE(length >= 0.8 * hear::kSampleRate && length <= 0.86 * hear::kSampleRate) << length;

    sound = hiss(1.0, 300, 1);
    for (std::size_t at = 8000; at < sound.size(); at += 4000) sound[at] = 30000;  // single-sample clicks
    const hear::Samples louder = hiss(3.0, 3000, 9);  // the fan comes on and stays on
    sound.insert(sound.end(), louder.begin(), louder.end());
    EXPECT_LE(cutsOf(sound).endedLengths.size(), 1u);  // the step up may count once, never more
    EXPECT_TRUE(cutsOf(hear::Samples(3 * hear::kSampleRate)).endedLengths.empty());  // digital silence
}

double meanSquare(const hear::Samples& a, std::size_t from, std::size_t to, const hear::Samples* less = nullptr) {
    double sum = 0;
    for (std::size_t i = from; i < to; ++i) sum += std::pow(a[i] - (less ? (*less)[i] : 0), 2);
    return sum / static_cast<double>(to - from);
}

TEST(HearDenoise, SteadyHissIsTakenOutAVoiceInItStaysAndARecordingWithSilenceIsUntouched) {
    constexpr std::size_t kSecond = hear::kSampleRate;
    hear::Samples voice(kSecond / 2);  // a tone, 0.4 s into 1.2 s of hiss
    const hear::Samples note = tone(hear::kSampleRate, 0.4, 1000);
    voice.insert(voice.end(), note.begin(), note.end());
    voice.resize(voice.size() + kSecond / 2);
    const hear::Samples room = hiss(1.4, 2000, 3);
    hear::Samples sound(voice.size());
    for (std::size_t i = 0; i < sound.size(); ++i) sound[i] = static_cast<std::int16_t>(voice[i] + room[i]);

    const hear::Samples cleaned = hear::withoutSteadyNoise(sound);
    ASSERT_EQ(cleaned.size(), sound.size());
    const std::size_t noteFrom = kSecond / 2 + kSecond / 20, noteTo = kSecond * 9 / 10 - kSecond / 20;
    EXPECT_LT(meanSquare(cleaned, 0, kSecond * 4 / 10), meanSquare(room, 0, kSecond * 4 / 10) / 30);  // 15 dB down
    EXPECT_LT(meanSquare(cleaned, noteFrom, noteTo, &voice), meanSquare(room, noteFrom, noteTo) / 10);
    EXPECT_EQ(hear::withoutSteadyNoise(voice), voice);  // the tone in digital silence
}

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

TEST(HearTemplates, WarpingForgivesSpeedButNotADifferentWordAndTheNearestWordWins) {
    const hear::TemplateFeatures said = features(1, 40);
    EXPECT_DOUBLE_EQ(hear::warpedDistance(said, said), 0);
    EXPECT_LT(hear::warpedDistance(said, features(1, 60)) * 3, hear::warpedDistance(said, features(2, 40)));
    EXPECT_NEAR(hear::warpedDistance(said, features(1, 40, 25)), 0, 1e-4);  // a louder recording
    // Over twice as long cannot be the same word.
    EXPECT_TRUE(std::isinf(hear::warpedDistance(said, features(1, 81))) && std::isinf(hear::warpedDistance(said, hear::TemplateFeatures{})));
    int givenUp = 0;
    for (int shape = 0; shape < 8; ++shape)
        for (int length : {25, 40, 70}) {
            const hear::TemplateFeatures other = features(shape, length);
            const double full = hear::warpedDistance(said, other), cut = hear::warpedDistance(said, other, full * 0.5);
            for (const double limit : {full, full * 1.5}) EXPECT_EQ(hear::warpedDistance(said, other, limit), full);
            EXPECT_TRUE(std::isinf(cut) || cut == full);
            givenUp += std::isinf(cut) && std::isfinite(full);
        }
    EXPECT_GT(givenUp, 0);  // the limit does save work

    // The nearest word wins, a speaker can be left out, and the threshold lets the
    // given share of unknown words through.
    hear::WordTemplates templates;
    EXPECT_EQ(templates.nearest(word(0, 30)).word, "");
    templates.add("KAS", "anna", word(0, 30)), templates.add("KAS", "jonas", word(0, 45));
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
    // Measured at share 0, other words come to a template as near as the nearest of
    // them: none lies nearer its best word than that, a copy of a template well nearer.
    EXPECT_EQ(templates.nearest(word(0, 33)).againstOtherWords, 0);  // not measured yet
    templates.measureOtherWords(unknown, 0);
    for (const hear::UnknownWord& w : unknown) EXPECT_GE(templates.nearest(w.spoken, w.speaker).againstOtherWords, 1 - 1e-6);
    EXPECT_LT(templates.nearest(word(0, 30)).againstOtherWords, 0.1);

    // Recordings of other words are never a word heard, only how near one lies,
    // and they survive the file.
    const hear::WordTemplates::Match before = templates.nearest(word(9, 45));
    EXPECT_FALSE(templates.otherWordWithin(word(9, 45), 100));  // none kept yet
    templates.addOtherWords({{"petras", word(9, 45)}, {"petras", word(0, 30)}});
    templates.setThreshold(4.5);
    robotest::ScopedWorkDir dir;
    std::string why;
    hear::WordTemplates loaded;
    ASSERT_TRUE(templates.save("with-others.templates", why) && loaded.load("with-others.templates", why)) << why;
    for (const hear::WordTemplates* kept : {&templates, &loaded}) {
        const hear::WordTemplates::Match after = kept->nearest(word(9, 45));
        EXPECT_TRUE(after.word == before.word && std::fabs(after.distance - before.distance) < 0.02 * before.distance);
        EXPECT_TRUE(kept->otherWordWithin(word(9, 45), 0.05));
        // Farther than the nearest other word: within, and not within 0.9 of it.
        const double other = std::min(hear::warpedDistance(features(3, 50), features(9, 45)),
                                      hear::warpedDistance(features(3, 50), features(0, 30)));
        EXPECT_TRUE(kept->otherWordWithin(word(3, 50), 1.05 * other) && !kept->otherWordWithin(word(3, 50), 0.9 * other));
    }
}

// A word said by a voice: the word's tracks in the lower cepstra, the voice's
// own (larger, and moving of its own accord) in the upper ones.
std::vector<hear::Cepstrum> voiced(int shape, int length, int voice) {
    std::vector<hear::Cepstrum> frames = word(shape, length);
    for (int t = 0; t < length; ++t)
        for (int i = 9; i < hear::kCepstra; ++i)
            frames[t][i] = 25 * static_cast<float>(std::sin(voice * 1.7 + t * 0.2 * (voice % 3 + 1) + i));
    return frames;
}

constexpr double kInfinity = std::numeric_limits<double>::infinity();

// A word said with a tremor: every frame off its track at random.
std::vector<hear::Cepstrum> unsteady(int shape, int length, std::mt19937& random) {
    std::vector<hear::Cepstrum> frames = word(shape, length);
    std::normal_distribution<float> tremor(0, 4);
    for (hear::Cepstrum& frame : frames)
        for (float& value : frame) value += tremor(random);
    return frames;
}

TEST(HearTemplates, TheQuickFirstComparisonFindsWhatComparingEveryTemplateFinds) {
    std::mt19937 random(11);
    hear::WordTemplates templates;
    std::vector<std::tuple<std::string, std::string, hear::TemplateFeatures>> recordings;
    for (int shape = 0; shape < 6; ++shape)
        for (int voice = 0; voice < 8; ++voice) {
            const std::string name(1, static_cast<char>('A' + shape)), speaker = "voice" + std::to_string(voice);
            const std::vector<hear::Cepstrum> said = unsteady(shape, 30 + 4 * voice, random);
            templates.add(name, speaker, said);
            recordings.emplace_back(name, speaker, hear::withSlopes(hear::normalisedCepstra(said)));
        }
    std::vector<hear::UnknownWord> others;
    for (int shape = 6; shape < 9; ++shape) others.push_back({"voice0", unsteady(shape, 45, random)});
    templates.addOtherWords(others);
    // Every command word and some others, said by new voices, with and
    // without a speaker's templates, everywhere and within a limit.
    for (int shape = 0; shape < 9; ++shape)
        for (const int length : {34, 52}) {
            const std::vector<hear::Cepstrum> said = unsteady(shape, length, random);
            const hear::TemplateFeatures features = hear::withSlopes(hear::normalisedCepstra(said));
            for (const std::string apartFrom : {"", "voice3"}) {
                hear::WordTemplates::Match every{"", kInfinity, kInfinity};
                for (const auto& [name, speaker, frames] : recordings) {
                    if (speaker == apartFrom) continue;
                    const double d = hear::warpedDistance(features, frames);
                    if (name == every.word) every.distance = std::min(every.distance, d);
                    else if (d < every.distance) every = {name, d, every.distance};
                    else every.runnerUp = std::min(every.runnerUp, d);
                }
                const hear::WordTemplates::Match quick = templates.nearest(said, apartFrom);
                EXPECT_TRUE(quick.word == every.word && quick.distance == every.distance && quick.runnerUp == every.runnerUp)
                    << shape << ' ' << length << ": " << quick.word << ' ' << quick.distance << ' ' << quick.runnerUp
                    << " against " << every.word << ' ' << every.distance << ' ' << every.runnerUp;
                const double within = every.distance * 1.02;
                const hear::WordTemplates::Match limited = templates.nearest(said, apartFrom, within);
                EXPECT_TRUE(limited.word == every.word && limited.distance == every.distance &&
                            limited.runnerUp == std::min(every.runnerUp, within));
                EXPECT_EQ(templates.nearest(said, apartFrom, every.distance * 0.98).word, "");
            }
            double nearestOther = kInfinity;
            for (const hear::UnknownWord& other : others)
                nearestOther = std::min(nearestOther, hear::warpedDistance(features, hear::withSlopes(hear::normalisedCepstra(other.spoken))));
            EXPECT_TRUE(templates.otherWordWithin(said, nearestOther * 1.01) && !templates.otherWordWithin(said, nearestOther * 0.99));
        }
}

TEST(HearTemplates, TheLearnedTransformHearsTheWordThroughAVoiceAndSurvivesTheFile) {
    std::vector<double> matrix(hear::kCepstra * hear::kCepstra), values, vectors;
    std::mt19937 random(3);
    std::normal_distribution<double> normal;
    for (int i = 0; i < hear::kCepstra; ++i)
        for (int j = i; j < hear::kCepstra; ++j) matrix[i * hear::kCepstra + j] = matrix[j * hear::kCepstra + i] = normal(random);
    hear::symmetricEigen(matrix, hear::kCepstra, values, vectors);
    for (int k = 0; k < hear::kCepstra; ++k)
        for (int i = 0; i < hear::kCepstra; ++i) {
            double product = 0;
            for (int j = 0; j < hear::kCepstra; ++j) product += matrix[i * hear::kCepstra + j] * vectors[k * hear::kCepstra + j];
            EXPECT_NEAR(product, values[k] * vectors[k * hear::kCepstra + i], 1e-9);
        }

    hear::WordTemplates plain, learned;
    const std::pair<const char*, int> words[] = {{"KAS", 0}, {"SVEIKAS", 3}, {"TU", 5}};
    for (int voice = 0; voice < 6; ++voice)
        for (const auto& [name, shape] : words)
            for (hear::WordTemplates* templates : {&plain, &learned})
                templates->add(name, "voice" + std::to_string(voice), voiced(shape, 35 + 3 * voice, voice));
    learned.learnTransform();
    learned.setThreshold(1);
    robotest::ScopedWorkDir dir;
    std::string why;
    hear::WordTemplates loaded;
    ASSERT_TRUE(learned.save("learned.templates", why) && loaded.load("learned.templates", why)) << why;
    // New voices: through the map the word lies clearly nearer its own
    // templates than the next word's, far more so than without it.
    double plainMargin = 0, learnedMargin = 0;
    for (int voice = 7; voice < 10; ++voice)
        for (const auto& [name, shape] : words) {
            const std::vector<hear::Cepstrum> said = voiced(shape, 42, voice);
            const hear::WordTemplates::Match heard = learned.nearest(said), kept = loaded.nearest(said);
            EXPECT_EQ(heard.word, name);
            // The file keeps a byte a value: about as far off as any word's distance.
            EXPECT_TRUE(kept.word == name && std::fabs(kept.distance - heard.distance) < 0.01 * heard.runnerUp);
            learnedMargin += heard.distance / heard.runnerUp;
            const hear::WordTemplates::Match unmapped = plain.nearest(said);
            plainMargin += unmapped.distance / unmapped.runnerUp;
        }
    EXPECT_LT(learnedMargin * 2, plainMargin);
}

TEST(HearTemplateFile, ReadsBackTheSameWordsAndThresholdAndRefusesDamagedFilesKeepingTheTemplates) {
    robotest::ScopedWorkDir dir;
    const std::string path = "robot.templates";
    std::string why;
    hear::WordTemplates templates, loaded;
    templates.add("KAS", "anna", word(0, 30)), templates.add("SVEIKAS", "anna", word(3, 50));
    templates.setThreshold(4.5);
    templates.measureOtherWords({{"petras", word(5, 40)}, {"petras", word(6, 40)}}, 0);
    ASSERT_TRUE(templates.save(path, why) && loaded.load(path, why)) << why;
    EXPECT_TRUE(loaded.size() == 2u && loaded.threshold() == 4.5);
    const std::string good = robotest::readFile(path);
    // Files of before (an enrolment) have no transform, and in the first
    // version no distances of other words.
    std::string first = std::string(good).replace(good.find("templates 3\nthreshold"), 11, "templates 1");
    const std::size_t transform = first.find("transform");
    first.erase(transform, first.find('\n', transform) + 1 - transform);
    for (const char* name : {"\nKAS ", "SVEIKAS "}) {  // the blank before the distance, to the line's end
        const std::size_t at = first.find(' ', first.find(name) + std::strlen(name));
        first.erase(at, first.find('\n', at) - at);
    }
    hear::WordTemplates firstVersion;
    std::ofstream("first.templates", std::ios::binary) << first;
    ASSERT_TRUE(firstVersion.load("first.templates", why)) << why;
    for (const auto& probe : {word(0, 36), word(3, 44), word(5, 40)}) {
        EXPECT_EQ(loaded.nearest(probe).word, templates.nearest(probe).word);
        EXPECT_NEAR(loaded.nearest(probe).distance, templates.nearest(probe).distance, 0.02 * templates.nearest(probe).distance);
        EXPECT_NEAR(loaded.nearest(probe).againstOtherWords, templates.nearest(probe).againstOtherWords,
                    0.02 * templates.nearest(probe).againstOtherWords);
        EXPECT_TRUE(firstVersion.nearest(probe).distance == loaded.nearest(probe).distance && firstVersion.nearest(probe).againstOtherWords == 0);
    }
    const std::pair<const char*, const char*> damages[] = {
        {"templates 3\nthreshold", "templates 4\nthreshold"}, {"transform 1", "transform nan"}, {"threshold 4.5", "threshold -1"}, {"threshold 4.5", "threshold nan"},
        {"scales ", "scales 0 "}, {"\ntemplates 2", "\ntemplates 3"} /* one missing */, {"\ntemplates 2", "\ntemplates 99999999999"},
        {"KAS 30", "kas 30"}, {"KAS 30", "KAS 0"}, {"KAS 30", "KAS 100000"}, {"KAS 30", "KAS 31"} /* into the next word */,
        {"KAS 30 ", "KAS 30 -"}};
    std::vector<std::string> damaged = {"", good.substr(0, good.size() - 1), good + "x"};
    std::string overflowing = "scales";  // 127 times such a scale is no float
    for (int i = 0; i < hear::kCepstra; ++i) overflowing += " 3e38";
    const std::size_t scales = good.find("scales");
    damaged.push_back(std::string(good).replace(scales, good.find('\n', scales) - scales, overflowing));
    for (const auto& [from, to] : damages) {
        ASSERT_NE(good.find(from), std::string::npos) << from;
        damaged.push_back(std::string(good).replace(good.find(from), std::strlen(from), to));
    }
    for (const std::string& content : damaged) {  // false, and the templates left as they were
        std::ofstream(path, std::ios::binary) << content;
        const bool refused = !loaded.load(path, why);
        EXPECT_TRUE(refused && loaded.size() == 2u && loaded.nearest(word(3, 50)).word == "SVEIKAS") << content.size();
    }
    EXPECT_NE(why.find("robot.templates"), std::string::npos) << why;
    std::ofstream(path, std::ios::binary) << good;
    EXPECT_TRUE(loaded.load(path, why) && !hear::WordTemplates().load("no-such-file", why));
}

// The robot's own grammar and templates, fed utterances as the listening
// recogniser cuts them: the word with half a second of room around it, the
// room's noise snrDb below the voice.
std::vector<std::string> heard(hear::Decoder& decoder, const std::string& voice, const std::string& text, double snrDb) {
    const hear::Samples word = heartest::spoken(voice, text);
    hear::Samples sound = heartest::asCut(word);
    const double speech = std::inner_product(word.begin(), word.end(), word.begin(), 0.0);
    const double noise = std::sqrt(speech / std::max<std::size_t>(word.size(), 1) / std::pow(10.0, snrDb / 10));
    std::minstd_rand random(static_cast<unsigned>(text.size()));
    std::normal_distribution<double> room(0.0, noise);
    for (std::int16_t& s : sound) s = static_cast<std::int16_t>(std::clamp(s + room(random), -32768.0, 32767.0));
    return heartest::decoded(decoder, sound);
}

// In noise as loud as the voice every utterance lies about as near to the templates
// as any other: only a word the grammar and the templates agree on may get through.
TEST(HearRobotTemplates, CommandWordsAreHeardOtherWordsAreNotEvenInNoiseAsLoudAsTheVoice) {
    hear::DecoderOptions options;
    options.grammar = ROBOTAS_HEAR_GRAMMAR;
    std::string why;
    const std::unique_ptr<hear::Decoder> decoder = hear::Decoder::open(options, why);
    ASSERT_TRUE(decoder) << why;
    const std::vector<std::string> none;
    const struct { const char *voice, *text; std::vector<std::string> words; const char* lastMatch; } utterances[] = {
        {"lt+m3", "sveikas", {"SVEIKAS"}, "SVEIKAS"}, {"lt+m3", "pirmyn", {"PIRMYN"}, "PIRMYN"},
        {"lt+f2", "kas", {"KAS"}, "KAS"}, {"lt+m3", "vakaras", none, nullptr}, {"lt+f2", "obuolys", none, ""}};
    for (const auto& u : utterances) {
        EXPECT_EQ(heard(*decoder, u.voice, u.text, 18), u.words) << u.text;
        EXPECT_EQ(u.lastMatch ? decoder->lastMatch().word : "", u.lastMatch ? u.lastMatch : "") << u.text;  // "": no template near enough
    }
    // A pause shorter than the one that ends an utterance does not end it,
    // though its decoding had started.
    hear::Samples twoWords = heartest::silence(0.5);
    const hear::Samples first = heartest::spoken("lt+m3", "sveikas"), second = heartest::spoken("lt+m3", "pirmyn");
    twoWords.insert(twoWords.end(), first.begin(), first.end());
    while (std::abs(twoWords.back()) < 300) twoWords.pop_back();  // the voice's own pause
    twoWords.resize(twoWords.size() + hear::kSampleRate / 5), twoWords.insert(twoWords.end(), second.begin(), second.end());
    twoWords.resize(twoWords.size() + hear::kSampleRate / 2);
    const std::vector<std::string> both = heartest::decoded(*decoder, twoWords);
    EXPECT_TRUE(both.size() <= 1 && both != std::vector<std::string>{"SVEIKAS"}) << both.size();
    // The same sound is heard the same after a word in loud noise.
    const std::vector<std::string> before = heard(*decoder, "lt+f2", "kas", 18);
    const double distance = decoder->lastMatch().distance;
    heard(*decoder, "lt+m3", "medis", 0);
    EXPECT_EQ(heard(*decoder, "lt+f2", "kas", 18), before);
    EXPECT_EQ(decoder->lastMatch().distance, distance);
    std::string accepted;
    for (const char* text : {"labas", "vanduo", "medis", "langas", "durys", "rytas", "saulė", "knyga"})
        for (const std::string& word : heard(*decoder, "lt+m3", text, 3)) accepted += std::string(text) + " as " + word + "; ";
    EXPECT_LE(std::count(accepted.begin(), accepted.end(), ';'), 1) << accepted;
}

// However near a word lies to a command word's template, it is not taken when
// a recording of a word outside the vocabulary lies clearly nearer still (the
// threshold here lets every word through on distance alone).
TEST(HearRobotTemplates, AWordLyingClearlyNearerAnOtherWordsRecordingIsNotTaken) {
    robotest::ScopedWorkDir dir;
    hear::DecoderOptions options;
    options.grammar = ROBOTAS_HEAR_GRAMMAR;
    options.useTemplates = false;
    std::string why;
    const std::unique_ptr<hear::Decoder> maker = hear::Decoder::open(options, why);
    ASSERT_TRUE(maker) << why;
    const auto said = [](const char* text, int rate) {
        return heartest::asCut(hear::resample(heartest::spoken("lt+m3", text), rate, 16000));
    };
    hear::WordTemplates templates;
    templates.add("SVEIKAS", "a", maker->spokenCepstra(said("sveikas", 15000)));
    templates.setThreshold(100);
    templates.addOtherWords({{"b", maker->spokenCepstra(said("sveikata", 15000))}});
    for (const char* file : {"robot.dict", "robot.gram", "robot.conf"})
        std::filesystem::copy_file(std::string(ROBOTAS_HEAR_GRAMMAR) + "/" + file, file);
    ASSERT_TRUE(templates.save("robot.templates", why)) << why;
    options = {};
    options.grammar = ".";
    const std::unique_ptr<hear::Decoder> decoder = hear::Decoder::open(options, why);
    ASSERT_TRUE(decoder) << why;
    EXPECT_EQ(heartest::decoded(*decoder, said("sveikas", 16500)), std::vector<std::string>{"SVEIKAS"});
    EXPECT_EQ(heartest::decoded(*decoder, said("sveikata", 16500)), std::vector<std::string>{});
    EXPECT_EQ(decoder->lastMatch().word, "");
}

}  // namespace
