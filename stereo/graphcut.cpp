#include "stereo/graphcut.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <numeric>
#include <random>
#include <string>
#include <utility>

namespace gc {
namespace {

// Doubled grey levels and, for every pixel, the doubled range between the
// half-way points to its horizontal neighbours (the sampling-insensitive
// interval of Birchfield and Tomasi).
void halfwayRanges(const cv::Mat& grey, std::vector<int>& doubled, std::vector<int>& lowest,
                   std::vector<int>& highest) {
    const size_t pixels = size_t(grey.cols) * grey.rows;
    doubled.resize(pixels);
    lowest.resize(pixels);
    highest.resize(pixels);
    for (int y = 0; y < grey.rows; ++y) {
        const uchar* row = grey.ptr<uchar>(y);
        for (int x = 0; x < grey.cols; ++x) {
            const size_t p = size_t(y) * grey.cols + x;
            const int here = 2 * row[x];
            const int before = x > 0 ? row[x - 1] + row[x] : here;
            const int after = x + 1 < grey.cols ? row[x + 1] + row[x] : here;
            doubled[p] = here;
            lowest[p] = std::min({here, before, after});
            highest[p] = std::max({here, before, after});
        }
    }
}

// Whether the grey step from each pixel to its neighbour right / below is
// under threshold; a step off the picture counts as 0.
void flatSteps(const cv::Mat& grey, int threshold, std::vector<unsigned char>& toRight,
               std::vector<unsigned char>& toBelow) {
    const size_t pixels = size_t(grey.cols) * grey.rows;
    toRight.assign(pixels, 0 < threshold);
    toBelow.assign(pixels, 0 < threshold);
    for (int y = 0; y < grey.rows; ++y)
        for (int x = 0; x < grey.cols; ++x) {
            const size_t p = size_t(y) * grey.cols + x;
            const int here = grey.at<uchar>(y, x);
            if (x + 1 < grey.cols) toRight[p] = std::abs(here - grey.at<uchar>(y, x + 1)) < threshold;
            if (y + 1 < grey.rows) toBelow[p] = std::abs(here - grey.at<uchar>(y + 1, x)) < threshold;
        }
}

}  // namespace

void Matcher::prepare(const cv::Mat& left, const cv::Mat& right, const GCState& state) {
    width_ = left.cols;
    height_ = left.rows;
    minDisparity_ = state.minDisparity;
    numberOfDisparities_ = state.numberOfDisparities;
    intensityThreshold_ = state.Ithreshold;
    followed_.clear();  // the keeping data was weighed for the pair before
    CV_Assert(left.type() == CV_8UC1 && right.type() == CV_8UC1 && left.size() == right.size());
    halfwayRanges(left, left2_, leftMin2_, leftMax2_);
    halfwayRanges(right, right2_, rightMin2_, rightMax2_);
    flatSteps(left, intensityThreshold_, leftFlatRight_, leftFlatDown_);
    flatSteps(right, intensityThreshold_, rightFlatRight_, rightFlatDown_);
    deriveWeights(state);
    // A double match can save at most one assignment's K and its four
    // smoothness penalties; a capacity above that is never worth cutting.
    const std::int64_t largestSaving =
        std::int64_t(weights_.K) + 4 * std::int64_t(std::max(weights_.lambda1, weights_.lambda2)) + 1;
    forbidden_ = int(std::max<std::int64_t>(state.occlusionCost, largestSaving));
    // No cut exceeds what all terminal edges carry: at most two nodes a pixel,
    // each with one data term and four smoothness terms.
    const std::int64_t perNode = std::int64_t(kGCDataCostCap) + largestSaving;
    exactInInt_ = 2 * std::int64_t(width_) * height_ * perNode < (std::int64_t(1) << 30);
}

bool Matcher::hasAssignment(int x, int y, int d) const {
    return x >= 0 && x < width_ && y >= 0 && y < height_ && x - d >= 0 && x - d < width_;
}

int Matcher::dataCost(int x, int y, int d) const { return costOf(index(x, y), d); }

// The k-th smallest cost of all pixels of a row at once, by halving the
// range of costs it may be: counting a row's costs under a bound is one
// straight loop per disparity, which the compiler vectorises, whereas a
// selection per pixel branches where the processor cannot foresee it.
int Matcher::typicalCost(int k) const {
    constexpr int kHalvings = 12, kNoCost = kGCDataCostCap + 1;
    static_assert(kNoCost <= 1 << kHalvings, "the halvings narrow every range of costs to one");
    std::vector<int> rowCosts(size_t(numberOfDisparities_) * width_);  // by disparity, then column
    std::vector<int> wanted(width_), lowest(width_), highest(width_), middle(width_), counts(width_);
    std::int64_t sum = 0;
    long counted = 0;
    for (int y = 0; y < height_; ++y) {
        for (int i = 0; i < numberOfDisparities_; ++i) {
            const int d = minDisparity_ + i;
            int* costs = &rowCosts[size_t(i) * width_];
            // Only the columns whose right pixel x - d lies inside the picture.
            const int from = std::clamp(d, 0, width_), to = std::clamp(width_ + d, 0, width_);
            std::fill(costs, costs + from, kNoCost);
            for (int x = from, p = index(from, y); x < to; ++x, ++p) costs[x] = costOf(p, d);
            std::fill(costs + to, costs + width_, kNoCost);
        }
        for (int x = 0; x < width_; ++x) {
            const int assignable = std::min(maxDisparity(), x) - std::max(minDisparity_, x - width_ + 1) + 1;
            wanted[x] = std::clamp(assignable, 0, k);
            lowest[x] = 0;
            highest[x] = kGCDataCostCap;
        }
        for (int halving = 0; halving < kHalvings; ++halving) {
            for (int x = 0; x < width_; ++x) middle[x] = (lowest[x] + highest[x]) / 2;
            std::fill(counts.begin(), counts.end(), 0);
            for (int i = 0; i < numberOfDisparities_; ++i) {
                const int* costs = &rowCosts[size_t(i) * width_];
                for (int x = 0; x < width_; ++x) counts[x] += costs[x] <= middle[x];
            }
            for (int x = 0; x < width_; ++x) {
                const bool enough = counts[x] >= wanted[x];
                highest[x] = enough ? middle[x] : highest[x];
                lowest[x] = enough ? lowest[x] : middle[x] + 1;
            }
        }
        for (int x = 0; x < width_; ++x)
            if (wanted[x] > 0) {
                sum += lowest[x];
                ++counted;
            }
    }
    return counted > 0 ? int(std::lround(double(sum) / counted)) : 0;
}

void Matcher::deriveWeights(const GCState& state) {
    int K = state.K;
    if (K < 0) K = typicalCost(std::max(1, (numberOfDisparities_ + 2) / 4));
    lambda_ = state.lambda >= 0 ? state.lambda : int(std::lround(K / 5.0));
    weights_.K = K;
    weights_.lambda1 = state.lambda1 >= 0 ? state.lambda1 : 3 * lambda_;
    weights_.lambda2 = state.lambda2 >= 0 ? state.lambda2 : lambda_;
}

std::int64_t Matcher::energy(const Labeling& labels) const {
    std::int64_t total = 0;
    for (int y = 0; y < height_; ++y)
        for (int x = 0; x < width_; ++x) {
            const int p = index(x, y);
            const int d = labels[p];
            if (d != kOccluded) total += costOf(p, d) - weights_.K;
            auto exists = [&](bool down, int disparity) {
                return x - disparity >= 0 && x - disparity + (down ? 0 : 1) < width_;
            };
            for (const bool down : {false, true}) {
                if (down ? y + 1 >= height_ : x + 1 >= width_) continue;
                const int nd = labels[down ? p + width_ : p + 1];
                if (d == nd) continue;  // both occluded, or one surface
                // Each active side pays where its partner assignment exists but is off.
                if (d != kOccluded && exists(down, d)) total += pairCost(p, down, d);
                if (nd != kOccluded && exists(down, nd)) total += pairCost(p, down, nd);
            }
        }
    return total;
}

bool Matcher::isConsistent(const Labeling& labels) const {
    if (labels.size() != size_t(width_) * height_) return false;
    std::vector<char> taken(labels.size(), 0);
    for (int y = 0; y < height_; ++y)
        for (int x = 0; x < width_; ++x) {
            const int d = labels[index(x, y)];
            if (d == kOccluded) continue;
            if (d < minDisparity_ || d > maxDisparity() || !hasAssignment(x, y, d)) return false;
            char& right = taken[index(x - d, y)];
            if (right) return false;
            right = 1;
        }
    return true;
}

std::int64_t Matcher::expansionMove(const Labeling& current, int alpha, Labeling& proposal) {
    return exactInInt_ ? expandWith(intGraph_, current, alpha, proposal)
                       : expandWith(wideGraph_, current, alpha, proposal);
}

// An alpha assignment whose own cost outweighs everything its neighbours
// could pay it for being active is off in some best move: switching it off
// never raises the energy, whatever the rest does. Likewise a current
// assignment that no alpha assignment competes with, and whose worth
// outweighs everything its neighbours could pay it for leaving, is kept in
// some best move. Settling one such assignment can settle its neighbours in
// turn; leaving all of them out of the graph keeps the cut exact and makes
// it much smaller.
template <class Visit>
void Matcher::sweepForwardThenBackward(Visit visit) const {
    for (int y = 0, p = 0; y < height_; ++y)
        for (int x = 0; x < width_; ++x, ++p) visit(x, p);
    for (int y = height_ - 1, p = width_ * height_ - 1; y >= 0; --y)
        for (int x = width_ - 1; x >= 0; --x, --p) visit(x, p);
}

// What keeping p's current match is worth on its own: its data cost, and the
// pairs whose partner is off and stays off; and its pairs with the
// neighbours right and below that share its disparity.
void Matcher::weighKeeping(const Labeling& current, int x, int y) {
    const int p = index(x, y), d = current[p];
    keepRight_[p] = keepDown_[p] = -1;
    if (d == kOccluded) return;
    std::int64_t worth = costOf(p, d) - weights_.K;
    auto weigh = [&](int q, int v, int& samePair) {
        if (v < 0) return;
        if (current[q] != d)
            worth += v;
        else if (q > p)
            samePair = v;
    };
    int unused = 0;
    if (x + 1 < width_) weigh(p + 1, penalty(p, x, false, d), keepRight_[p]);
    if (y + 1 < height_) weigh(p + width_, penalty(p, x, true, d), keepDown_[p]);
    if (x > 0) weigh(p - 1, penalty(p - 1, x - 1, false, d), unused);
    if (y > 0) weigh(p - width_, penalty(p - width_, x, true, d), unused);
    keepWorth_[p] = worth;
}

// Keeping a match is worth the same in every move until the labeling changes
// around it; successive moves change few pixels, so only those and their
// neighbours are weighed again.
void Matcher::followLabeling(const Labeling& current) {
    const int pixels = width_ * height_;
    changed_.clear();
    if (followed_.size() == size_t(pixels))
        for (int p = 0; p < pixels; ++p)
            if (followed_[p] != current[p]) changed_.push_back(p);
    if (followed_.size() != size_t(pixels) || changed_.size() > size_t(pixels / 8)) {
        followed_ = current;
        keepWorth_.resize(pixels);
        keepRight_.resize(pixels);
        keepDown_.resize(pixels);
        rightOwner_.assign(pixels, -1);
        for (int y = 0, p = 0; y < height_; ++y)
            for (int x = 0; x < width_; ++x, ++p) {
                if (current[p] != kOccluded) rightOwner_[p - current[p]] = p;
                weighKeeping(current, x, y);
            }
        return;
    }
    for (const int p : changed_)
        if (const int d = followed_[p]; d != kOccluded && rightOwner_[p - d] == p) rightOwner_[p - d] = -1;
    for (const int p : changed_) {
        followed_[p] = current[p];
        if (current[p] != kOccluded) rightOwner_[p - current[p]] = p;
    }
    for (const int p : changed_) {
        const int x = p % width_, y = p / width_;
        weighKeeping(current, x, y);
        if (x > 0) weighKeeping(current, x - 1, y);
        if (x + 1 < width_) weighKeeping(current, x + 1, y);
        if (y > 0) weighKeeping(current, x, y - 1);
        if (y + 1 < height_) weighKeeping(current, x, y + 1);
    }
}

void Matcher::assignRoles(const Labeling& current, int alpha) {
    const int pixels = width_ * height_;
    followLabeling(current);
    alphaCost_.resize(pixels);
    alphaRoles_.resize(pixels);
    keepRoles_.resize(pixels);
    alphaRight_.resize(pixels);
    alphaDown_.resize(pixels);
    // Columns whose right pixel at alpha lies inside the picture.
    const int from = std::clamp(alpha, 0, width_), to = std::clamp(width_ + alpha, 0, width_);
    for (int y = 0; y < height_; ++y) {
        const int row = index(0, y);
        for (int x = 0, p = row; x < width_; ++x, ++p) {
            const int d = current[p];
            keepRoles_[p] = d == kOccluded || d == alpha ? KeepRole::None : KeepRole::Node;
            const bool hasAlpha = x >= from && x < to;
            alphaRoles_[p] = d == alpha ? AlphaRole::Active : hasAlpha ? AlphaRole::Node : AlphaRole::Missing;
            alphaCost_[p] = alphaRight_[p] = alphaDown_[p] = -1;
        }
        // Straight loops without branches, which the compiler vectorises.
        for (int p = row + from; p < row + to; ++p) alphaCost_[p] = costOf(p, alpha);
        for (int p = row + from; p + 1 < row + to; ++p) alphaRight_[p] = pairCost(p, false, alpha);
        if (y + 1 < height_)
            for (int p = row + from; p < row + to; ++p) alphaDown_[p] = pairCost(p, true, alpha);
    }

    // Assignments left off settle their neighbours: once forward, once backward.
    sweepForwardThenBackward([&](int, int p) {
        if (alphaRoles_[p] == AlphaRole::Node && alphaIsAlwaysOff(p)) alphaRoles_[p] = AlphaRole::Off;
    });
    // Kept matches settle their neighbours likewise.
    sweepForwardThenBackward([&](int x, int p) {
        if (keepRoles_[p] == KeepRole::Node && keepIsAlwaysKept(current[p] - alpha, x, p))
            keepRoles_[p] = KeepRole::Kept;
    });
}

// Inline, as are the two tests built on it: the sweeps ask them of nearly
// every pixel in every move.
template <class Role>
inline std::pair<std::int64_t, std::int64_t> Matcher::weighPairs(int p, const std::vector<int>& right,
                                                                 const std::vector<int>& down,
                                                                 const std::vector<Role>& roles,
                                                                 Role settled) const {
    std::int64_t all = 0, withSettled = 0;
    // A missing pair is -1; the left pair of a row's first pixel is the
    // previous row's last, which has no right pair.
    auto weigh = [&](int v, int q) {
        if (v < 0) return;
        all += v;
        withSettled += roles[q] == settled ? v : 0;
    };
    weigh(right[p], p + 1);
    if (p > 0) weigh(right[p - 1], p - 1);
    weigh(down[p], p + width_);
    if (p >= width_) weigh(down[p - width_], p - width_);
    return {all, withSettled};
}

// Neighbours active at alpha pay their pair the same either way, so p's
// alpha assignment pays for being on its cost and its pairs with the
// neighbours off for good, and saves the pairs with those still undecided:
//   cost - K + off >= all - off.
inline bool Matcher::alphaIsAlwaysOff(int p) const {
    const auto [all, off] = weighPairs(p, alphaRight_, alphaDown_, alphaRoles_, AlphaRole::Off);
    return alphaCost_[p] - weights_.K + 2 * off >= all;
}

// shift: the current disparity minus alpha. Kept if its worth and the
// pairs with undecided neighbours together cost no more than the pairs with
// the kept neighbours it would break.
inline bool Matcher::keepIsAlwaysKept(int shift, int x, int p) const {
    if (alphaRoles_[p] == AlphaRole::Node) return false;
    const int rivalX = x - shift;  // whose alpha match takes p's right pixel
    if (rivalX >= 0 && rivalX < width_ && alphaRoles_[p - shift] == AlphaRole::Node) return false;
    const auto [all, kept] = weighPairs(p, keepRight_, keepDown_, keepRoles_, KeepRole::Kept);
    return keepWorth_[p] + all <= 2 * kept;
}

// Node variables: x = 0 is the source side, x = 1 the sink side. A current
// assignment stays active at x = 0, an alpha assignment becomes active at
// x = 1; with this flip every term of the move is submodular. Slots of a
// node's arcs: 0 right, 1 left, 2 below, 3 above (the same kind of node), 4
// the other node of the same left pixel, 5 the node competing for the same
// right pixel.
template <class Cap>
std::int64_t Matcher::expandWith(SlotGraph<Cap>& graph, const Labeling& current, int alpha,
                                 Labeling& proposal) {
    assignRoles(current, alpha);
    const int pixels = width_ * height_;
    keepNode_.resize(pixels);
    alphaNode_.resize(pixels);
    int nodes = 0;
    for (int p = 0; p < pixels; ++p) {
        keepNode_[p] = keepRoles_[p] == KeepRole::Node ? ++nodes : -1;
        alphaNode_[p] = alphaRoles_[p] == AlphaRole::Node ? ++nodes : -1;
    }
    graph.reset(nodes);

    std::int64_t constant = 0;
    // A node's two costs, x = 0 and x = 1: the part they share is a
    // constant, the difference a terminal capacity.
    auto setUnary = [&](int node, std::int64_t ifSource, std::int64_t ifSink) {
        constant += std::min(ifSource, ifSink);
        graph.setTerminal(node, Cap(ifSink - ifSource));
    };
    // Neighbours of p right, left, below and above, in the order of their
    // arc slots; a missing pair is -1 (the left pair of a row's first pixel is
    // the previous row's last, which has no right pair).
    auto neighbours = [&](int p) { return std::array<int, 4>{p + 1, p - 1, p + width_, p - width_}; };
    auto pairsOf = [&](const std::vector<int>& right, const std::vector<int>& down, int p) {
        return std::array<int, 4>{right[p], p > 0 ? right[p - 1] : -1, down[p], p >= width_ ? down[p - width_] : -1};
    };
    auto addKeepNode = [&](int x, int p, int node) {
        graph.clearArcs(node);
        const auto around = neighbours(p);
        const auto pairs = pairsOf(keepRight_, keepDown_, p);
        // Two current matches at one disparity pay v when exactly one is kept.
        std::int64_t ifSink = 0;
        for (int slot = 0; slot < 4; ++slot) {
            const int v = pairs[slot];
            if (v < 0) continue;
            const int other = keepNode_[around[slot]];
            if (other >= 0)
                graph.setArc(node, slot, other, Cap(v));
            else
                ifSink += v;  // that neighbour is kept
        }
        // The left pixel and the right pixel of an alpha assignment
        // may each be matched once only: keeping the old match and
        // taking the new one at once is forbidden.
        if (alphaNode_[p] >= 0) graph.setArc(node, 4, alphaNode_[p], Cap(forbidden_));
        const int rivalX = x - current[p] + alpha;
        if (rivalX >= 0 && rivalX < width_ && alphaNode_[p - current[p] + alpha] >= 0)
            graph.setArc(node, 5, alphaNode_[p - current[p] + alpha], Cap(forbidden_));
        setUnary(node, keepWorth_[p], ifSink);
    };
    auto addAlphaNode = [&](int p, int node) {
        graph.clearArcs(node);
        const auto around = neighbours(p);
        const auto pairs = pairsOf(alphaRight_, alphaDown_, p);
        std::int64_t ifSource = 0, ifSink = alphaCost_[p] - weights_.K;
        for (int slot = 0; slot < 4; ++slot) {
            const int v = pairs[slot];
            if (v < 0) continue;
            const int q = around[slot];
            if (alphaRoles_[q] == AlphaRole::Node)
                graph.setArc(node, slot, alphaNode_[q], Cap(v));
            else
                (alphaRoles_[q] == AlphaRole::Active ? ifSource : ifSink) += v;
        }
        if (keepNode_[p] >= 0) graph.setArc(node, 4, keepNode_[p], 0);
        const int owner = rightOwner_[p - alpha];
        if (owner >= 0 && owner != p && keepNode_[owner] >= 0) graph.setArc(node, 5, keepNode_[owner], 0);
        setUnary(node, ifSource, ifSink);
    };
    for (int y = 0; y < height_; ++y)
        for (int x = 0, p = index(0, y); x < width_; ++x, ++p) {
            if (keepRoles_[p] == KeepRole::Kept) constant += keepWorth_[p];
            if (keepNode_[p] >= 0) addKeepNode(x, p, keepNode_[p]);
            const AlphaRole role = alphaRoles_[p];
            if (role == AlphaRole::Node) {
                addAlphaNode(p, alphaNode_[p]);
                continue;
            }
            if (role == AlphaRole::Active) constant += alphaCost_[p] - weights_.K;
            // A pair of settled alpha assignments pays when exactly one is active.
            for (const auto& [v, q] : {std::pair{alphaRight_[p], p + 1}, {alphaDown_[p], p + width_}}) {
                if (v < 0) continue;
                const AlphaRole other = alphaRoles_[q];
                if (other != AlphaRole::Node && other != role) constant += v;
            }
        }
    const std::int64_t flow = std::int64_t(graph.maxflow());

    proposal = current;
    for (int p = 0; p < pixels; ++p) {
        if (keepNode_[p] >= 0 && graph.onSinkSide(keepNode_[p])) proposal[p] = kOccluded;
        if (alphaNode_[p] >= 0 && graph.onSinkSide(alphaNode_[p])) proposal[p] = alpha;
    }
    return constant + flow;
}

Labeling Matcher::run(int maxIters, bool randomOrder, GCReport* report) {
    Labeling labels(size_t(width_) * height_, kOccluded);
    std::int64_t currentEnergy = energy(labels);
    if (report) report->energies.push_back(currentEnergy);

    std::vector<int> order(numberOfDisparities_);
    std::iota(order.begin(), order.end(), minDisparity_);
    std::mt19937 shuffler(20011);  // repeatable: the same pictures give the same map
    Labeling proposal;
    for (int pass = 0; pass < maxIters; ++pass) {
        if (randomOrder) std::shuffle(order.begin(), order.end(), shuffler);
        bool improved = false;
        for (int alpha : order) {
            // The cut's value is the proposal's energy: the move may always
            // keep everything, so it never exceeds the current energy.
            const std::int64_t proposedEnergy = expansionMove(labels, alpha, proposal);
            if (report) ++report->movesTried;
            const bool settled = pass > 0 && gainIsTiny(currentEnergy - proposedEnergy, currentEnergy);
            if (proposedEnergy <= currentEnergy) {
                improved = improved || proposedEnergy < currentEnergy;
                labels.swap(proposal);
                currentEnergy = proposedEnergy;
                if (report) ++report->movesAccepted;
            }
            if (report) report->energies.push_back(currentEnergy);
            if (settled) return labels;
        }
        if (!improved) break;
    }
    return labels;
}

// After the first pass the map is nearly settled: later moves shift a few
// dozen pixels each, yet each costs as much time as a first-pass move. Once
// one of them gains less than a two-thousandth of the energy, the rest of
// its pass is not worth a frame's time: on the Aloe pair the longer second
// pass got no more matches right.
bool Matcher::gainIsTiny(std::int64_t gain, std::int64_t energy) {
    constexpr std::int64_t kTinyShare = 2000;
    return gain * kTinyShare < (energy < 0 ? -energy : energy);
}

}  // namespace gc

