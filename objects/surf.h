#pragma once
// SURF key points and descriptors (Bay, Ess, Tuytelaars, Van Gool), computed on an
// integral image with box filters. The robot uses them to recognise an object it has
// been shown in the live picture of its left camera.

#include <opencv2/core.hpp>

#include <vector>

// One key point as the object search uses it.
struct SurfPoint {
    cv::Point2f pt;      // position in pixels
    int laplacian = 0;   // sign of the Hessian's trace: +1 dark blob on light, -1 light on dark
    int size = 0;        // side of the box filter at the point's scale; sigma = 1.2 * size / 9
    float dir = 0.f;     // orientation in degrees, 0..360, image axes (y down)
    float hessian = 0.f; // determinant of the Hessian (detector response)
};

struct SurfParams {
    double hessianThreshold = 500;  // on responses of 0..255 pictures, box sums divided by size^2
    bool extended = true;           // 128 floats a descriptor instead of 64
    bool upright = false;           // orientation assignment on
    int nOctaves = 4;
    int nOctaveLayers = 2;
};

// The parameters the robot asks for: threshold and extended flag, the rest as above.
SurfParams cvSURFParams(double hessianThreshold, int extended);

// Detects key points in a picture (grey, or colour converted to grey) and describes
// them: one CV_32F row of unit length per key point (64 or 128 columns). An empty or
// tiny picture gives no key points and a 0-row matrix.
void extractSURF(const cv::Mat& image, std::vector<SurfPoint>& keypoints, cv::Mat& descriptors,
                 const SurfParams& params = SurfParams());

// Length of one descriptor for the given parameters.
inline int surfDescriptorLength(const SurfParams& params) { return params.extended ? 128 : 64; }
