// Labelling of 640 x 480 masks by the robot's labeller (with and without
// moments) beside cv::connectedComponentsWithStats (8-connectivity) on the same
// masks: random noise at 5 % and 50 %, and the foreground of two frames of the
// pedestrian video (bench/data).

#include <benchmark/benchmark.h>
#include <opencv2/imgproc.hpp>
#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <utility>

#include "blobs/blobs.h"

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr int kMaskThreshold = 100;

cv::Mat noiseMask(double brightShare, unsigned seed, int width = kWidth, int height = kHeight) {
    cv::RNG random(seed);
    cv::Mat values(height, width, CV_32F);
    random.fill(values, cv::RNG::UNIFORM, 0.0, 1.0);
    cv::Mat mask;
    cv::compare(values, brightShare, mask, cv::CMP_LT);  // 255 where bright
    return mask;
}

// Moving people: two frames of the pedestrian video a second apart, their grey
// difference thresholded (bench/data/README.md).
cv::Mat videoMask() {
    const std::string path = std::string(ROBOTAS_BENCH_DATA) + "/pedestrians_mask_640x480.png";
    const cv::Mat mask = cv::imread(path, cv::IMREAD_GRAYSCALE);
    if (mask.size() != cv::Size(kWidth, kHeight)) {
        std::fprintf(stderr, "blobs_bench: cannot read %s\n", path.c_str());
        std::exit(1);
    }
    return mask;
}

// Dark teeth one pixel apart; each bridge joins two neighbouring teeth, the
// bridges stepping down from right to left, so every merge hands the region
// grown so far to a lower-numbered one: the worst case for merge bookkeeping.
cv::Mat stairsMask(int width, int height) {
    cv::Mat mask(height, width, CV_8UC1, cv::Scalar(255));
    const int teeth = std::min(width / 2, height);
    for (int i = 0; i < teeth; ++i) mask.col(2 * i).setTo(cv::Scalar(0));
    for (int i = 0; i + 1 < teeth; ++i) {
        const int y = (teeth - 2 - i) * (height - 1) / std::max(teeth - 2, 1);
        mask.at<uchar>(y, 2 * i + 1) = 0;
    }
    return mask;
}

// Runs of both colours in the mask, the unit of the labeller's work.
double runsOf(const cv::Mat& mask) {
    double runs = 0;
    for (int y = 0; y < mask.rows; ++y) {
        const uchar* row = mask.ptr<uchar>(y);
        runs += 1;
        for (int x = 1; x < mask.cols; ++x) runs += row[x] != row[x - 1];
    }
    return runs;
}

void labelScaled(benchmark::State& state, bool stairs) {
    const int width = static_cast<int>(state.range(0));
    const int height = width * 3 / 4;
    const cv::Mat mask = stairs ? stairsMask(width, height) : noiseMask(0.5, 3, width, height);
    for (auto _ : state) {
        CBlobResult set(mask, cv::Mat(), kMaskThreshold, true);
        benchmark::DoNotOptimize(set.BlobCount());
    }
    const double runs = runsOf(mask);
    state.counters["runs"] = runs;
    state.counters["runs_per_s"] = benchmark::Counter(runs, benchmark::Counter::kIsIterationInvariantRate);
}

const cv::Mat& maskNamed(const std::string& name) {
    static const std::map<std::string, cv::Mat> masks = {
        {"noise5", noiseMask(0.05, 1)},
        {"noise50", noiseMask(0.50, 2)},
        {"video", videoMask()},
    };
    return masks.at(name);
}

void labelWithBlobs(benchmark::State& state, const std::string& name, bool moments) {
    const cv::Mat& mask = maskNamed(name);
    std::size_t blobs = 0;
    for (auto _ : state) {
        CBlobResult set(mask, cv::Mat(), kMaskThreshold, moments);
        blobs = set.BlobCount();
        benchmark::DoNotOptimize(blobs);
    }
    state.counters["blobs"] = static_cast<double>(blobs);
}

// The same, every blob's edge points read as well: their placement waits for
// the first reader.
void labelAndReadEdges(benchmark::State& state, const std::string& name) {
    const cv::Mat& mask = maskNamed(name);
    for (auto _ : state) {
        CBlobResult set(mask, cv::Mat(), kMaskThreshold, false);
        std::size_t points = 0;
        for (int i = 0; i < set.BlobCount(); ++i) points += std::as_const(*set.GetBlob(i)).edges.data() != nullptr;
        benchmark::DoNotOptimize(points);
    }
}

void labelWithOpenCv(benchmark::State& state, const std::string& name) {
    const cv::Mat& mask = maskNamed(name);
    cv::Mat labels, stats, centroids;
    int components = 0;
    for (auto _ : state) {
        components = cv::connectedComponentsWithStats(mask, labels, stats, centroids, 8, CV_32S);
        benchmark::DoNotOptimize(components);
    }
    state.counters["components"] = components;
}

}  // namespace

BENCHMARK_CAPTURE(labelWithOpenCv, noise5, "noise5")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(labelWithBlobs, noise5, "noise5", false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(labelWithBlobs, noise5_moments, "noise5", true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(labelWithOpenCv, noise50, "noise50")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(labelWithBlobs, noise50, "noise50", false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(labelWithBlobs, noise50_moments, "noise50", true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(labelAndReadEdges, noise50, "noise50")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(labelWithOpenCv, video, "video")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(labelWithBlobs, video, "video", false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(labelWithBlobs, video_moments, "video", true)->Unit(benchmark::kMillisecond);

// Runs labelled per second stay flat as the picture grows: the labelling is linear.
BENCHMARK_CAPTURE(labelScaled, noise50, false)->Arg(320)->Arg(640)->Arg(1280)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(labelScaled, stairs, true)->Arg(320)->Arg(640)->Arg(1280)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
