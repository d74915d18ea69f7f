#include "objects/fgd.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kLevels = 256;
// Differences of two pictures of the same scene spread like camera noise (normally, with
// deviation sigma * sqrt(2)); a change is anything beyond this many deviations.
constexpr double kNoiseDeviations = 3.0;
// Median of |d| over the deviation of d, for normally distributed d.
constexpr double kMedianToDeviation = 0.6745;
// Below this, a difference is never a change (compression steps, rounding).
constexpr int kSmallestThreshold = 4;

struct ColourEntry {
    float Pv;   // how often the pixel shows this feature
    float Pvb;  // how often it shows it as background (joint probability)
    uint8_t v[3];
};
struct PairEntry {
    float Pv;
    float Pvb;
    uint8_t v[6];  // quantised colour of the previous frame, then of this frame
};

// Smallest value at or above which half of the histogram lies.
int histogramMedian(const std::vector<double>& hist, double total) {
    double cumulative = 0;
    for (int t = 0; t < kLevels; ++t) {
        cumulative += hist[t];
        if (cumulative >= total / 2) return t;
    }
    return kLevels - 1;
}

// Otsu's split of the difference histogram: the t that best separates [0, t] from above.
int otsuThreshold(const std::vector<double>& hist, double total) {
    double sumAll = 0;
    for (int t = 0; t < kLevels; ++t) sumAll += t * hist[t];
    double weightLow = 0, sumLow = 0, bestSpread = -1;
    int best = 0;
    for (int t = 0; t < kLevels - 1; ++t) {
        weightLow += hist[t];
        sumLow += t * hist[t];
        const double weightHigh = total - weightLow;
        if (weightLow == 0 || weightHigh == 0) continue;
        const double meanLow = sumLow / weightLow, meanHigh = (sumAll - sumLow) / weightHigh;
        const double spread = weightLow * weightHigh * (meanLow - meanHigh) * (meanLow - meanHigh);
        if (spread > bestSpread) {
            bestSpread = spread;
            best = t;
        }
    }
    return best;
}

// Threshold of one channel of an absolute difference picture: three deviations of the
// camera noise above zero. Otsu's split separates the changed pixels from the rest; when
// it really is a split (beyond the noise of its own lower class) the noise is measured in
// that lower class, else on the median difference, which the noise dominates while a
// change covers less than half of the picture.
int changeThreshold(const std::vector<double>& hist) {
    double total = 0;
    for (double h : hist) total += h;
    if (total == 0) return kLevels;
    const double medianNoise = histogramMedian(hist, total) / kMedianToDeviation;
    const int split = otsuThreshold(hist, total);
    double lowCount = 0, lowSquares = 0;
    for (int d = 0; d <= split; ++d) {
        lowCount += hist[d];
        lowSquares += double(d) * d * hist[d];
    }
    const double lowNoise = lowCount > 0 ? std::sqrt(lowSquares / lowCount) : medianNoise;
    const bool realSplit = kNoiseDeviations * lowNoise < split;
    const double noise = realSplit ? std::min(lowNoise, medianNoise) : medianNoise;
    return std::max(kSmallestThreshold, static_cast<int>(std::ceil(kNoiseDeviations * noise)));
}

// Pixels where any channel of |a - b| exceeds its own automatic threshold.
cv::Mat changedPixels(const cv::Mat& a, const cv::Mat& b, cv::Vec3i& thresholds) {
    cv::Mat diff;
    cv::absdiff(a, b, diff);
    std::vector<std::vector<double>> hist(3, std::vector<double>(kLevels, 0.0));
    for (int y = 0; y < diff.rows; ++y) {
        const uint8_t* d = diff.ptr<uint8_t>(y);
        for (int x = 0; x < diff.cols * 3; x += 3) {
            hist[0][d[x]] += 1;
            hist[1][d[x + 1]] += 1;
            hist[2][d[x + 2]] += 1;
        }
    }
    for (int c = 0; c < 3; ++c) thresholds[c] = changeThreshold(hist[c]);
    cv::Mat changed(diff.size(), CV_8UC1);
    for (int y = 0; y < diff.rows; ++y) {
        const uint8_t* d = diff.ptr<uint8_t>(y);
        uint8_t* out = changed.ptr<uint8_t>(y);
        for (int x = 0; x < diff.cols; ++x) {
            const uint8_t* px = d + 3 * x;
            out[x] = (px[0] > thresholds[0] || px[1] > thresholds[1] || px[2] > thresholds[2]) ? 255 : 0;
        }
    }
    return changed;
}

