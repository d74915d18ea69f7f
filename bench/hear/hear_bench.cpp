// Word-template matching, the recogniser's own hot path after decoding: the
// warping of one utterance against one template beside OpenCV's distance
// matrix of the same frames (the part of the warping OpenCV has), and one
// utterance against every template of the robot.

#include <benchmark/benchmark.h>

#include <opencv2/core.hpp>

#include <cmath>
#include <string>

#include "tools/hear/templates.h"

namespace {

// A spoken word's cepstra: smooth tracks, as long as a word of half a second.
std::vector<hear::Cepstrum> word(int shape, int frames) {
    std::vector<hear::Cepstrum> cepstra(static_cast<std::size_t>(frames));
    for (int t = 0; t < frames; ++t)
        for (int i = 0; i < hear::kCepstra; ++i)
            cepstra[t][i] = 10 * static_cast<float>(std::sin((shape + 1) * 3.0 * t / frames + i * (shape + 2)));
    return cepstra;
}

hear::TemplateFeatures features(int shape, int frames) {
    return hear::withSlopes(hear::normalisedCepstra(word(shape, frames)));
}

cv::Mat asMat(const hear::TemplateFeatures& frames) {
    cv::Mat mat(static_cast<int>(frames.size()), 2 * hear::kCepstra, CV_32F);
    for (int t = 0; t < mat.rows; ++t)
        for (int i = 0; i < mat.cols; ++i) mat.at<float>(t, i) = frames[t][i];
    return mat;
}

void BM_WarpRobot(benchmark::State& state) {
    const hear::TemplateFeatures a = features(1, 60);
    const hear::FrameColumns b = hear::byValue(features(2, 70));
    for (auto _ : state) benchmark::DoNotOptimize(hear::warpedDistance(a, b));
}
BENCHMARK(BM_WarpRobot)->Unit(benchmark::kMicrosecond);

void BM_FrameDistancesOpenCv(benchmark::State& state) {
    const cv::Mat a = asMat(features(1, 60)), b = asMat(features(2, 70));
    cv::Mat distances;
    for (auto _ : state) {
        cv::batchDistance(a, b, distances, CV_32F, cv::noArray(), cv::NORM_L2);
        benchmark::DoNotOptimize(distances.data);
    }
}
BENCHMARK(BM_FrameDistancesOpenCv)->Unit(benchmark::kMicrosecond);

void BM_UtteranceAgainstRobotTemplates(benchmark::State& state) {
    hear::WordTemplates templates;
    std::string why;
    if (!templates.load(std::string(ROBOTAS_HEAR_GRAMMAR) + "/robot.templates", why)) {
        state.SkipWithError(why.c_str());
        return;
    }
    const std::vector<hear::Cepstrum> utterance = word(3, 60);
    for (auto _ : state) benchmark::DoNotOptimize(templates.nearest(utterance).distance);
    state.counters["templates"] = static_cast<double>(templates.size());
}
BENCHMARK(BM_UtteranceAgainstRobotTemplates)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
