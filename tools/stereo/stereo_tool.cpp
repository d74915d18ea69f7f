// robotas-stereo bm|gc LEFT RIGHT OUT.png [--disparities N]
// Runs the robot's block matcher or graph-cut matcher on two picture files and
// writes the left disparity as a 16-bit PNG of disparity x 16 (0 where none
// was found); prints the matching time as "ms T".

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "stereo/stereo.h"

namespace {

constexpr long kMaxBlockMatchingPixels = 16L * 1000 * 1000;

int usage() {
    std::fprintf(stderr, "usage: robotas-stereo bm|gc LEFT RIGHT OUT.png [--disparities N]\n");
    return 2;
}

bool parseCount(const char* text, int& value) {
    char* end = nullptr;
    const long parsed = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || parsed < 1 || parsed > 1024) return false;
    value = int(parsed);
    return true;
}

// Block matcher output is already sixteenths; negative disparities (the
// robot's matcher looks from -64) cannot be held in the file and become 0
// like the pixels without a match.
cv::Mat blockMatchingToFile(const cv::Mat& disparity, int minDisparity, long& negatives) {
    const short invalid = short((minDisparity - 1) * 16);
    cv::Mat out(disparity.size(), CV_16U, cv::Scalar(0));
    negatives = 0;
    for (int y = 0; y < disparity.rows; ++y)
        for (int x = 0; x < disparity.cols; ++x) {
            const short value = disparity.at<short>(y, x);
            if (value == invalid) continue;
            if (value < 0) {
                ++negatives;
                continue;
            }
            out.at<unsigned short>(y, x) = static_cast<unsigned short>(value);
        }
    return out;
}

cv::Mat graphCutToFile(const cv::Mat& dispLeft) {
    cv::Mat out(dispLeft.size(), CV_16U, cv::Scalar(0));
    for (int y = 0; y < dispLeft.rows; ++y)
        for (int x = 0; x < dispLeft.cols; ++x) {
            const int value = dispLeft.at<short>(y, x);
            if (value == kGCOccluded || value > 0) continue;  // negative disparity: not storable
            out.at<unsigned short>(y, x) = static_cast<unsigned short>(-value * 16);
        }
    return out;
}

bool loadGrey(const std::string& path, cv::Mat& grey) {
    grey = cv::imread(path, cv::IMREAD_GRAYSCALE);
    if (grey.empty()) {
        std::fprintf(stderr, "robotas-stereo: cannot read picture %s\n", path.c_str());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5 && argc != 7) return usage();
    const std::string mode = argv[1];
    if (mode != "bm" && mode != "gc") return usage();
    int disparities = 16;
    if (argc == 7) {
        if (std::string(argv[5]) != "--disparities") return usage();
        if (mode != "gc") {
            std::fprintf(stderr, "robotas-stereo: --disparities applies to gc only\n");
            return 2;
        }
        if (!parseCount(argv[6], disparities)) {
            std::fprintf(stderr, "robotas-stereo: disparities must be a whole number 1..1024\n");
            return 2;
        }
    }
    cv::Mat left, right;
    if (!loadGrey(argv[2], left) || !loadGrey(argv[3], right)) return 1;
    if (left.size() != right.size()) {
        std::fprintf(stderr, "robotas-stereo: the pictures differ in size (%dx%d and %dx%d)\n",
                     left.cols, left.rows, right.cols, right.rows);
        return 1;
    }

    cv::Mat out;
    const int64_t start = cv::getTickCount();
    if (mode == "bm") {
        if (long(left.cols) * left.rows > kMaxBlockMatchingPixels) {
            std::fprintf(stderr, "robotas-stereo: pictures too large (%dx%d)\n", left.cols,
                         left.rows);
            return 1;
        }
        cv::Ptr<cv::StereoBM> matcher = createRobotStereoBM();
        cv::Mat disparity;
        try {
            matcher->compute(left, right, disparity);
        } catch (const cv::Exception& e) {
            std::fprintf(stderr, "robotas-stereo: block matching failed: %s\n", e.err.c_str());
            return 1;
        }
        long negatives = 0;
        out = blockMatchingToFile(disparity, matcher->getMinDisparity(), negatives);
        if (negatives > 0)
            std::printf("negative disparities written as 0: %ld pixels\n", negatives);
    } else {
        cv::Mat dispLeft, dispRight;
        std::string error;
        if (!findStereoCorrespondenceGC(left, right, dispLeft, dispRight,
                                        createStereoGCState(disparities, 2), &error)) {
            std::fprintf(stderr, "robotas-stereo: %s\n", error.c_str());
            return 1;
        }
        out = graphCutToFile(dispLeft);
    }
    const double ms = double(cv::getTickCount() - start) * 1000.0 / cv::getTickFrequency();

    try {
        if (!cv::imwrite(argv[4], out)) {
            std::fprintf(stderr, "robotas-stereo: cannot write %s\n", argv[4]);
            return 1;
        }
    } catch (const cv::Exception& e) {
        std::fprintf(stderr, "robotas-stereo: cannot write %s: %s\n", argv[4], e.err.c_str());
        return 1;
    }
    std::printf("ms %.0f\n", ms);
    return 0;
}