cv::Mat asBgr(const cv::Mat& frame) {
    cv::Mat bgr;
    if (frame.empty() || frame.type() == CV_8UC3) return frame;
    if (frame.type() == CV_8UC1) cv::cvtColor(frame, bgr, cv::COLOR_GRAY2BGR);
    else if (frame.type() == CV_8UC4) cv::cvtColor(frame, bgr, cv::COLOR_BGRA2BGR);
    return bgr;
}

template <int N>
bool featureMatches(const uint8_t (&stored)[N], const uint8_t* feature, int delta) {
    for (int c = 0; c < N; ++c)
        if (std::abs(int(stored[c]) - int(feature[c])) > delta) return false;
    return true;
}

}  // namespace

// Per-pixel feature statistics, kept sorted by Pv (most frequent first). The tables are
// stored entry-major (entry k of every pixel together): the full tables are large, and
// the entries a pixel never uses are then never touched.
struct FgdModel::Tables {
    template <class Entry, int N>
    struct Table {
        int pixels = 0, kept = 0, significant = 0, levels = 0;
        std::unique_ptr<Entry[]> entries;
        std::vector<uint8_t> count;
        std::vector<float> Pb;

        void init(int pixelCount, int keptEntries, int significantEntries, int quantLevels) {
            pixels = pixelCount;
            kept = std::clamp(keptEntries, 1, 255);  // counts are kept in bytes
            significant = std::clamp(significantEntries, 1, kept);
            levels = std::clamp(quantLevels, 1, kLevels);
            entries.reset(new Entry[static_cast<size_t>(kept) * pixels]);
            count.assign(pixels, 0);
            Pb.assign(pixels, 1.f);
        }
        Entry& at(int pixel, int k) { return entries[static_cast<size_t>(k) * pixels + pixel]; }
        uint8_t quantise(uint8_t value) const { return static_cast<uint8_t>(value * levels / kLevels); }

        // First significant entry matching the feature, or -1.
        int findSignificant(int pixel, const uint8_t* feature, int delta) {
            const int n = std::min<int>(count[pixel], significant);
            for (int k = 0; k < n; ++k)
                if (featureMatches<N>(at(pixel, k).v, feature, delta)) return k;
            return -1;
        }

        // Bayes: background when the feature is more often background than foreground.
        bool isBackground(int pixel, const uint8_t* feature, int delta) {
            const int k = findSignificant(pixel, feature, delta);
            if (k < 0) return false;
            const Entry& e = at(pixel, k);
            return 2 * e.Pvb > e.Pv;
        }

        void learn(int pixel, const uint8_t* feature, int delta, bool background, float rate) {
            const float keep = 1.f - rate, b = background ? 1.f : 0.f;
            int n = count[pixel];
            int matched = -1;
            for (int k = 0; k < n; ++k) {
                Entry& e = at(pixel, k);
                const bool match = matched < 0 && featureMatches<N>(e.v, feature, delta);
                if (match) matched = k;
                e.Pv = keep * e.Pv + (match ? rate : 0.f);
                e.Pvb = keep * e.Pvb + (match ? rate * b : 0.f);
            }
            if (matched < 0) {
                // A new feature takes a free place or the least frequent one's.
                matched = n < kept ? n++ : kept - 1;
                Entry& e = at(pixel, matched);
                e.Pv = rate;
                e.Pvb = rate * b;
                std::copy(feature, feature + N, e.v);
                count[pixel] = static_cast<uint8_t>(n);
            }
            while (matched > 0 && at(pixel, matched - 1).Pv < at(pixel, matched).Pv) {
                std::swap(at(pixel, matched - 1), at(pixel, matched));
                --matched;
            }
            Pb[pixel] = keep * Pb[pixel] + rate * b;
            adoptNewBackground(pixel, n);
        }

