// The blob labeller on arbitrary small pictures: size, threshold, colours,
// moments, a view inside a larger picture and a mask all come from the input.
// Every region found must lie inside the view, and every measure of it must
// be computable.

#include <cmath>
#include <cstdlib>
#include <vector>

#include "blobs/blobs.h"
#include "fuzz/fuzz_support.h"

namespace {

void fill(cv::Mat& picture, fuzzing::Bytes& in) {
    for (int y = 0; y < picture.rows; ++y)
        for (int x = 0; x < picture.cols; ++x) picture.at<uchar>(y, x) = in.byte();
}

void checkInside(const CBlob& blob, const cv::Size& view) {
    if (blob.area < 0) std::abort();
    // The frame region (label 0) may reach one cell past the picture.
    if (blob.label != 0) {
        for (const cv::Point& p : blob.edges)
            if (p.x < -1 || p.y < -1 || p.x > view.width || p.y > view.height) std::abort();
    }
}

void measureEverything(const CBlob& blob, const cv::Size& view) {
    checkInside(blob, view);
    const CBlobGetCompactness compactness;
    const CBlobGetElongation elongation;
    const CBlobGetRoughness roughness;
    const CBlobGetHullArea hullArea;
    const CBlobGetXCenter xCenter;
    const CBlobGetBreadth breadth;
    const COperadorBlob* measures[] = {&compactness, &elongation, &roughness, &hullArea, &xCenter, &breadth};
    for (const COperadorBlob* measure : measures) (void)(*measure)(blob);
    blob.GetEllipse();
    cv::Mat painted(view, CV_8U, cv::Scalar(0));
    blob.FillBlob(painted, cv::Scalar(255));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzing::quietRobot();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzing::Bytes in(data, size);
    const int width = in.inRange(1, 24), height = in.inRange(1, 24);
    const uchar threshold = in.byte();
    const int flags = in.byte();
    const bool borderColour = flags & 1, findMoments = flags & 2, useMask = flags & 4, useView = flags & 8;
    // A tiled picture is large and busy enough to be labelled in two stripes.
    const int tiles = flags & 16 ? 12 : 1;
    cv::Mat tile(height, width, CV_8U), whole;
    fill(tile, in);
    cv::repeat(tile, tiles, tiles, whole);
    cv::Mat mask;
    if (useMask) {
        cv::Mat maskTile(height, width, CV_8U);
        fill(maskTile, in);
        cv::repeat(maskTile, tiles, tiles, mask);
    }
    cv::Rect view(0, 0, whole.cols, whole.rows);
    if (useView) {
        view.x = in.inRange(0, width - 1);
        view.y = in.inRange(0, height - 1);
        view.width = whole.cols - view.x - in.inRange(0, width - 1);
        view.height = whole.rows - view.y - in.inRange(0, height - 1);
        if (view.width < 1 || view.height < 1) view = cv::Rect(view.x, view.y, 1, 1);
    }
    std::vector<CBlob> blobs;
    const bool labelled = BlobAnalysis(whole(view), threshold, mask, borderColour, findMoments, blobs);
    if (!labelled && !blobs.empty()) std::abort();
    // Every region lies inside the view; a tiled picture's many regions are
    // measured in part, to keep the runs quick.
    for (std::size_t i = 0; i < blobs.size(); ++i) {
        if (tiles == 1 || i % 97 == 0)
            measureEverything(blobs[i], view.size());
        else
            checkInside(blobs[i], view.size());
    }

    // The blob set over the same picture, then a filter and a ranking.
    CBlobResult set(whole(view), mask, threshold, findMoments);
    CBlobResult big;
    const CBlobGetArea area;
    set.Filter(big, FILTER_INCLUDE, &area, COND_GREATER, 2);
    if (big.BlobCount() > 0) {
        CBlob largest;
        big.GetNthBlob(&area, 0, largest);
        measureEverything(largest, view.size());
    }
    return 0;
}
