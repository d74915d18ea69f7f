#include "objects/surf_match.h"

#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

namespace {

constexpr double kRatio = 0.6;              // nearest over second nearest, squared distances
constexpr double kStartDistance = 1e6;
constexpr double kRansacThreshold = 5.0;    // pixels
constexpr int kMinimumPairs = 4;
// Corners farther out than this are no outline on a camera picture (and would not
// round into an int).
constexpr double kFarthestCorner = 1e6;
// What an outline needs to be an object seen by the camera, wherever it lies in the frame.
// A corner whose w is this small against the largest one lies at the horizon.
constexpr double kNearHorizon = 0.05;
constexpr double kSmallestOutlineArea = 100;   // square pixels
constexpr double kSmallestAreaRatio = 1e-3;    // of the object picture's own area
constexpr double kShortestSide = 4;            // pixels
// Sine of the sharpest corner: flatter outlines are squeezed or folded.
constexpr double kSharpestCorner = 0.1;

}  // namespace

double compareSURFDescriptors(const float* a, const float* b, double limit, int length) {
    double total = 0;
    for (int i = 0; i < length; i += 4) {
        const double t0 = a[i] - b[i];
        const double t1 = a[i + 1] - b[i + 1];
        const double t2 = a[i + 2] - b[i + 2];
        const double t3 = a[i + 3] - b[i + 3];
        total += t0 * t0 + t1 * t1 + t2 * t2 + t3 * t3;
        if (total > limit) break;
    }
    return total;
}

int naiveNearestNeighbor(const float* descriptor, int laplacianSign,
                         const std::vector<SurfPoint>& keypoints, const cv::Mat& descriptors) {
    const int length = descriptors.cols;
    const int count = std::min(static_cast<int>(keypoints.size()), descriptors.rows);
    double dist1 = kStartDistance, dist2 = kStartDistance;
    int neighbour = -1;
    for (int i = 0; i < count; ++i) {
        if (keypoints[i].laplacian != laplacianSign) continue;
        const double d = compareSURFDescriptors(descriptor, descriptors.ptr<float>(i), dist2, length);
        if (d < dist1) {
            dist2 = dist1;
            dist1 = d;
            neighbour = i;
        } else if (d < dist2) {
            dist2 = d;
        }
    }
    return dist1 < kRatio * dist2 ? neighbour : -1;
}

void findPairs(const std::vector<SurfPoint>& objectKeypoints, const cv::Mat& objectDescriptors,
               const std::vector<SurfPoint>& imageKeypoints, const cv::Mat& imageDescriptors,
               std::vector<int>& pairs) {
    pairs.clear();
    if (objectDescriptors.cols != imageDescriptors.cols) return;  // 64 against 128 floats
    const int count = std::min(static_cast<int>(objectKeypoints.size()), objectDescriptors.rows);
    for (int i = 0; i < count; ++i) {
        const int n = naiveNearestNeighbor(objectDescriptors.ptr<float>(i), objectKeypoints[i].laplacian,
                                           imageKeypoints, imageDescriptors);
        if (n >= 0) {
            pairs.push_back(i);
            pairs.push_back(n);
        }
    }
}

cv::Mat homographyFromPairs(const std::vector<SurfPoint>& objectKeypoints,
                            const std::vector<SurfPoint>& imageKeypoints, const std::vector<int>& pairs) {
    const int n = static_cast<int>(pairs.size() / 2);
    if (n < kMinimumPairs) return cv::Mat();
    std::vector<cv::Point2f> objectPoints(n), imagePoints(n);
    for (int k = 0; k < n; ++k) {
        objectPoints[k] = objectKeypoints.at(pairs[2 * k]).pt;
        imagePoints[k] = imageKeypoints.at(pairs[2 * k + 1]).pt;
    }
    cv::Mat h;
    try {
        h = cv::findHomography(objectPoints, imagePoints, cv::RANSAC, kRansacThreshold);
    } catch (const cv::Exception&) {
        return cv::Mat();
    }
    if (h.empty() || !cv::checkRange(h)) return cv::Mat();
    h.convertTo(h, CV_64F);
    return h;
}

