#include "objects/surf_match.h"

#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cfloat>
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
// Matching again where the first fit places each object point: how far from its
// projection the match may lie, how its size may differ from the fit's expectation, how
// clearly and how near its descriptor must be (squared distances of unit descriptors).
constexpr double kGuidedRadius = 5.0;          // pixels
constexpr double kGuidedSizeTolerance = 1.6;
constexpr double kGuidedRatio = 0.8;
constexpr double kGuidedDistance = 0.5;
constexpr int kGuidedRounds = 2;
// A first fit that fewer object points confirm may rest on a few wrong pairs: then every
// pair is tried as the seed of a fit (its position, size and direction), searched more
// widely, and the seed that most object points confirm, if enough, replaces it.
constexpr int kWeakSupport = 20;
constexpr int kSeedSupport = 8;
constexpr double kSeedRadius = 8.0;            // pixels
// How much better the projective terms must fit the final pairs (an F ratio, two extra
// parameters) to be kept; otherwise the few clustered pairs of a small object would
// tilt the outline at its corners. A key point is placed to about a pixel, so residuals
// below that are not trusted to show perspective.
constexpr double kProjectiveGain = 4.0;
constexpr double kPointNoise = 1.0;            // square pixels
constexpr double kGridCell = 16;   // pixels, side of the cells that sort the frame's key points

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

namespace {

// The nearest and second-nearest descriptor distances offered so far, and whose the nearest is.
struct NearestTwo {
    double first, second;
    int index = -1;
    void offer(double d, int i) {
        if (d < first) {
            second = first;
            first = d;
            index = i;
        } else if (d < second) {
            second = d;
        }
    }
};

}  // namespace

