#pragma once
// An owning set of regions: label a picture, combine sets, select and rank
// regions by any measure, and write a text report. Errors are thrown as a plain
// int: 1000 for a bad blob index, 1001 for a picture that could not be labelled.

#include <opencv2/core.hpp>

#include <iosfwd>
#include <memory>
#include <vector>

#include "blobs/blob.h"

constexpr int FILTER_INCLUDE = 1;  // keep the blobs that meet the condition
constexpr int FILTER_EXCLUDE = 2;  // keep the blobs that do not
constexpr int COND_EQUAL = 3;
constexpr int COND_NOT_EQUAL = 4;
constexpr int COND_GREATER = 5;
constexpr int COND_LESS = 6;
constexpr int COND_GREATER_OR_EQUAL = 7;
constexpr int COND_LESS_OR_EQUAL = 8;
constexpr int COND_INSIDE = 9;    // low <= value <= high
constexpr int COND_OUTSIDE = 10;  // value < low or value > high

constexpr int kBlobIndexError = 1000;
constexpr int kBlobLabellingError = 1001;

class CBlobResult {
public:
    CBlobResult() = default;
    // Labels source with the frame colour bright (see BlobAnalysis); an empty mask
    // means none. threshold is clamped to 0..255. Throws 1001 when source or mask
    // is rejected or the labelling fails.
    CBlobResult(const cv::Mat& source, const cv::Mat& mask, int threshold, bool findMoments);
    CBlobResult(const CBlobResult& other);
    virtual ~CBlobResult();
    CBlobResult& operator=(const CBlobResult& other);

    // Copies of this set's blobs, then copies of other's in reverse order.
    CBlobResult operator+(const CBlobResult& other) const;

    // Appends a copy; the caller keeps its blob. A null pointer adds nothing.
    void AddBlob(const CBlob* blob);
    void ClearBlobs();

    int BlobCount() const { return static_cast<int>(m_blobs.size()); }
    CBlob GetBlob(int index) const;  // a copy
    CBlob* GetBlob(int index);       // the set's own blob, valid until the set changes

    double GetNumber(int index, const COperadorBlob* measure) const;
    std::vector<double> GetSTLResult(const COperadorBlob* measure) const;

    // The blob with the n-th largest value (n = 0: largest); ties go to the
    // earliest blob. A default blob when n is out of range.
    void GetNthBlob(const COperadorBlob* measure, int n, CBlob& out) const;

    // Appends to destination copies of the blobs selected by action and
    // condition; with this set as destination, only the selected blobs remain.
    // A NaN value never meets a condition.
    void Filter(CBlobResult& destination, int action, const COperadorBlob* measure, int condition, double low,
                double high = 0);

    // One line a blob, to a report the caller opened (a file, or a string).
    void PrintBlobs(std::ostream& report) const;

    void RaiseError(int code) const;

protected:
    std::vector<CBlob> m_blobs;
    // Where the edge lists of the labelled blobs find their points.
    std::shared_ptr<EdgeSource> m_edgeSource;

private:
    void checkIndex(int index) const;
};
