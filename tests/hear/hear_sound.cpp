#include "tests/hear/hear_sound.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "tests/support/robot_test.h"

namespace heartest {

hear::Samples spoken(const std::string& voice, const std::string& text) {
    const std::string scratch = (std::filesystem::temp_directory_path() / ("robotas-hear-test-" + std::to_string(getpid()))).string();
    const std::string wav = scratch + "-spoken.wav";
    const pid_t pid = robotest::spawnProgram("espeak-ng", {"-v", voice, "-w", wav, "--", text});
    if (pid > 0) waitpid(pid, nullptr, 0);
    hear::Samples samples;
    std::string why;
    hear::parseWav(robotest::readFile(wav), samples, why), std::remove(wav.c_str());
    return samples;
}

hear::Samples silence(double seconds) { return hear::Samples(static_cast<std::size_t>(seconds * hear::kSampleRate)); }

std::string wavBytes(const hear::Samples& samples, int rate, int channels) {
    std::string bytes;
    const auto put = [&bytes](unsigned value, int count) {
        for (int i = 0; i < count; ++i) bytes.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    };
    const unsigned data = static_cast<unsigned>(samples.size() * 2), frame = static_cast<unsigned>(channels * 2);
    bytes += "RIFF", put(36 + data, 4), bytes += "WAVEfmt ";
    for (unsigned field : {16u, 1u | unsigned(channels) << 16}) put(field, 4);  // header size, PCM, channels
    for (unsigned field : {unsigned(rate), rate * frame, 16u << 16 | frame}) put(field, 4);  // rates, frame, bits
    bytes += "data", put(data, 4);
    for (std::int16_t sample : samples) put(static_cast<std::uint16_t>(sample), 2);
    return bytes;
}

namespace {
struct Words : hear::UtteranceListener {
    void speechStarted() override {}
    void heard(const std::vector<std::string>& words) override { all.insert(all.end(), words.begin(), words.end()); }
    std::vector<std::string> all;
};
}  // namespace

std::vector<std::string> decoded(hear::Decoder& decoder, const hear::Samples& sound) {
    Words words;
    decoder.process(sound.data(), static_cast<long>(sound.size()), words);
    decoder.finish(words);
    return words.all;
}

}  // namespace heartest
