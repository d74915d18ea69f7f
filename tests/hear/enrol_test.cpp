// A person's own voice, played by a synthetic voice the shared templates
// hear badly: after three takes of a few words are enrolled, another take of
// each is heard and a word outside the vocabulary still is not.

#include <gtest/gtest.h>

#include "tests/hear/hear_sound.h"
#include "tests/support/robot_test.h"
#include "tools/hear/decoder.h"
#include "tools/hear/enrol.h"

namespace {

constexpr char kVoice[] = "pl+m2";

// The voice a little faster or slower and higher or lower, as a person's takes differ.
hear::Samples take(const std::string& text, int rate) {
    return heartest::asCut(hear::resample(heartest::spoken(kVoice, text), rate, 16000));
}

std::vector<std::string> heard(hear::Decoder& decoder, const hear::Samples& sound) { return heartest::decoded(decoder, sound); }

TEST(HearEnrol, TheOwnVoiceIsPreferredOnceEnrolledAndOtherWordsStayRejected) {
    robotest::ScopedWorkDir dir;
    hear::DecoderOptions options;
    options.grammar = ROBOTAS_HEAR_GRAMMAR;
    std::string why;
    std::unique_ptr<hear::Decoder> shared = hear::Decoder::open(options, why);
    ASSERT_TRUE(shared) << why;
    EXPECT_FALSE(hear::enrol(".", {"KAS"}, *shared, nullptr, std::cout, why));  // no takes at all
    const std::vector<std::pair<std::string, std::string>> words = {
        {"SVEIKAS", "sveikas"}, {"PIRMYN", "pirmeen"}, {"STOK", "stok"}, {"KAIREEN", "kaireen"}};
    std::vector<std::string> enrolled;
    for (const auto& [word, text] : words) {
        enrolled.push_back(word);
        for (int n = 1; n <= hear::kEnrolTakes; ++n)
            ASSERT_TRUE(hear::writeWav(hear::enrolRecordingPath(".", word, n), take(text, 15400 + 400 * n), why));
    }
    ASSERT_TRUE(hear::enrol(".", enrolled, *shared, nullptr, std::cout, why)) << why;
    options.own = ".";
    std::unique_ptr<hear::Decoder> own = hear::Decoder::open(options, why);
    ASSERT_TRUE(own) << why;
    int heardBefore = 0;
    for (const auto& [word, text] : words) {
        EXPECT_EQ(heard(*own, take(text, 16300)), std::vector<std::string>{word}) << text;
        heardBefore += heard(*shared, take(text, 16300)) == std::vector<std::string>{word};
    }
    EXPECT_LT(heardBefore, static_cast<int>(words.size()));
    for (const char* other : {"stogas", "namai", "vakaras"}) EXPECT_TRUE(heard(*own, take(other, 16300)).empty()) << other;
}

}  // namespace
