// Detection and description on one 640 x 480 frame: the robot's SURF beside OpenCV's
// SIFT and KAZE (extended descriptors), and the background model's extraction step.
#include <benchmark/benchmark.h>
#include <opencv2/features2d.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "objects/objects.h"

namespace {

cv::Mat cameraFrame(int flags) {
    cv::Mat picture = cv::imread(std::string(ROBOTAS_TESTDATA) + "/objects/graf1.png", flags);
    if (picture.empty()) {
        std::fprintf(stderr, "missing test picture graf1.png\n");
        std::exit(1);
    }
    cv::resize(picture, picture, cv::Size(640, 480), 0, 0, cv::INTER_AREA);
    return picture;
}

void BM_Surf(benchmark::State& state) {
    const cv::Mat frame = cameraFrame(cv::IMREAD_GRAYSCALE);
    const SurfParams params = cvSURFParams(500, 1);
    std::vector<SurfPoint> points;
    cv::Mat descriptors;
    for (auto _ : state) {
        extractSURF(frame, points, descriptors, params);
        benchmark::DoNotOptimize(descriptors.data);
    }
    state.counters["keypoints"] = static_cast<double>(points.size());
}

void runOpenCv(benchmark::State& state, const cv::Ptr<cv::Feature2D>& detector) {
    const cv::Mat frame = cameraFrame(cv::IMREAD_GRAYSCALE);
    std::vector<cv::KeyPoint> points;
    cv::Mat descriptors;
    for (auto _ : state) {
        detector->detectAndCompute(frame, cv::noArray(), points, descriptors);
        benchmark::DoNotOptimize(descriptors.data);
    }
    state.counters["keypoints"] = static_cast<double>(points.size());
}

void BM_OpenCvSift(benchmark::State& state) { runOpenCv(state, cv::SIFT::create()); }
void BM_OpenCvKazeExtended(benchmark::State& state) { runOpenCv(state, cv::KAZE::create(true)); }

void BM_SurfMatchAndLocate(benchmark::State& state) {
    const cv::Mat frame = cameraFrame(cv::IMREAD_GRAYSCALE);
    const cv::Mat object = frame(cv::Rect(160, 120, 320, 240)).clone();
    std::vector<SurfPoint> objectPoints, framePoints;
    cv::Mat objectDescriptors, frameDescriptors;
    extractSURF(object, objectPoints, objectDescriptors);
    extractSURF(frame, framePoints, frameDescriptors);
    const cv::Point corners[4] = {{0, 0}, {object.cols, 0}, {object.cols, object.rows}, {0, object.rows}};
    cv::Point found[4];
    for (auto _ : state)
        benchmark::DoNotOptimize(
            locatePlanarObject(objectPoints, objectDescriptors, framePoints, frameDescriptors, corners, found));
}

void BM_FgdExtraction(benchmark::State& state) {
    const cv::Mat background = cameraFrame(cv::IMREAD_COLOR);
    cv::Mat scene = background.clone();
    cv::rectangle(scene, cv::Rect(200, 150, 160, 120), cv::Scalar(30, 60, 200), cv::FILLED);
    for (auto _ : state) {
        FgdModel model(background);
        model.update(scene);
        benchmark::DoNotOptimize(model.foreground().data);
    }
}

}  // namespace

// Ours and OpenCV's both spread their work over OpenCV's worker threads: the CPU column
// adds up all threads, so it compares the work done even on a busy machine.
BENCHMARK(BM_Surf)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();
BENCHMARK(BM_OpenCvSift)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();
BENCHMARK(BM_OpenCvKazeExtended)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();
BENCHMARK(BM_SurfMatchAndLocate)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FgdExtraction)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
