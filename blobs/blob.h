#pragma once
// One connected region found by the labeller, and the measures that turn a
// region into a number (used to select, rank and report regions).

#include <opencv2/core.hpp>

#include <vector>

#include "blobs/EdgeList.h"

class CBlob {
public:
    // Point order used for painting and inside tests: by row, then by column.
    struct comparaCvPoint {
        bool operator()(const cv::Point& a, const cv::Point& b) const {
            return a.y < b.y || (a.y == b.y && a.x < b.x);
        }
    };

    CBlob() = default;
    CBlob(const CBlob& other) = default;
    // Copy of *other; a default record when other is null.
    explicit CBlob(const CBlob* other);
    CBlob& operator=(const CBlob& other) = default;
    CBlob(CBlob&& other) noexcept = default;
    CBlob& operator=(CBlob&& other) noexcept = default;
    ~CBlob() = default;

    // Appends copies of this region's edge points, in order, to destination's.
    void CopyEdges(CBlob& destination) const;
    void ClearEdges();

    // Clockwise convex hull of the edge points; false (hull untouched) without points.
    bool GetConvexHull(std::vector<cv::Point>& hull) const;
    // Ellipse fitted to the edge points; all zero with six points or fewer.
    cv::RotatedRect GetEllipse() const;
    // Paints the region row by row between pairs of its edge points.
    void FillBlob(cv::Mat& image, const cv::Scalar& colour, int offsetX = 0, int offsetY = 0) const;

    int label = -1;
    int exterior = 0;  // 1 when the region touches the picture border or the mask boundary
    double area = 0;
    double perimeter = 0;
    double externPerimeter = 0;
    int parent = -1;  // region number of the region around this one when it started
    // After labelling with moments: mean x, mean y, variance of x and y, covariance.
    double sumX = 0, sumY = 0, sumXX = 0, sumYY = 0, sumXY = 0;
    // Half-open bounding box: pixels minX .. maxX - 1 and minY .. maxY - 1.
    double minX = 2147483647.0, maxX = 0, minY = 2147483647.0, maxY = 0;
    double mean = 0;    // mean grey level
    double stdDev = 0;  // sample standard deviation of the grey level
    // Pixel coordinates relative to the labelled region of interest.
    EdgeList edges;
};

// A property of a region as one number; the blob set takes any of them.
class COperadorBlob {
public:
    virtual ~COperadorBlob() = default;
    virtual double operator()(const CBlob& blob) const = 0;
    virtual const char* GetNom() const = 0;
};

#define ROBOTAS_BLOB_MEASURE(Name)                              \
    class Name : public COperadorBlob {                         \
    public:                                                     \
        double operator()(const CBlob& blob) const override;    \
        const char* GetNom() const override { return #Name; }   \
    }

ROBOTAS_BLOB_MEASURE(CBlobGetArea);
ROBOTAS_BLOB_MEASURE(CBlobGetPerimeter);
ROBOTAS_BLOB_MEASURE(CBlobGetExterior);
ROBOTAS_BLOB_MEASURE(CBlobGetMean);
ROBOTAS_BLOB_MEASURE(CBlobGetExternPerimeter);
ROBOTAS_BLOB_MEASURE(CBlobGetCompactness);
ROBOTAS_BLOB_MEASURE(CBlobGetLength);
ROBOTAS_BLOB_MEASURE(CBlobGetBreadth);
ROBOTAS_BLOB_MEASURE(CBlobGetHullPerimeter);
ROBOTAS_BLOB_MEASURE(CBlobGetHullArea);
ROBOTAS_BLOB_MEASURE(CBlobGetMinXatMinY);
ROBOTAS_BLOB_MEASURE(CBlobGetMinYatMaxX);
ROBOTAS_BLOB_MEASURE(CBlobGetMaxXatMaxY);
ROBOTAS_BLOB_MEASURE(CBlobGetMaxYatMinX);
ROBOTAS_BLOB_MEASURE(CBlobGetElongation);
ROBOTAS_BLOB_MEASURE(CBlobGetRoughness);
ROBOTAS_BLOB_MEASURE(CBlobGetXCenter);
ROBOTAS_BLOB_MEASURE(CBlobGetYCenter);

#undef ROBOTAS_BLOB_MEASURE

// Spatial moment (p, q): area, sums of x and y and of their squares; 0 otherwise.
class CBlobGetMoment : public COperadorBlob {
public:
    CBlobGetMoment(int p = 0, int q = 0) : p_(p), q_(q) {}
    double operator()(const CBlob& blob) const override;
    const char* GetNom() const override { return "CBlobGetMoment"; }

private:
    int p_;
    int q_;
};

// 1 when the point lies on one of the region's painted spans of its row.
class CBlobGetXYInside : public COperadorBlob {
public:
    explicit CBlobGetXYInside(cv::Point point = cv::Point(0, 0)) : point_(point) {}
    double operator()(const CBlob& blob) const override;
    const char* GetNom() const override { return "CBlobGetXYInside"; }

private:
    cv::Point point_;
};

// Distance from a point to the centre of the region's bounding box.
class CBlobGetDistanceFromPoint : public COperadorBlob {
public:
    CBlobGetDistanceFromPoint(double x = 0, double y = 0) : x_(x), y_(y) {}
    double operator()(const CBlob& blob) const override;
    const char* GetNom() const override { return "CBlobGetDistanceFromPoint"; }

private:
    double x_;
    double y_;
};