GCState createStereoGCState(int numberOfDisparities, int maxIters) {
    GCState state;
    state.numberOfDisparities = numberOfDisparities;
    state.maxIters = maxIters;
    state.workspace = std::make_shared<GCWorkspace>();
    return state;
}

namespace {

bool fail(std::string* error, const std::string& why) {
    if (error) *error = why;
    return false;
}

bool toGrey(const cv::Mat& picture, cv::Mat& grey) {
    if (picture.depth() != CV_8U) return false;
    if (picture.channels() == 1)
        grey = picture;
    else if (picture.channels() == 3)
        cv::cvtColor(picture, grey, cv::COLOR_BGR2GRAY);
    else if (picture.channels() == 4)
        cv::cvtColor(picture, grey, cv::COLOR_BGRA2GRAY);
    else
        return false;
    return true;
}

bool checkSettings(const GCState& state, std::string* error) {
    if (state.numberOfDisparities < 1 || state.numberOfDisparities > 1024)
        return fail(error, "number of disparities must be 1..1024, not " +
                               std::to_string(state.numberOfDisparities));
    if (std::abs(state.minDisparity) > 4096)
        return fail(error, "minimum disparity out of range: " + std::to_string(state.minDisparity));
    if (state.maxIters < 0) return fail(error, "negative number of passes");
    if (state.interactionRadius != 1)
        return fail(error, "only interaction radius 1 is supported, not " +
                               std::to_string(state.interactionRadius));
    if (state.K > 1000000 || state.lambda > 1000000 || state.lambda1 > 1000000 ||
        state.lambda2 > 1000000 || state.occlusionCost > 100000000)
        return fail(error, "graph-cut weights too large");
    return true;
}

}  // namespace

