#include "blobs/blob.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

namespace {

constexpr double kFourPi = 12.566370614359172;
constexpr double kNoMinimum = 2147483647.0;
constexpr double kNoMaximum = -2147483648.0;
constexpr std::size_t kFewestPointsForEllipse = 7;

// Side lengths of the rectangle with the region's perimeter and area; the
// longer one first. Nothing when the perimeter gives no positive side.
bool rectangleSides(const CBlob& blob, double& longer, double& shorter) {
    const double p = blob.perimeter;
    const double t = p * p - 16.0 * blob.area;
    const double l = t > 0 ? (p + std::sqrt(t)) * 0.25 : p * 0.25;
    if (l <= 0) return false;
    const double w = blob.area / l;
    longer = std::max(l, w);
    shorter = std::min(l, w);
    return true;
}

std::vector<cv::Point> clockwiseHull(const EdgeList& points) {
    std::vector<cv::Point> hull;
    cv::convexHull(points.asMat(), hull, true, true);
    return hull;
}

}  // namespace

CBlob::CBlob(const CBlob* other) {
    if (other) *this = *other;
}

void CBlob::CopyEdges(CBlob& destination) const { destination.edges.append(edges.begin(), edges.end()); }

void CBlob::ClearEdges() { edges.clear(); }

bool CBlob::GetConvexHull(std::vector<cv::Point>& hull) const {
    if (edges.empty()) return false;
    hull = clockwiseHull(edges);
    return true;
}

cv::RotatedRect CBlob::GetEllipse() const {
    if (edges.size() < kFewestPointsForEllipse) return cv::RotatedRect(cv::Point2f(0, 0), cv::Size2f(0, 0), 0);
    return cv::fitEllipse(edges.asMat());
}

void CBlob::FillBlob(cv::Mat& image, const cv::Scalar& colour, int offsetX, int offsetY) const {
    if (edges.empty() || image.empty()) return;
    std::vector<cv::Point> sorted = edges.toVector();
    std::sort(sorted.begin(), sorted.end(), comparaCvPoint());
    const cv::Point offset(offsetX, offsetY);
    // Along a row the points alternate between entering and leaving the region;
    // repeated points (several regions meeting at one place) change nothing.
    bool entering = true;
    int rowY = sorted.front().y;
    for (std::size_t i = 0; i + 1 < sorted.size(); ++i) {
        const cv::Point& a = sorted[i];
        const cv::Point& b = sorted[i + 1];
        if (a.y != rowY) {
            rowY = a.y;
            entering = true;
        }
        if (b.y != a.y || b.x == a.x) continue;
        if (entering) cv::line(image, a + offset, b + offset, colour, 1, cv::LINE_8, 0);
        entering = !entering;
    }
}

double CBlobGetArea::operator()(const CBlob& blob) const { return blob.area; }
double CBlobGetPerimeter::operator()(const CBlob& blob) const { return blob.perimeter; }
double CBlobGetExterior::operator()(const CBlob& blob) const { return blob.exterior; }
double CBlobGetMean::operator()(const CBlob& blob) const { return blob.mean; }
double CBlobGetExternPerimeter::operator()(const CBlob& blob) const { return blob.externPerimeter; }
double CBlobGetXCenter::operator()(const CBlob& blob) const { return blob.minX + (blob.maxX - blob.minX) * 0.5; }
double CBlobGetYCenter::operator()(const CBlob& blob) const { return blob.minY + (blob.maxY - blob.minY) * 0.5; }

double CBlobGetCompactness::operator()(const CBlob& blob) const {
    if (blob.area == 0) return 0;
    return blob.perimeter * blob.perimeter / (kFourPi * blob.area);
}

double CBlobGetLength::operator()(const CBlob& blob) const {
    double longer = 0, shorter = 0;
    return rectangleSides(blob, longer, shorter) ? longer : 0;
}

double CBlobGetBreadth::operator()(const CBlob& blob) const {
    double longer = 0, shorter = 0;
    return rectangleSides(blob, longer, shorter) ? shorter : 0;
}

double CBlobGetElongation::operator()(const CBlob& blob) const {
    // Unlike length and breadth, a perimeter too short for its area (no such
    // rectangle) gives 0 here rather than a quarter of the perimeter.
    const double t = std::pow(blob.perimeter, 2) - 16.0 * blob.area;
    if (t < 0) return 0;
    const double l = (blob.perimeter + std::sqrt(t)) * 0.25;
    if (!(l > 0)) return 0;
    const double w = blob.area / l;
    return std::max(l, w) / std::min(l, w);
}

double CBlobGetMoment::operator()(const CBlob& blob) const {
    if (p_ == 0 && q_ == 0) return blob.area;
    if (p_ == 1 && q_ == 0) return blob.sumX;
    if (p_ == 0 && q_ == 1) return blob.sumY;
    if (p_ == 2 && q_ == 0) return blob.sumXX;
    if (p_ == 0 && q_ == 2) return blob.sumYY;
    return 0;
}

double CBlobGetHullPerimeter::operator()(const CBlob& blob) const {
    if (blob.edges.empty()) return blob.perimeter;
    return std::fabs(cv::arcLength(clockwiseHull(blob.edges), true));
}

double CBlobGetHullArea::operator()(const CBlob& blob) const {
    if (blob.edges.empty()) return blob.area;
    return std::fabs(cv::contourArea(clockwiseHull(blob.edges)));
}

double CBlobGetRoughness::operator()(const CBlob& blob) const {
    const double hullPerimeter = CBlobGetHullPerimeter()(blob);
    if (hullPerimeter == 0) return 0;
    return blob.perimeter / hullPerimeter;
}

double CBlobGetMinXatMinY::operator()(const CBlob& blob) const {
    double result = kNoMinimum;
    for (const cv::Point& p : blob.edges)
        if (p.y == blob.minY && p.x < result) result = p.x;
    return result;
}

double CBlobGetMinYatMaxX::operator()(const CBlob& blob) const {
    double result = kNoMinimum;
    for (const cv::Point& p : blob.edges)
        if (p.x == blob.maxX && p.y < result) result = p.y;
    return result;
}

double CBlobGetMaxXatMaxY::operator()(const CBlob& blob) const {
    double result = kNoMaximum;
    for (const cv::Point& p : blob.edges)
        if (p.y == blob.maxY && p.x > result) result = p.x;
    return result;
}

double CBlobGetMaxYatMinX::operator()(const CBlob& blob) const {
    double result = kNoMaximum;
    for (const cv::Point& p : blob.edges)
        if (p.x == blob.minX && p.y > result) result = p.y;
    return result;
}

double CBlobGetDistanceFromPoint::operator()(const CBlob& blob) const {
    const double dx = x_ - CBlobGetXCenter()(blob);
    const double dy = y_ - CBlobGetYCenter()(blob);
    return std::sqrt(dx * dx + dy * dy);
}

double CBlobGetXYInside::operator()(const CBlob& blob) const {
    std::vector<cv::Point> row;
    for (const cv::Point& p : blob.edges)
        if (p.y == point_.y) row.push_back(p);
    if (row.empty()) return 0.0;
    std::sort(row.begin(), row.end(), CBlob::comparaCvPoint());
    // Every pair flips between a painted span and a gap, duplicates included.
    bool span = true;
    for (std::size_t i = 0; i + 1 < row.size(); ++i) {
        if (span && row[i].x <= point_.x && point_.x <= row[i + 1].x) return 1.0;
        span = !span;
    }
    return 0.0;
}
