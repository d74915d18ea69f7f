#include "objects/surf_match.h"

#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc.hpp>

#include <cmath>

namespace {

constexpr double kRatio = 0.6;              // nearest over second nearest, squared distances
constexpr double kStartDistance = 1e6;
constexpr double kRansacThreshold = 5.0;    // pixels
constexpr int kMinimumPairs = 4;
// Corners farther out than this are no outline on a camera picture (and would not
// round into an int).
constexpr double kFarthestCorner = 1e6;
// A homography whose normalised determinant is this small squeezes the object to a line.
constexpr double kDegenerateDeterminant = 1e-9;

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
    const double scale = cv::norm(h);
    if (scale <= 0 || std::fabs(cv::determinant(h)) / (scale * scale * scale) < kDegenerateDeterminant)
        return cv::Mat();
    return h;
}

int projectObjectCorners(const cv::Mat& homography, const cv::Point corners[4], cv::Point found[4]) {
    if (homography.empty()) return 0;
    const cv::Matx33d h(homography);
    cv::Point projected[4];
    double firstSign = 0;
    for (int i = 0; i < 4; ++i) {
        const double x = corners[i].x, y = corners[i].y;
        const double w = h(2, 0) * x + h(2, 1) * y + h(2, 2);
        // All corners on the same side of the horizon, or the outline is torn apart.
        if (w == 0 || (firstSign != 0 && (w > 0) != (firstSign > 0))) return 0;
        firstSign = w;
        const double z = 1.0 / w;
        const double fx = (h(0, 0) * x + h(0, 1) * y + h(0, 2)) * z;
        const double fy = (h(1, 0) * x + h(1, 1) * y + h(1, 2)) * z;
        if (!(std::fabs(fx) < kFarthestCorner && std::fabs(fy) < kFarthestCorner)) return 0;
        projected[i] = cv::Point(cvRound(fx), cvRound(fy));
    }
    for (int i = 0; i < 4; ++i) found[i] = projected[i];
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
