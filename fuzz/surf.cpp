// SURF on arbitrary small pictures (grey or colour, any threshold, short or
// extended descriptors): one descriptor of unit length per key point, every
// key point on the picture, and matching a picture against itself works.

#include <algorithm>
#include <cmath>
#include <cstring>
#include <cstdlib>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "objects/objects.h"

namespace {

void checkFeatures(const cv::Mat& picture, const std::vector<SurfPoint>& points, const cv::Mat& descriptors,
                   const SurfParams& params) {
    if (points.empty()) return;
    if (descriptors.rows != static_cast<int>(points.size()) || descriptors.cols != surfDescriptorLength(params) ||
        descriptors.type() != CV_32F)
        std::abort();
    for (std::size_t i = 0; i < points.size(); ++i) {
        const SurfPoint& p = points[i];
        if (!(p.pt.x >= 0 && p.pt.y >= 0 && p.pt.x < picture.cols && p.pt.y < picture.rows)) std::abort();
        const double length = cv::norm(descriptors.row(static_cast<int>(i)));
        if (!std::isfinite(length) || (length > 0 && std::fabs(length - 1.0) > 1e-3)) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzing::quietRobot();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzing::Bytes in(data, size);
    const int width = in.inRange(1, 64), height = in.inRange(1, 64);
    const bool colour = in.byte() & 1;
    const double threshold = in.byte() * 8.0;
    const int extended = in.byte() & 1;
    cv::Mat picture(height, width, colour ? CV_8UC3 : CV_8UC1, cv::Scalar::all(0));
    const std::size_t bytes = picture.total() * picture.elemSize();
    std::memcpy(picture.data, in.rest(), std::min(bytes, in.left()));

    const SurfParams params = cvSURFParams(threshold, extended);
    std::vector<SurfPoint> points;
    cv::Mat descriptors;
    extractSURF(picture, points, descriptors, params);
    checkFeatures(picture, points, descriptors, params);

    std::vector<int> pairs;
    findPairs(points, descriptors, points, descriptors, pairs);
    return 0;
}
