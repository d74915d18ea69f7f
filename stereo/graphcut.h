#pragma once
// The graph-cut matcher's working parts (Kolmogorov and Zabih, "Computing visual
// correspondence with occlusions using graph cuts", ICCV 2001), open to tests.
//
// A configuration is a set of active assignments (left pixel, disparity); a
// left or right pixel in no active assignment is occluded. Its energy:
//   sum over active assignments of (D(a) - K)
// + sum over neighbouring assignment pairs (same disparity, neighbouring left
//   pixels) with exactly one of the two active, of lambda1 or lambda2.
// An alpha-expansion keeps, drops or replaces by disparity alpha every active
// assignment at once and is solved exactly by one minimum cut.

#include <opencv2/core.hpp>

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "stereo/min_cut.h"
#include "stereo/stereo.h"

namespace gc {

constexpr int kOccluded = -1000000;

// Disparity of every left pixel (row-major), or kOccluded.
using Labeling = std::vector<int>;

struct Weights {
    int K = 0, lambda1 = 0, lambda2 = 0;
};

class Matcher {
public:
    // left, right: CV_8UC1 pictures of one size. Weights come from the state
    // or, where negative there, from the pictures.
    Matcher(const cv::Mat& left, const cv::Mat& right, const GCState& state) { prepare(left, right, state); }
    Matcher() = default;
    // Starts over on another pair, keeping the memory of the pair before.
    void prepare(const cv::Mat& left, const cv::Mat& right, const GCState& state);

    int width() const { return width_; }
    int height() const { return height_; }
    int minDisparity() const { return minDisparity_; }
    int maxDisparity() const { return minDisparity_ + numberOfDisparities_ - 1; }
    const Weights& weights() const { return weights_; }
    int lambda() const { return lambda_; }

    // Whether left pixel (x, y) can match at disparity d (x - d inside the picture).
    bool hasAssignment(int x, int y, int d) const;
    // Birchfield-Tomasi-like cost of matching left (x, y) with right (x - d, y).
    int dataCost(int x, int y, int d) const;

    std::int64_t energy(const Labeling& labels) const;
    // No right pixel matched twice, every disparity in range and matchable.
    bool isConsistent(const Labeling& labels) const;

    // The best configuration within one alpha-expansion of current, found by a
    // minimum cut; returns the energy that cut stands for.
    std::int64_t expansionMove(const Labeling& current, int alpha, Labeling& proposal);

