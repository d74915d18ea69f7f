#include "blobs/BlobResult.h"

#include <algorithm>
#include <cmath>
#include <ostream>
#include <utility>

#include "blobs/BlobExtraction.h"

namespace {

bool meetsCondition(int condition, double value, double low, double high) {
    if (std::isnan(value)) return false;
    switch (condition) {
    case COND_EQUAL: return value == low;
    case COND_NOT_EQUAL: return !std::isnan(low) && value != low;
    case COND_GREATER: return value > low;
    case COND_LESS: return value < low;
    case COND_GREATER_OR_EQUAL: return value >= low;
    case COND_LESS_OR_EQUAL: return value <= low;
    case COND_INSIDE: return low <= value && value <= high;
    case COND_OUTSIDE: return value < low || value > high;
    default: return false;
    }
}

bool selected(int action, bool met) {
    return (action == FILTER_INCLUDE && met) || (action == FILTER_EXCLUDE && !met);
}

// Equality for ranking, where a NaN value matches a NaN target.
bool sameValue(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }

}  // namespace

CBlobResult::CBlobResult(const cv::Mat& source, const cv::Mat& mask, int threshold, bool findMoments) {
    const uchar level = static_cast<uchar>(std::clamp(threshold, 0, 255));
    bool labelled = false;
    try {
        labelled = BlobAnalysis(source, level, mask, true, findMoments, m_blobs, m_edgeSource);
    } catch (...) {
        labelled = false;
    }
    if (!labelled) {
        ClearBlobs();
        RaiseError(kBlobLabellingError);
    }
}

CBlobResult::CBlobResult(const CBlobResult& other) = default;

CBlobResult::~CBlobResult() = default;

CBlobResult& CBlobResult::operator=(const CBlobResult& other) = default;

CBlobResult CBlobResult::operator+(const CBlobResult& other) const {
    CBlobResult sum(*this);
    sum.m_blobs.reserve(m_blobs.size() + other.m_blobs.size());
    for (auto it = other.m_blobs.rbegin(); it != other.m_blobs.rend(); ++it) sum.AddBlob(&*it);
    return sum;
}

void CBlobResult::AddBlob(const CBlob* blob) {
    if (blob) m_blobs.push_back(*blob);
}

void CBlobResult::ClearBlobs() {
    m_blobs.clear();
    m_edgeSource.reset();
}

void CBlobResult::checkIndex(int index) const {
    if (index < 0 || index >= BlobCount()) RaiseError(kBlobIndexError);
}

CBlob CBlobResult::GetBlob(int index) const {
    checkIndex(index);
    return m_blobs[index];
}

CBlob* CBlobResult::GetBlob(int index) {
    checkIndex(index);
    return &m_blobs[index];
}

double CBlobResult::GetNumber(int index, const COperadorBlob* measure) const {
    checkIndex(index);
    return measure ? (*measure)(m_blobs[index]) : 0.0;
}

std::vector<double> CBlobResult::GetSTLResult(const COperadorBlob* measure) const {
    std::vector<double> values;
    if (!measure) return values;
    values.reserve(m_blobs.size());
    for (const CBlob& blob : m_blobs) values.push_back((*measure)(blob));
    return values;
}

void CBlobResult::GetNthBlob(const COperadorBlob* measure, int n, CBlob& out) const {
    if (n < 0 || n >= BlobCount() || !measure) {
        out = CBlob();
        return;
    }
    const std::vector<double> values = GetSTLResult(measure);
    std::vector<double> ranked = values;
    // Largest first; NaN values rank below every number.
    std::sort(ranked.begin(), ranked.end(), [](double a, double b) {
        if (std::isnan(a)) return false;
        if (std::isnan(b)) return true;
        return a > b;
    });
    const double target = ranked[n];
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (sameValue(values[i], target)) {
            out = m_blobs[i];
            return;
        }
    }
}

void CBlobResult::Filter(CBlobResult& destination, int action, const COperadorBlob* measure, int condition,
                         double low, double high) {
    if (m_blobs.empty() || !measure) return;
    const std::vector<double> values = GetSTLResult(measure);
    std::vector<bool> chosen(m_blobs.size());
    for (std::size_t i = 0; i < m_blobs.size(); ++i)
        chosen[i] = selected(action, meetsCondition(condition, values[i], low, high));

    if (&destination == this) {
        // Only the chosen blobs remain, in their order.
        std::size_t kept = 0;
        for (std::size_t i = 0; i < m_blobs.size(); ++i)
            if (chosen[i]) {
                if (kept != i) m_blobs[kept] = std::move(m_blobs[i]);
                ++kept;
            }
        m_blobs.resize(kept);
        return;
    }
    for (std::size_t i = 0; i < m_blobs.size(); ++i)
        if (chosen[i]) destination.AddBlob(&m_blobs[i]);
}

void CBlobResult::PrintBlobs(std::ostream& report) const {
    const CBlobGetArea area;
    const CBlobGetPerimeter perimeter;
    const CBlobGetExterior exterior;
    const CBlobGetMean mean;
    const CBlobGetCompactness compactness;
    const CBlobGetLength length;
    const CBlobGetExternPerimeter externPerimeter;
    const CBlobGetHullPerimeter hullPerimeter;
    const std::vector<double> areas = GetSTLResult(&area);
    const std::vector<double> perimeters = GetSTLResult(&perimeter);
    const std::vector<double> exteriors = GetSTLResult(&exterior);
    const std::vector<double> means = GetSTLResult(&mean);
    const std::vector<double> compactnesses = GetSTLResult(&compactness);
    const std::vector<double> lengths = GetSTLResult(&length);
    const std::vector<double> externPerimeters = GetSTLResult(&externPerimeter);
    const std::vector<double> hullPerimeters = GetSTLResult(&hullPerimeter);

    for (std::size_t i = 0; i < m_blobs.size(); ++i) {
        report << cv::format("blob %d ->\t a=%7.0f\t p=%8.2f (%8.2f extern)\t pconvex=%8.2f\t ext=%.0f\t m=%7.2f\t "
                             "c=%3.2f\t l=%8.2f\n",
                             static_cast<int>(i), areas[i], perimeters[i], externPerimeters[i], hullPerimeters[i],
                             exteriors[i], means[i], compactnesses[i], lengths[i]);
    }
}

void CBlobResult::RaiseError(int code) const { throw code; }