        // A once-off change (a moved chair, a light switched on): when the significant
        // features are mostly foreground, the foreground becomes the background.
        void adoptNewBackground(int pixel, int n) {
            float foreground = 0.f;
            const int m = std::min(n, significant);
            for (int k = 0; k < m; ++k) foreground += at(pixel, k).Pv - at(pixel, k).Pvb;
            if (foreground <= newBackgroundShare) return;
            for (int k = 0; k < n; ++k) {
                Entry& e = at(pixel, k);
                e.Pvb = std::max(0.f, e.Pv - e.Pvb);
            }
            Pb[pixel] = 1.f - Pb[pixel];
        }
        float newBackgroundShare = 0.9f;
    };

    Table<ColourEntry, 3> colour;
    Table<PairEntry, 6> pair;
};

FgdModel::FgdModel(const cv::Mat& firstFrame, const FgdParams& params)
    : params_(params), tables_(std::make_unique<Tables>()) {
    const cv::Mat bgr = asBgr(firstFrame);
    if (bgr.empty()) return;
    background_ = bgr.clone();
    previous_ = bgr.clone();
    foreground_ = cv::Mat::zeros(bgr.size(), CV_8UC1);
    const int pixels = bgr.rows * bgr.cols;
    auto& colour = tables_->colour;
    auto& pair = tables_->pair;
    colour.init(pixels, params_.N2c, params_.N1c, params_.Lc);
    pair.init(pixels, params_.N2cc, params_.N1cc, params_.Lcc);
    colour.newBackgroundShare = pair.newBackgroundShare = params_.T;
    // The first frame is the background: its colour, and its colour staying as it is.
    for (int y = 0; y < bgr.rows; ++y) {
        const uint8_t* px = bgr.ptr<uint8_t>(y);
        for (int x = 0; x < bgr.cols; ++x, px += 3) {
            const int p = y * bgr.cols + x;
            ColourEntry& c = colour.at(p, 0);
            PairEntry& cc = pair.at(p, 0);
            c.Pv = c.Pvb = cc.Pv = cc.Pvb = 1.f;
            for (int k = 0; k < 3; ++k) {
                c.v[k] = colour.quantise(px[k]);
                cc.v[k] = cc.v[k + 3] = pair.quantise(px[k]);
            }
            colour.count[p] = pair.count[p] = 1;
        }
    }
}

FgdModel::~FgdModel() = default;

bool FgdModel::update(const cv::Mat& frameIn) {
    const cv::Mat frame = asBgr(frameIn);
    if (background_.empty() || frame.empty() || frame.size() != background_.size()) return false;
    cv::Mat frameChange, backgroundChange;
    detectChanges(frame, frameChange, backgroundChange);
    classifyChanged(frame, frameChange, backgroundChange);
    cleanForeground();
    learn(frame, frameChange, backgroundChange);
    frame.copyTo(previous_);
    ++updates_;
    return true;
}

void FgdModel::detectChanges(const cv::Mat& frame, cv::Mat& frameChange, cv::Mat& backgroundChange) {
    frameChange = changedPixels(frame, previous_, frameThresholds_);
    backgroundChange = changedPixels(frame, background_, backgroundThresholds_);
}

// Changed pixels keep the foreground label unless their feature's statistics say it is
// background: the colour co-occurrence where the pixel moved since the last frame, the
// colour where it differs from the background only.
void FgdModel::classifyChanged(const cv::Mat& frame, const cv::Mat& frameChange, const cv::Mat& backgroundChange) {
    const int delta = static_cast<int>(params_.delta);
    auto& colour = tables_->colour;
    auto& pair = tables_->pair;
    foreground_.setTo(0);
    for (int y = 0; y < frame.rows; ++y) {
        const uint8_t* cur = frame.ptr<uint8_t>(y);
        const uint8_t* prev = previous_.ptr<uint8_t>(y);
        const uint8_t* moved = frameChange.ptr<uint8_t>(y);
        const uint8_t* differs = backgroundChange.ptr<uint8_t>(y);
        uint8_t* out = foreground_.ptr<uint8_t>(y);
        for (int x = 0; x < frame.cols; ++x) {
            if (!moved[x] && !differs[x]) continue;
            const int p = y * frame.cols + x;
            bool background;
            if (moved[x]) {
                uint8_t feature[6];
                for (int k = 0; k < 3; ++k) {
                    feature[k] = pair.quantise(prev[3 * x + k]);
                    feature[k + 3] = pair.quantise(cur[3 * x + k]);
                }
                background = pair.isBackground(p, feature, delta);
            } else {
                uint8_t feature[3];
                for (int k = 0; k < 3; ++k) feature[k] = colour.quantise(cur[3 * x + k]);
                background = colour.isBackground(p, feature, delta);
            }
            out[x] = background ? 0 : 255;
        }
    }
}