    // All passes from the fully occluded start, until a pass gains nothing
    // or a later pass's move gains next to nothing; every accepted move
    // lowers the energy or keeps it.
    Labeling run(int maxIters, bool randomOrder, GCReport* report);

private:
    int index(int x, int y) const { return y * width_ + x; }
    // dataCost of left pixel p; inline, as every move asks it for every pixel.
    int costOf(int p, int d) const {
        const int r = p - d;
        const int leftToRight = distanceToRange(left2_[p], rightMin2_[r], rightMax2_[r]);
        const int rightToLeft = distanceToRange(right2_[r], leftMin2_[p], leftMax2_[p]);
        const int dissimilarity = std::min(leftToRight, rightToLeft);
        return std::min(dissimilarity * dissimilarity, kGCDataCostCap);
    }
    static int distanceToRange(int value, int lowest, int highest) {
        return value > highest ? value - highest : value < lowest ? lowest - value : 0;
    }
    void deriveWeights(const GCState& state);
    static bool gainIsTiny(std::int64_t gain, std::int64_t energy);
    // The mean over the pixels with any assignment of their k-th smallest
    // data cost, rounded.
    int typicalCost(int k) const;
    // Pair of left pixel p with its neighbour to the right (down = false) or
    // below (down = true) at d, both with an assignment there: its penalty,
    // lambda1 where both pictures are uniform there, else lambda2.
    int pairCost(int p, bool down, int d) const {
        // & rather than &&: no branch, so that loops over pixels vectorise.
        const bool flat = down ? leftFlatDown_[p] & rightFlatDown_[p - d]
                               : leftFlatRight_[p] & rightFlatRight_[p - d];
        return flat ? weights_.lambda1 : weights_.lambda2;
    }
    // What an assignment is in a move. Alpha assignments: already active, a
    // graph node, left off for good (it can never pay), or not possible at
    // all. Current assignments: a graph node, kept for good, or none.
    enum class AlphaRole : unsigned char { Missing, Active, Node, Off };
    enum class KeepRole : unsigned char { None, Node, Kept };
    void assignRoles(const Labeling& current, int alpha);
    void followLabeling(const Labeling& current);
    void weighKeeping(const Labeling& current, int x, int y);
    // Penalty of the pair of left pixel p (at column x) and its neighbour
    // right or below at disparity d, or -1 where the pair does not exist.
    int penalty(int p, int x, bool down, int d) const {
        const int xr = x - d;
        if (xr < 0 || xr + (down ? 0 : 1) >= width_) return -1;
        return pairCost(p, down, d);
    }
    // The penalties of p's pairs with its four neighbours (right, down: the
    // penalties by pixel, -1 where there is no pair): all of them, and those
    // whose neighbour has the role settled.
    template <class Role>
    std::pair<std::int64_t, std::int64_t> weighPairs(int p, const std::vector<int>& right,
                                                     const std::vector<int>& down,
                                                     const std::vector<Role>& roles, Role settled) const;
    bool alphaIsAlwaysOff(int p) const;
    bool keepIsAlwaysKept(int shift, int x, int p) const;
    // Visits every pixel (column x, index p) row by row, then again from the
    // last pixel back.
    template <class Visit>
    void sweepForwardThenBackward(Visit visit) const;
    template <class Cap>
    std::int64_t expandWith(SlotGraph<Cap>& graph, const Labeling& current, int alpha,
                            Labeling& proposal);

    int width_ = 0, height_ = 0;
    int minDisparity_ = 0, numberOfDisparities_ = 0;
    int intensityThreshold_ = 0;
    int forbidden_ = 0;
    int lambda_ = 0;
    Weights weights_;
    bool exactInInt_ = true;  // whether every cut value fits the faster int graph
    // Grey levels doubled, and the doubled range each pixel spans towards its
    // half-way points with the horizontal neighbours (row-major).
    std::vector<int> left2_, leftMin2_, leftMax2_;
    std::vector<int> right2_, rightMin2_, rightMax2_;
    // Whether the grey step from each pixel to its neighbour right / below
    // stays under the intensity threshold (true at the border).
    std::vector<unsigned char> leftFlatRight_, leftFlatDown_, rightFlatRight_, rightFlatDown_;
    // Work of one move, kept between moves to spare the allocations, per left
    // pixel: the data cost at alpha (-1 without assignment); what keeping its
    // current match is worth apart from the pairs with matches at the same
    // disparity; the penalties of its pairs with the neighbours right and
    // below, at alpha and, where both share it, at the current disparity (-1:
    // no such pair); the roles, graph nodes, and who holds each right pixel.
    std::vector<int> alphaCost_;
    std::vector<std::int64_t> keepWorth_;
    std::vector<int> alphaRight_, alphaDown_, keepRight_, keepDown_;
    std::vector<AlphaRole> alphaRoles_;
    std::vector<KeepRole> keepRoles_;
    std::vector<int> keepNode_, alphaNode_, rightOwner_;
    // The labeling the keeping data above was weighed for, and where the
    // next one differs from it.
    Labeling followed_;
    std::vector<int> changed_;
    // The move's graph: int capacities where every cut fits, else 64 bits.
    SlotGraph<int> intGraph_;
    SlotGraph<std::int64_t> wideGraph_;
};

}  // namespace gc

struct GCWorkspace {
    gc::Matcher matcher;
};
