// Graph-cut stereo beside OpenCV's semi-global and block matchers on the
// Middlebury Aloe pair at the robot's frame size, 320 x 240 (disparities
// 0..53 there). Counters: bad = error above 1 pixel among the pixels with a
// known truth and an estimate; coverage = estimated share of the known
// pixels; badOrMissing = bad or without estimate, over all known pixels.

#include <benchmark/benchmark.h>

#include <opencv2/calib3d.hpp>
#include <opencv2/imgcodecs.hpp>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "stereo/stereo.h"

namespace {

constexpr int kWidth = 320;

struct AloePair {
    cv::Mat left, right;
    cv::Mat truth;  // CV_32F, pixels at 320 x 240, 0 = unknown
};

std::string testData() {
    const char* root = std::getenv("ROBOTAS_TESTDATA");
    return root && *root ? root : ROBOTAS_TESTDATA;
}

// The pair as tests/data keeps it: already grey and at 320 x 240, the truth
// still in pixels of the full-size pictures (1282 wide).
const AloePair& aloe() {
    static const AloePair pair = [] {
        const std::string folder = testData() + "/stereo/";
        AloePair p;
        p.left = cv::imread(folder + "aloeL_320x240.png", cv::IMREAD_GRAYSCALE);
        p.right = cv::imread(folder + "aloeR_320x240.png", cv::IMREAD_GRAYSCALE);
        const cv::Mat truth = cv::imread(folder + "aloeGT_320x240.png", cv::IMREAD_GRAYSCALE);
        if (p.left.empty() || p.right.empty() || truth.empty()) {
            std::fprintf(stderr, "stereo_bench: Aloe pair not found in %s\n", folder.c_str());
            std::exit(1);
        }
        constexpr double kFullWidth = 1282;
        truth.convertTo(p.truth, CV_32F, kWidth / kFullWidth);
        return p;
    }();
    return pair;
}

// disparity: CV_32F, NaN where the matcher gave none.
void setQualityCounters(benchmark::State& state, const cv::Mat& disparity) {
    const cv::Mat& truth = aloe().truth;
    long known = 0, estimated = 0, bad = 0;
    for (int y = 0; y < truth.rows; ++y)
        for (int x = 0; x < truth.cols; ++x) {
            const float expected = truth.at<float>(y, x);
            if (expected <= 0) continue;
            ++known;
            const float found = disparity.at<float>(y, x);
            if (std::isnan(found)) continue;
            ++estimated;
            bad += std::abs(found - expected) > 1;
        }
    state.counters["bad%"] = 100.0 * bad / std::max(1L, estimated);
    state.counters["coverage%"] = 100.0 * estimated / std::max(1L, known);
    state.counters["badOrMissing%"] = 100.0 * (bad + known - estimated) / std::max(1L, known);
}

cv::Mat fromFixedPoint(const cv::Mat& disparity16, int minDisparity) {
    cv::Mat out(disparity16.size(), CV_32F);
    const short invalid = short((minDisparity - 1) * 16);
    for (int y = 0; y < out.rows; ++y)
        for (int x = 0; x < out.cols; ++x) {
            const short v = disparity16.at<short>(y, x);
            out.at<float>(y, x) = v == invalid ? NAN : v / 16.0f;
        }
    return out;
}

void GraphCuts(benchmark::State& state) {
    const AloePair& pair = aloe();
    const GCState settings = createStereoGCState(int(state.range(0)), 2);
    cv::Mat dispLeft, dispRight;
    GCReport report;
    for (auto _ : state)
        findStereoCorrespondenceGC(pair.left, pair.right, dispLeft, dispRight, settings, nullptr,
                                   &report);
    cv::Mat disparity(dispLeft.size(), CV_32F);
    for (int y = 0; y < disparity.rows; ++y)
        for (int x = 0; x < disparity.cols; ++x) {
            const short v = dispLeft.at<short>(y, x);
            disparity.at<float>(y, x) = v == kGCOccluded ? NAN : float(-v);
        }
    setQualityCounters(state, disparity);
    state.counters["K"] = report.K;
    state.counters["lambda"] = report.lambda;
}
BENCHMARK(GraphCuts)->Arg(16)->Arg(54)->Unit(benchmark::kMillisecond)->Iterations(2);

void SemiGlobal(benchmark::State& state) {
    const AloePair& pair = aloe();
    cv::Ptr<cv::StereoSGBM> matcher = cv::StereoSGBM::create(0, int(state.range(0)), 3);
    cv::Mat disparity;
    for (auto _ : state) matcher->compute(pair.left, pair.right, disparity);
    setQualityCounters(state, fromFixedPoint(disparity, 0));
}
BENCHMARK(SemiGlobal)->Arg(32)->Arg(64)->Unit(benchmark::kMillisecond);

void BlockMatching(benchmark::State& state) {
    const AloePair& pair = aloe();
    cv::Ptr<cv::StereoBM> matcher = cv::StereoBM::create(int(state.range(0)), 9);
    cv::Mat disparity;
    for (auto _ : state) matcher->compute(pair.left, pair.right, disparity);
    setQualityCounters(state, fromFixedPoint(disparity, 0));
}
BENCHMARK(BlockMatching)->Arg(64)->Unit(benchmark::kMillisecond);

// The block-matching mode's own matcher (disparities -64..63, window 41).
void RobotBlockMatching(benchmark::State& state) {
    const AloePair& pair = aloe();
    cv::Ptr<cv::StereoBM> matcher = createRobotStereoBM();
    cv::Mat disparity;
    for (auto _ : state) matcher->compute(pair.left, pair.right, disparity);
    setQualityCounters(state, fromFixedPoint(disparity, matcher->getMinDisparity()));
}
BENCHMARK(RobotBlockMatching)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
