// Graph-cut stereo on tiny picture pairs with arbitrary settings. Whatever it
// accepts it must answer with a consistent matching: every matched left pixel
// (disparity within the range) points at a right pixel that points back.

#include <cstdlib>
#include <string>

#include "fuzz/fuzz_support.h"
#include "stereo/stereo.h"

namespace {

void checkMatching(const cv::Mat& dispLeft, const cv::Mat& dispRight, const GCState& state) {
    if (dispLeft.type() != CV_16S || dispRight.type() != CV_16S) std::abort();
    for (int y = 0; y < dispLeft.rows; ++y)
        for (int x = 0; x < dispLeft.cols; ++x) {
            const short value = dispLeft.at<short>(y, x);
            if (value == kGCOccluded) continue;
            const int d = -value;
            if (d < state.minDisparity || d >= state.minDisparity + state.numberOfDisparities) std::abort();
            const int xr = x - d;
            if (xr < 0 || xr >= dispRight.cols || dispRight.at<short>(y, xr) != d) std::abort();
        }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzing::quietRobot();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzing::Bytes in(data, size);
    const int width = in.inRange(1, 12), height = in.inRange(1, 6);
    GCState state;
    state.numberOfDisparities = in.inRange(-1, 8);
    state.minDisparity = in.inRange(-4, 4);
    state.maxIters = in.inRange(0, 2);
    state.Ithreshold = in.inRange(0, 32);
    state.randomOrder = in.byte() & 1;
    // Weights either derived (negative) or given, small or large.
    int* weights[] = {&state.K, &state.lambda, &state.lambda1, &state.lambda2};
    for (int* weight : weights) {
        const int choice = in.byte();
        *weight = choice < 128 ? -1 : (choice - 128) * ((choice & 1) ? 1 : 4000);
    }
    state.occlusionCost = in.byte() < 128 ? 10000 : in.inRange(0, 255) * 1000;
    cv::Mat left(height, width, CV_8U), right(height, width, CV_8U);
    for (cv::Mat* picture : {&left, &right})
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) picture->at<uchar>(y, x) = in.byte();

    cv::Mat dispLeft, dispRight;
    std::string error;
    if (!findStereoCorrespondenceGC(left, right, dispLeft, dispRight, state, &error)) {
        if (error.empty()) std::abort();  // a refusal always says why
        return 0;
    }
    checkMatching(dispLeft, dispRight, state);
    return 0;
}
