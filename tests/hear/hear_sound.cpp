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

hear::Samples asCut(const hear::Samples& word) {
    hear::Samples sound = silence(0.5);
    sound.insert(sound.end(), word.begin(), word.end());
    sound.resize(sound.size() + hear::kSampleRate / 2);
    return sound;
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