bool findStereoCorrespondenceGC(const cv::Mat& left, const cv::Mat& right, cv::Mat& dispLeft,
                                cv::Mat& dispRight, const GCState& state, std::string* error,
                                GCReport* report) {
    if (left.empty() || right.empty()) return fail(error, "empty picture");
    if (left.size() != right.size())
        return fail(error, "pictures differ in size: " + std::to_string(left.cols) + "x" +
                               std::to_string(left.rows) + " and " + std::to_string(right.cols) +
                               "x" + std::to_string(right.rows));
    if (long(left.cols) * left.rows > kGCMaxPixels)
        return fail(error, "pictures too large for graph cuts: " + std::to_string(left.cols) +
                               "x" + std::to_string(left.rows) + " (at most " +
                               std::to_string(kGCMaxPixels) + " pixels)");
    if (!checkSettings(state, error)) return false;
    cv::Mat leftGrey, rightGrey;
    if (!toGrey(left, leftGrey) || !toGrey(right, rightGrey))
        return fail(error, "pictures must be 8-bit grey or colour");

    gc::Matcher ownMatcher;
    gc::Matcher& matcher = state.workspace ? state.workspace->matcher : ownMatcher;
    matcher.prepare(leftGrey, rightGrey, state);
    if (report) {
        *report = GCReport();
        report->K = matcher.weights().K;
        report->lambda = matcher.lambda();
        report->lambda1 = matcher.weights().lambda1;
        report->lambda2 = matcher.weights().lambda2;
    }
    const gc::Labeling labels = matcher.run(state.maxIters, state.randomOrder, report);

    dispLeft.create(left.size(), CV_16S);
    dispRight.create(left.size(), CV_16S);
    dispLeft.setTo(kGCOccluded);
    dispRight.setTo(kGCOccluded);
    for (int y = 0; y < left.rows; ++y)
        for (int x = 0; x < left.cols; ++x) {
            const int d = labels[size_t(y) * left.cols + x];
            if (d == gc::kOccluded) continue;
            dispLeft.at<short>(y, x) = short(-d);
            dispRight.at<short>(y, x - d) = short(d);
        }
    return true;
}