namespace {

double cross(cv::Point2d a, cv::Point2d b) { return a.x * b.y - a.y * b.x; }

// Twice the signed area of a quadrilateral (positive when it turns like the picture's
// own corners, clockwise on screen).
double signedArea2(const cv::Point2d q[4]) {
    double sum = 0;
    for (int i = 0; i < 4; ++i) sum += cross(q[i], q[(i + 1) % 4]);
    return sum;
}

// The corners seen through the homography, or false when one lies at or beyond the
// horizon (w not clearly positive: the fit keeps w = 1 at the picture's origin) or
// outside any picture.
bool projectCorners(const cv::Matx33d& h, const cv::Point corners[4], cv::Point2d projected[4]) {
    double w[4], largest = 0;
    for (int i = 0; i < 4; ++i) {
        w[i] = h(2, 0) * corners[i].x + h(2, 1) * corners[i].y + h(2, 2);
        largest = std::max(largest, std::fabs(w[i]));
    }
    for (int i = 0; i < 4; ++i) {
        if (!(w[i] > kNearHorizon * largest)) return false;
        const double x = corners[i].x, y = corners[i].y;
        projected[i].x = (h(0, 0) * x + h(0, 1) * y + h(0, 2)) / w[i];
        projected[i].y = (h(1, 0) * x + h(1, 1) * y + h(1, 2)) / w[i];
        if (!(std::fabs(projected[i].x) < kFarthestCorner && std::fabs(projected[i].y) < kFarthestCorner))
            return false;
    }
    return true;
}

// A camera sees a flat object as a convex outline turning the same way as the object
// itself, neither tiny nor squeezed. These tests look only at the outline's shape, so
// the object is taken or refused alike wherever it stands in the frame.
bool isObjectOutline(const cv::Point2d outline[4], const cv::Point corners[4]) {
    cv::Point2d own[4];
    for (int i = 0; i < 4; ++i) own[i] = cv::Point2d(corners[i]);
    const double ownArea2 = signedArea2(own);
    if (ownArea2 == 0) return false;
    const double turn = ownArea2 > 0 ? 1.0 : -1.0;
    const double area = turn * signedArea2(outline) / 2;
    if (area < kSmallestOutlineArea || area < kSmallestAreaRatio * std::fabs(ownArea2) / 2) return false;
    for (int i = 0; i < 4; ++i) {
        const cv::Point2d in = outline[(i + 1) % 4] - outline[i], out = outline[(i + 2) % 4] - outline[(i + 1) % 4];
        const double inLength = cv::norm(in), outLength = cv::norm(out);
        if (inLength < kShortestSide) return false;
        // Every corner bends the same way, clearly: convex, not self-crossing, not flat.
        if (turn * cross(in, out) < kSharpestCorner * inLength * outLength) return false;
    }
    return true;
}

}  // namespace

int projectObjectCorners(const cv::Mat& homography, const cv::Point corners[4], cv::Point found[4]) {
    if (homography.empty()) return 0;
    cv::Point2d outline[4];
    if (!projectCorners(cv::Matx33d(homography), corners, outline) || !isObjectOutline(outline, corners)) return 0;
    for (int i = 0; i < 4; ++i) found[i] = cv::Point(cvRound(outline[i].x), cvRound(outline[i].y));
    return 1;
}

int locatePlanarObject(const std::vector<SurfPoint>& objectKeypoints, const cv::Mat& objectDescriptors,
                       const std::vector<SurfPoint>& imageKeypoints, const cv::Mat& imageDescriptors,
                       const cv::Point corners[4], cv::Point found[4]) {
    std::vector<int> pairs;
    findPairs(objectKeypoints, objectDescriptors, imageKeypoints, imageDescriptors, pairs);
    return projectObjectCorners(homographyFromPairs(objectKeypoints, imageKeypoints, pairs), corners, found);
}

cv::Mat drawCorrespondence(const cv::Mat& objectGrey, const cv::Mat& frameGrey,
                           const std::vector<SurfPoint>& objectKeypoints,
                           const std::vector<SurfPoint>& imageKeypoints, const std::vector<int>& pairs,
                           const cv::Point* found) {
    const int offset = objectGrey.rows;
    cv::Mat picture = cv::Mat::zeros(objectGrey.rows + frameGrey.rows, frameGrey.cols, CV_8UC1);
    // The object is cut to the frame's width, as the frame below it.
    const cv::Rect objectPart(0, 0, std::min(objectGrey.cols, frameGrey.cols), objectGrey.rows);
    if (objectPart.area() > 0) objectGrey(objectPart).copyTo(picture(objectPart));
    if (!frameGrey.empty()) frameGrey.copyTo(picture(cv::Rect(0, offset, frameGrey.cols, frameGrey.rows)));
    const cv::Scalar white(255, 255, 255);
    if (found) {
        for (int i = 0; i < 4; ++i) {
            const cv::Point r1 = found[i], r2 = found[(i + 1) % 4];
            cv::line(picture, cv::Point(r1.x, r1.y + offset), cv::Point(r2.x, r2.y + offset), white, 1, 8);
        }
    }
    for (size_t k = 0; k + 1 < pairs.size(); k += 2) {
        const cv::Point2f a = objectKeypoints.at(pairs[k]).pt, b = imageKeypoints.at(pairs[k + 1]).pt;
        cv::line(picture, cv::Point(cvRound(a.x), cvRound(a.y)), cv::Point(cvRound(b.x), cvRound(b.y + offset)),
                 white, 1, 8);
    }
    return picture;
}
