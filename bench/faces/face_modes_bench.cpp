// One frame of the face recognition mode's work and one pass of the motion watch.
//   FrameWork:   two 320 x 240 frames stretched, two face detections, one
//                recognition against a 50-picture database, the head targets and
//                the drawing, without display or camera (frames per second).
//   ModeFrames:  the mode itself over picture folders as cameras, headless, with
//                recognition on every frame (display mode 2) and the mechanics step.
//   MotionPass:  one pass of the motion watch on the pedestrian video.
// Rates count per CPU-second of the whole process; on an idle machine the wall
// clock rate is higher, as the detector uses every core.
// Pictures: $ROBOTAS_FACES_DIR, else tests/data/faces (ORL persons s3 .. s12).

#include <benchmark/benchmark.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/objdetect.hpp>

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "faces/camera/camera.h"
#include "faces/faces.h"
#include "faces/camera/imageutil.h"
#include "objects/objects.h"
#include "platform/clock.h"
#include "platform/keys.h"
#include "platform/runner.h"
#include "platform/terminal.h"
#include "platform/ui.h"
#include "shell/console/f_graph.h"

namespace {

namespace fs = std::filesystem;

std::string facesRoot() {
    const char* env = std::getenv("ROBOTAS_FACES_DIR");
    return env ? env : ROBOTAS_FACES_DIR;
}

std::string orl(int person, int picture) {
    return facesRoot() + "/s" + std::to_string(person) + "/" + std::to_string(picture) + ".pgm";
}

// A face enlarged on a plain background, as a person sits before the robot.
cv::Mat cameraFrame(int person, int picture) {
    const cv::Mat face = cv::imread(orl(person, picture), cv::IMREAD_GRAYSCALE);
    if (face.empty()) {
        std::fprintf(stderr, "No face pictures under %s\n", facesRoot().c_str());
        std::exit(1);
    }
    cv::Mat big;
    cv::resize(face, big, cv::Size(), 2.0, 2.0);
    cv::Mat canvas(240, 320, CV_8U, cv::Scalar(150));
    big(cv::Rect(0, 0, 184, 224)).copyTo(canvas(cv::Rect(68, 8, 184, 224)));
    cv::Mat colour;
    cv::cvtColor(canvas, colour, cv::COLOR_GRAY2BGR);
    return colour;
}

// A working directory of its own with the cascade and a database of persons 3..12
// (five pictures each); the robot's console, clock, windows and speech kept quiet.
void prepareRobot() {
    static bool done = false;
    if (done) return;
    done = true;
    std::string folder = (fs::temp_directory_path() / "robotas-bench-XXXXXX").string();
    if (!mkdtemp(folder.data())) std::exit(1);
    fs::current_path(folder);
    fs::copy_file("/usr/share/opencv4/haarcascades/haarcascade_frontalface_alt.xml",
                  "haarcascade_frontalface_alt.xml");
    platform::Terminal::instance().setEcho(false);
    platform::useVirtualTime(true);
    platform::recordCommands(true);
    ui::setHeadless(true);
    std::ofstream list("train.txt");
    for (int person = 3; person <= 12; ++person)
        for (int i = 1; i <= 5; ++i) list << person - 2 << " s" << person << " " << orl(person, i) << "\n";
    list.close();
    if (learn("train.txt") != 1) std::exit(1);
    faceWidth = pAvgTrainImg.cols;
    faceHeight = pAvgTrainImg.rows;
}

void writeFolder(const std::string& folder, const std::vector<cv::Mat>& frames) {
    fs::create_directories(folder);
    for (std::size_t i = 0; i < frames.size(); ++i)
        cv::imwrite(cv::format("%s/frame%03d.bmp", folder.c_str(), static_cast<int>(i + 1)), frames[i]);
}

void BM_FrameWork(benchmark::State& state) {
    prepareRobot();
    cv::CascadeClassifier cascade("haarcascade_frontalface_alt.xml");
    const cv::Mat right = cameraFrame(3, 6), left = cameraFrame(3, 7);
    std::vector<float> projection(static_cast<std::size_t>(nEigens));
    for (auto _ : state) {
        cv::Mat r = right.clone(), l = left.clone();
        stretchToFullRange(r);
        stretchToFullRange(l);
        const cv::Mat greyR = convertImageToGreyscale(r), greyL = convertImageToGreyscale(l);
        const cv::Rect faceR = detectFaceInImage(greyR, cascade), faceL = detectFaceInImage(greyL, cascade);
        float confidence = 0;
        int nearest = -1;
        if (faceR.width > 10) {
            cv::Mat equalised;
            cv::equalizeHist(resizeImage(cropImage(greyR, faceR), faceWidth, faceHeight), equalised);
            if (projectFace(equalised, projection.data())) nearest = findNearestNeighbor(projection.data(), &confidence);
        }
        if (followLeftFace(faceL, faceR)) cv::rectangle(l, faceL, cv::Scalar(0, 255, 0));
        if (followRightFace(faceL, faceR)) {
            cv::rectangle(r, faceR, cv::Scalar(0, 255, 0));
            cv::putText(r, nearest >= 0 ? "s3" : "?", cv::Point(faceR.x, faceR.y + faceR.height + 15),
                        cv::FONT_HERSHEY_PLAIN | cv::FONT_ITALIC, 1.0, cv::Scalar(0, 255, 255), 1, cv::LINE_AA);
        }
        benchmark::DoNotOptimize(confidence);
        if (faceR.width <= 10 || faceL.width <= 10) state.SkipWithError("no face found in the frames");
    }
    state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_ModeFrames(benchmark::State& state) {
    prepareRobot();
    writeFolder("video1", {cameraFrame(3, 6), cameraFrame(4, 6)});
    writeFolder("video2", {cameraFrame(3, 7), cameraFrame(4, 7)});
    kamera1 = 1;
    kamera2 = 2;
    ekranorezimas = 2;
    constexpr int kFrames = 50;
    for (auto _ : state) {
        keyPressed = kKeyMenuRead;
        platform::scriptKeys(std::string(kFrames - 1, ' ') + "m");
        VeidoAtpazinimas();
    }
    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * kFrames, benchmark::Counter::kIsRate);
}

void BM_MotionPass(benchmark::State& state) {
    prepareRobot();
    const std::string video = std::string(ROBOTAS_TESTDATA_DIR) + "/motion/vtest_320x240.avi";
    fs::remove_all("video2");
    fs::copy_file(video, "video2", fs::copy_options::overwrite_existing);
    kamera2 = 2;
    ekranorezimas = 1;
    constexpr int kPasses = 100;
    for (auto _ : state) {
        keyPressed = kKeyMenuRead;
        platform::scriptKeys(std::string(kPasses - 1, ' ') + "m");
        judesys(1000000, 0);
    }
    releaseCameras();
    state.counters["passes/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * kPasses, benchmark::Counter::kIsRate);
}

}  // namespace

// CPU time of the whole process: the detector spreads its work over threads.
BENCHMARK(BM_FrameWork)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK(BM_ModeFrames)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK(BM_MotionPass)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

BENCHMARK_MAIN();