int naiveNearestNeighbor(const float* descriptor, int laplacianSign,
                         const std::vector<SurfPoint>& keypoints, const cv::Mat& descriptors) {
    const int length = descriptors.cols;
    const int count = std::min(static_cast<int>(keypoints.size()), descriptors.rows);
    NearestTwo nearest{kStartDistance, kStartDistance};
    for (int i = 0; i < count; ++i) {
        if (keypoints[i].laplacian != laplacianSign) continue;
        nearest.offer(compareSURFDescriptors(descriptor, descriptors.ptr<float>(i), nearest.second, length), i);
    }
    return nearest.first < kRatio * nearest.second ? nearest.index : -1;
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

namespace {

// Frame key points sorted into square cells by position, so that the points near a
// projected object point are found without walking the whole frame.
class PointGrid {
public:
    PointGrid(const std::vector<SurfPoint>& points, int count) {
        for (int i = 0; i < count; ++i) {
            left_ = std::min(left_, points[i].pt.x);
            top_ = std::min(top_, points[i].pt.y);
            right_ = std::max(right_, points[i].pt.x);
            bottom_ = std::max(bottom_, points[i].pt.y);
        }
        if (count == 0) return;
        // Points far outside a camera picture get wider cells rather than millions of them.
        cell_ = std::max({kGridCell, double(right_ - left_) / kMostCells, double(bottom_ - top_) / kMostCells});
        columns_ = cellOf(right_ - left_) + 1;
        rows_ = cellOf(bottom_ - top_) + 1;
        cells_.resize(size_t(columns_) * rows_);
        for (int i = 0; i < count; ++i)
            cells_[size_t(cellOf(points[i].pt.y - top_)) * columns_ + cellOf(points[i].pt.x - left_)].push_back(i);
    }

    // Every point in the cells that the square of the radius around where touches.
    template <typename Visit>
    void forEachNear(cv::Point2d where, double radius, Visit visit) const {
        if (cells_.empty() || !(where.x + radius >= left_ && where.x - radius <= right_ &&
                                where.y + radius >= top_ && where.y - radius <= bottom_))
            return;
        const int x0 = cellOf(std::max(0.0, where.x - radius - left_));
        const int x1 = std::min(columns_ - 1, cellOf(where.x + radius - left_));
        const int y0 = cellOf(std::max(0.0, where.y - radius - top_));
        const int y1 = std::min(rows_ - 1, cellOf(where.y + radius - top_));
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x)
                for (int i : cells_[size_t(y) * columns_ + x]) visit(i);
    }

private:
    int cellOf(double offset) const { return static_cast<int>(offset / cell_); }

    static constexpr double kMostCells = 256;  // along each side
    double cell_ = kGridCell;
    float left_ = FLT_MAX, top_ = FLT_MAX, right_ = -FLT_MAX, bottom_ = -FLT_MAX;
    int columns_ = 0, rows_ = 0;
    std::vector<std::vector<int>> cells_;
};

// Where the fit takes an object point, and how much it enlarges the object there (the
// square root of its Jacobian's determinant); false at or beyond the horizon.
bool projectWithScale(const cv::Matx33d& h, cv::Point2f p, cv::Point2d& where, double& scale) {
    const double w = h(2, 0) * p.x + h(2, 1) * p.y + h(2, 2);
    if (!(w > 0)) return false;
    where.x = (h(0, 0) * p.x + h(0, 1) * p.y + h(0, 2)) / w;
    where.y = (h(1, 0) * p.x + h(1, 1) * p.y + h(1, 2)) / w;
    const double a = (h(0, 0) - where.x * h(2, 0)) / w, b = (h(0, 1) - where.x * h(2, 1)) / w;
    const double c = (h(1, 0) - where.y * h(2, 0)) / w, d = (h(1, 1) - where.y * h(2, 1)) / w;
    scale = std::sqrt(std::fabs(a * d - b * c));
    return std::isfinite(where.x) && std::isfinite(where.y) && std::isfinite(scale);
}

struct FrameFeatures {
    const std::vector<SurfPoint>& points;
    const cv::Mat& descriptors;
    PointGrid grid;
};

// Pairs found where the fit says each object point must lie: among the frame points
// within the radius of its projection, of its sign and of the size the fit expects
// there, the nearest descriptor, taken when clearly nearer than the others there and
// near in itself. Points the ratio test over the whole frame lost among look-alikes
// elsewhere are found this way; a small object has few other sure pairs.
std::vector<int> guidedPairs(const cv::Matx33d& h, const std::vector<SurfPoint>& objectKeypoints,
                             const cv::Mat& objectDescriptors, const FrameFeatures& frame, double radius) {
    std::vector<int> pairs;
    const int count = std::min(static_cast<int>(objectKeypoints.size()), objectDescriptors.rows);
    for (int i = 0; i < count; ++i) {
        const SurfPoint& p = objectKeypoints[i];
        cv::Point2d where;
        double scale;
        if (!projectWithScale(h, p.pt, where, scale)) continue;
        const double expectedSize = p.size * scale;
        NearestTwo nearest{kGuidedDistance, kStartDistance};
        frame.grid.forEachNear(where, radius, [&](int j) {
            const SurfPoint& q = frame.points[j];
            if (q.laplacian != p.laplacian) return;
            if (q.size > expectedSize * kGuidedSizeTolerance || q.size * kGuidedSizeTolerance < expectedSize) return;
            const double dx = q.pt.x - where.x, dy = q.pt.y - where.y;
            if (dx * dx + dy * dy > radius * radius) return;
            nearest.offer(compareSURFDescriptors(objectDescriptors.ptr<float>(i), frame.descriptors.ptr<float>(j),
                                                 nearest.second, objectDescriptors.cols),
                          j);
        });
        if (nearest.index >= 0 && nearest.first < kGuidedRatio * nearest.second) {
            pairs.push_back(i);
            pairs.push_back(nearest.index);
        }
    }
    return pairs;
}

int pairCount(const std::vector<int>& pairs) { return static_cast<int>(pairs.size() / 2); }

// The fit that one pair implies: the object turned by the difference of the two
// directions, scaled by the ratio of the sizes and moved onto the frame point.
cv::Matx33d fitOfOnePair(const SurfPoint& p, const SurfPoint& q) {
    const double scale = double(q.size) / p.size, turn = (q.dir - p.dir) * CV_PI / 180;
    const double c = scale * std::cos(turn), s = scale * std::sin(turn);
    return cv::Matx33d(c, -s, q.pt.x - (c * p.pt.x - s * p.pt.y), s, c, q.pt.y - (s * p.pt.x + c * p.pt.y), 0, 0,
                       1);
}

// When the fit is weakly confirmed, the pairs of the best confirmed single-pair seed;
// otherwise none.
std::vector<int> pairsOfBestSeed(const cv::Matx33d& h, const std::vector<SurfPoint>& objectKeypoints,
                                 const cv::Mat& objectDescriptors, const FrameFeatures& frame,
                                 const std::vector<int>& pairs) {
    std::vector<int> best;
    const int support = pairCount(guidedPairs(h, objectKeypoints, objectDescriptors, frame, kGuidedRadius));
    if (support >= kWeakSupport) return best;
    for (size_t k = 0; k + 1 < pairs.size(); k += 2) {
        const cv::Matx33d seed = fitOfOnePair(objectKeypoints.at(pairs[k]), frame.points.at(pairs[k + 1]));
        std::vector<int> seeded = guidedPairs(seed, objectKeypoints, objectDescriptors, frame, kSeedRadius);
        if (pairCount(seeded) > std::max({support, kSeedSupport - 1, pairCount(best)})) best = std::move(seeded);
    }
    return best;
}

double squaredResidual(const cv::Matx33d& h, const std::vector<cv::Point2f>& from, const std::vector<cv::Point2f>& to) {
    double sum = 0;
    for (size_t k = 0; k < from.size(); ++k) {
        const cv::Vec3d q = h * cv::Vec3d(from[k].x, from[k].y, 1.0);
        const double dx = q[0] / q[2] - to[k].x, dy = q[1] / q[2] - to[k].y;
        sum += dx * dx + dy * dy;
    }
    return sum;
}

// The affine map nearest to the pairs in the least-squares sense, as a 3 x 3 matrix.
cv::Mat affineFit(const std::vector<cv::Point2f>& from, const std::vector<cv::Point2f>& to) {
    const int n = static_cast<int>(from.size());
    cv::Mat a = cv::Mat::zeros(2 * n, 6, CV_64F), b(2 * n, 1, CV_64F), x;
    for (int k = 0; k < n; ++k) {
        const double row[3] = {from[k].x, from[k].y, 1.0};
        for (int c = 0; c < 3; ++c) {
            a.at<double>(2 * k, c) = row[c];
            a.at<double>(2 * k + 1, 3 + c) = row[c];
        }
        b.at<double>(2 * k) = to[k].x;
        b.at<double>(2 * k + 1) = to[k].y;
    }
    if (!cv::solve(a, b, x, cv::DECOMP_SVD)) return cv::Mat();
    cv::Mat h = cv::Mat::eye(3, 3, CV_64F);
    x.reshape(1, 2).copyTo(h.rowRange(0, 2));
    return h;
}

// The least-squares fit to all the pairs: the homography when its projective terms
// clearly pay for themselves, else the affine map; empty with fewer than 4 pairs.
cv::Mat finalFit(const std::vector<SurfPoint>& objectKeypoints, const std::vector<SurfPoint>& imageKeypoints,
                 const std::vector<int>& pairs) {
    const int n = pairCount(pairs);
    if (n < kMinimumPairs) return cv::Mat();
    std::vector<cv::Point2f> from(n), to(n);
    for (int k = 0; k < n; ++k) {
        from[k] = objectKeypoints[pairs[2 * k]].pt;
        to[k] = imageKeypoints[pairs[2 * k + 1]].pt;
    }
    const cv::Mat affine = affineFit(from, to);
    cv::Mat h;
    try {
        h = cv::findHomography(from, to, 0);
    } catch (const cv::Exception&) {
        return affine;
    }
    if (h.empty() || !cv::checkRange(h) || n == kMinimumPairs) return affine;
    h.convertTo(h, CV_64F);
    const double projective = squaredResidual(cv::Matx33d(h), from, to);
    const double gain = (squaredResidual(cv::Matx33d(affine), from, to) - projective) / 2;
    return gain > kProjectiveGain * std::max(projective / (2 * n - 8), kPointNoise) ? h : affine;
}

}  // namespace