// Opening removes specks, closing joins the parts of an object; then regions under the
// minimum area go and, for solid objects, the holes are filled.
void FgdModel::cleanForeground() {
    if (params_.perform_morphing > 0) {
        const cv::Mat element = cv::getStructuringElement(cv::MORPH_RECT, cv::Size(3, 3));
        cv::morphologyEx(foreground_, foreground_, cv::MORPH_OPEN, element, cv::Point(-1, -1),
                         params_.perform_morphing);
        cv::morphologyEx(foreground_, foreground_, cv::MORPH_CLOSE, element, cv::Point(-1, -1),
                         params_.perform_morphing);
    }
    cv::Mat regions = foreground_;
    if (params_.is_obj_without_holes) {
        std::vector<std::vector<cv::Point>> contours;
        cv::findContours(foreground_.clone(), contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_SIMPLE);
        regions = cv::Mat::zeros(foreground_.size(), CV_8UC1);
        cv::drawContours(regions, contours, -1, cv::Scalar(255), cv::FILLED, cv::LINE_8);
    }
    cv::Mat labels, stats, centroids;
    const int count = cv::connectedComponentsWithStats(regions, labels, stats, centroids, 8, CV_32S);
    std::vector<uint8_t> keep(count, 0);
    for (int label = 1; label < count; ++label)
        keep[label] = stats.at<int>(label, cv::CC_STAT_AREA) >= params_.minArea ? 255 : 0;
    for (int y = 0; y < labels.rows; ++y) {
        const int* l = labels.ptr<int>(y);
        uint8_t* out = foreground_.ptr<uint8_t>(y);
        for (int x = 0; x < labels.cols; ++x) out[x] = keep[l[x]];
    }
}

void FgdModel::learn(const cv::Mat& frame, const cv::Mat& frameChange, const cv::Mat& backgroundChange) {
    const int delta = static_cast<int>(params_.delta);
    // A young model learns fast; then slowly, so that a passing object is not learnt.
    const bool young = updates_ < static_cast<long>(std::ceil(1.0 / std::max(params_.alpha3, 1e-6f)));
    const float rate = young ? params_.alpha3 : params_.alpha2;
    const float alpha1 = params_.alpha1;
    auto& colour = tables_->colour;
    auto& pair = tables_->pair;
    for (int y = 0; y < frame.rows; ++y) {
        const uint8_t* cur = frame.ptr<uint8_t>(y);
        const uint8_t* prev = previous_.ptr<uint8_t>(y);
        const uint8_t* moved = frameChange.ptr<uint8_t>(y);
        const uint8_t* differs = backgroundChange.ptr<uint8_t>(y);
        const uint8_t* fg = foreground_.ptr<uint8_t>(y);
        uint8_t* bg = background_.ptr<uint8_t>(y);
        for (int x = 0; x < frame.cols; ++x) {
            const int p = y * frame.cols + x;
            const bool isBackground = fg[x] == 0;
            if (moved[x]) {
                uint8_t feature[6];
                for (int k = 0; k < 3; ++k) {
                    feature[k] = pair.quantise(prev[3 * x + k]);
                    feature[k + 3] = pair.quantise(cur[3 * x + k]);
                }
                pair.learn(p, feature, delta, isBackground, rate);
            } else {
                uint8_t feature[3];
                for (int k = 0; k < 3; ++k) feature[k] = colour.quantise(cur[3 * x + k]);
                colour.learn(p, feature, delta, isBackground, rate);
            }
            if (!isBackground) continue;
            for (int k = 0; k < 3; ++k) {
                uint8_t& b = bg[3 * x + k];
                // A changed pixel judged background is a new look of the background.
                if (moved[x] || differs[x]) b = cur[3 * x + k];
                else b = cv::saturate_cast<uint8_t>((1.f - alpha1) * b + alpha1 * cur[3 * x + k]);
            }
        }
    }
}
