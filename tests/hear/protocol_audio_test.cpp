// The pieces of robotas-hear that need no sound card and no port: reading the
// robot's command stream, the messages it gets, and the sound formats taken.

#include <unistd.h>

#include <cmath>
#include <tuple>

#include <gtest/gtest.h>

#include "tests/hear/listening_hear.h"
#include "tools/hear/decoder.h"
#include "tools/hear/protocol.h"
#include "tools/hear/segmenter.h"

namespace {

using Lines = std::vector<std::string>;

TEST(HearCommandStream, CommandsSplitAcrossReadsComeOutWholeALineWithoutEndIsCutAndGrammarLinesAreNoCommands) {
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
    EXPECT_EQ(reader.grammarLines(), 3);
    EXPECT_EQ(hear::CommandReader::commandWord("ADDGRAM robot"), "ADDGRAM");
}

TEST(HearMessages, ResultWordLinesAreWhatTheRobotParsesGarbageWordsRejectTheUtteranceAndFillersAreSkipped) {
    std::string why;
    const std::string result = hear::resultMessage({"SVEIKAS"}, why);
    EXPECT_NE(result.find("\n    <WHYPO WORD=\"SVEIKAS\" "), std::string::npos);
    EXPECT_EQ(hear::message(result).substr(hear::message(result).size() - 3), "\n.\n");
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

TEST(HearWav, OtherRatesAndStereoBecomeSixteenKilohertzMonoWithoutFoldingHighSoundIn) {
    hear::Samples stereo, read;
    for (std::int16_t sample : tone(22050, 1.0)) stereo.insert(stereo.end(), {sample, sample});
    std::string why;
    ASSERT_TRUE(hear::parseWav(heartest::wavBytes(stereo, 22050, 2), read, why)) << why;
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
}

TEST(HearWav, FormatsThatAreNotSixteenBitPcmAreRefusedWithTheReason) {
    const std::string whole = heartest::wavBytes(tone(16000, 0.1), 16000, 1);
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
    hear::Samples read;
    std::string why;
    for (const auto& [wav, reason] : refused) {
        EXPECT_FALSE(hear::parseWav(wav, read, why)) << wav.substr(0, 8);
        EXPECT_NE(why.find(reason), std::string::npos) << why;
    }
    // A file cut short keeps the samples it has.
    ASSERT_TRUE(hear::parseWav(whole.substr(0, whole.size() - 1001), read, why)) << why;
    EXPECT_EQ(read.size(), 1600u - 501);
}

hear::Samples hiss(double seconds, int amplitude, unsigned seed) {
    hear::Samples samples(static_cast<std::size_t>(seconds * hear::kSampleRate));
    for (std::int16_t& sample : samples) {
        seed = seed * 1103515245u + 12345u;
        sample = static_cast<std::int16_t>(static_cast<int>((seed >> 16) % (2 * amplitude + 1)) - amplitude);
    }
    return samples;
}

// The lengths of the utterances the segmenter cuts out of the sound.
std::vector<std::size_t> utteranceLengths(const hear::Samples& samples) {
    hear::Segmenter segmenter;
    std::vector<std::size_t> lengths;
    for (std::size_t at = 0; at + hear::Segmenter::kFrameSamples <= samples.size(); at += hear::Segmenter::kFrameSamples)
        if (segmenter.take(&samples[at]) == hear::Segmenter::Step::Ended) lengths.push_back(segmenter.utterance().size());
    return lengths;
}

TEST(HearSegmenter, TwoWordsInARoomAreTwoUtterancesWithTheirEdgesKeptClicksAndASteadyRoomAreNone) {
    hear::Samples sound = hiss(1.0, 300, 1);
    for (unsigned word = 0; word < 2; ++word) {
        hear::Samples voice = tone(hear::kSampleRate, 0.3), pause = hiss(0.8, 300, 5 + word);
        const hear::Samples room = hiss(0.3, 300, 2 + word);
        for (std::size_t i = 0; i < voice.size(); ++i) voice[i] = static_cast<std::int16_t>(voice[i] + room[i]);
        sound.insert(sound.end(), voice.begin(), voice.end());
        sound.insert(sound.end(), pause.begin(), pause.end());
    }
    // 0.3 s of voice, up to 0.25 s before it and the 0.4 s pause that ended it.
    const std::vector<std::size_t> lengths = utteranceLengths(sound);
    ASSERT_EQ(lengths.size(), 2u);
    for (std::size_t length : lengths) EXPECT_TRUE(length >= 0.9 * hear::kSampleRate && length <= 0.96 * hear::kSampleRate) << length;

    sound = hiss(1.0, 300, 1);
    for (std::size_t at = 8000; at < sound.size(); at += 4000) sound[at] = 30000;  // single-sample clicks
    const hear::Samples louder = hiss(3.0, 3000, 9);  // the fan comes on and stays on
    sound.insert(sound.end(), louder.begin(), louder.end());
    EXPECT_LE(utteranceLengths(sound).size(), 1u);  // the step up may count once, never more
    EXPECT_TRUE(utteranceLengths(hear::Samples(3 * hear::kSampleRate)).empty());  // digital silence
}

TEST(HearPcm, SamplesSplitBetweenReadsAreJoined) {
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
}

}  // namespace