cv::Mat refineHomography(const cv::Mat& homography, const std::vector<SurfPoint>& objectKeypoints,
                         const cv::Mat& objectDescriptors, const std::vector<SurfPoint>& imageKeypoints,
                         const cv::Mat& imageDescriptors, const std::vector<int>& pairs) {
    if (homography.empty() || objectDescriptors.cols != imageDescriptors.cols) return homography;
    const int frameCount = std::min(static_cast<int>(imageKeypoints.size()), imageDescriptors.rows);
    const FrameFeatures frame{imageKeypoints, imageDescriptors, PointGrid(imageKeypoints, frameCount)};
    cv::Mat h = homography;
    const std::vector<int> seeded = pairsOfBestSeed(cv::Matx33d(h), objectKeypoints, objectDescriptors, frame, pairs);
    if (!seeded.empty()) {
        const cv::Mat refit = homographyFromPairs(objectKeypoints, imageKeypoints, seeded);
        if (!refit.empty()) h = refit;
    }
    for (int round = 0; round < kGuidedRounds; ++round) {
        const cv::Mat refit = homographyFromPairs(
            objectKeypoints, imageKeypoints,
            guidedPairs(cv::Matx33d(h), objectKeypoints, objectDescriptors, frame, kGuidedRadius));
        if (refit.empty()) break;
        h = refit;
    }
    const cv::Mat fit = finalFit(objectKeypoints, imageKeypoints,
                                 guidedPairs(cv::Matx33d(h), objectKeypoints, objectDescriptors, frame, kGuidedRadius));
    return fit.empty() ? h : fit;
}

int locatePlanarObject(const std::vector<SurfPoint>& objectKeypoints, const cv::Mat& objectDescriptors,
                       const std::vector<SurfPoint>& imageKeypoints, const cv::Mat& imageDescriptors,
                       const cv::Point corners[4], cv::Point found[4]) {
    std::vector<int> pairs;
    findPairs(objectKeypoints, objectDescriptors, imageKeypoints, imageDescriptors, pairs);
    const cv::Mat first = homographyFromPairs(objectKeypoints, imageKeypoints, pairs);
    const cv::Mat h = refineHomography(first, objectKeypoints, objectDescriptors, imageKeypoints, imageDescriptors, pairs);
    return projectObjectCorners(h, corners, found);
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
