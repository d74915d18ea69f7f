// Training on 200 face pictures and recognising one face, the robot's eigenface
// database beside OpenCV's EigenFaceRecognizer on the same pictures.
// The ORL set holds 100 pictures (ten persons, ten each); their mirror images
// make the other 100, as a second sitting of the same people would.
// Pictures: $ROBOTAS_FACES_DIR, else tests/data/faces (ORL persons s3 .. s12).

#include <benchmark/benchmark.h>

#include <opencv2/core.hpp>
#include <opencv2/face.hpp>
#include <opencv2/imgcodecs.hpp>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "faces/faces.h"

namespace {

struct FaceSet {
    std::vector<cv::Mat> pictures;  // training pictures
    std::vector<int> labels;
    std::vector<cv::Mat> queries;   // the same people, slightly noisy: faces the camera would give
};

const FaceSet& faceSet() {
    static const FaceSet set = [] {
        FaceSet s;
        const char* env = std::getenv("ROBOTAS_FACES_DIR");
        const std::string root = env ? env : ROBOTAS_FACES_DIR;
        cv::RNG rng(7);
        for (int person = 3; person <= 12; ++person) {
            for (int i = 1; i <= 10; ++i) {
                const cv::Mat picture =
                    cv::imread(root + "/s" + std::to_string(person) + "/" + std::to_string(i) + ".pgm", cv::IMREAD_GRAYSCALE);
                if (picture.empty()) {
                    std::fprintf(stderr, "No face pictures under %s\n", root.c_str());
                    std::exit(1);
                }
                cv::Mat mirrored;
                cv::flip(picture, mirrored, 1);
                s.pictures.push_back(picture);
                s.pictures.push_back(mirrored);
                s.labels.push_back(person);
                s.labels.push_back(person);
                cv::Mat noise(picture.size(), CV_16S), query;
                rng.fill(noise, cv::RNG::NORMAL, 0, 8);
                cv::add(picture, noise, query, cv::noArray(), CV_8U);
                s.queries.push_back(query);
            }
        }
        return s;
    }();
    return set;
}

void trainRobot() {
    faceImgArr = faceSet().pictures;
    personNumTruthMat = cv::Mat(faceSet().labels, true).reshape(1, 1);
    trainOnFaceImgArr();
}

cv::Ptr<cv::face::EigenFaceRecognizer> trainOpenCV() {
    auto model = cv::face::EigenFaceRecognizer::create();
    model->train(faceSet().pictures, faceSet().labels);
    return model;
}

int recogniseRobot(const cv::Mat& face, std::vector<float>& projection) {
    projectFace(face, projection.data());
    float confidence = 0.0f;
    const int nearest = findNearestNeighbor(projection.data(), &confidence);
    return personNumTruthMat.at<int>(0, nearest);
}

void BM_TrainRobot(benchmark::State& state) {
    for (auto _ : state) {
        trainRobot();
        benchmark::DoNotOptimize(projectedTrainFaceMat.data);
    }
    state.counters["pictures"] = static_cast<double>(faceSet().pictures.size());
}

void BM_TrainOpenCV(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(trainOpenCV());
}

void BM_RecogniseRobot(benchmark::State& state) {
    trainRobot();
    std::vector<float> projection(static_cast<std::size_t>(nEigens));
    std::size_t next = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(recogniseRobot(faceSet().queries[next], projection));
        next = (next + 1) % faceSet().queries.size();
    }
}

void BM_RecogniseOpenCV(benchmark::State& state) {
    const auto model = trainOpenCV();
    std::size_t next = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(model->predict(faceSet().queries[next]));
        next = (next + 1) % faceSet().queries.size();
    }
}

// Both recognisers must name the same person for every query.
void BM_SameAnswers(benchmark::State& state) {
    trainRobot();
    const auto model = trainOpenCV();
    std::vector<float> projection(static_cast<std::size_t>(nEigens));
    int same = 0, rightRobot = 0, rightOpenCV = 0;
    for (auto _ : state) {
        same = rightRobot = rightOpenCV = 0;
        for (std::size_t q = 0; q < faceSet().queries.size(); ++q) {
            const int truth = faceSet().labels[2 * q];
            const int ours = recogniseRobot(faceSet().queries[q], projection);
            const int theirs = model->predict(faceSet().queries[q]);
            same += ours == theirs;
            rightRobot += ours == truth;
            rightOpenCV += theirs == truth;
        }
    }
    state.counters["queries"] = static_cast<double>(faceSet().queries.size());
    state.counters["same"] = same;
    state.counters["right_robot"] = rightRobot;
    state.counters["right_opencv"] = rightOpenCV;
    if (same != static_cast<int>(faceSet().queries.size())) state.SkipWithError("the recognisers disagree");
}

BENCHMARK(BM_TrainRobot)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TrainOpenCV)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RecogniseRobot)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RecogniseOpenCV)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SameAnswers)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
