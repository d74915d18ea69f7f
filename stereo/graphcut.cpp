#include "stereo/graphcut.h"

#include <maxflow.h>

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <new>
#include <numeric>
#include <random>
#include <string>

namespace gc {
namespace {

using IntGraph = maxflow::Graph<int, int, int>;
// For pictures and weights whose cuts could exceed an int: integer sums stay
// exact in double far beyond that.
using WideGraph = maxflow::Graph<double, double, double>;

void reportGraphFailure(const char*) { throw std::bad_alloc(); }

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

void greySteps(const cv::Mat& grey, std::vector<int>& toRight, std::vector<int>& toBelow) {
    const size_t pixels = size_t(grey.cols) * grey.rows;
    toRight.assign(pixels, 0);
    toBelow.assign(pixels, 0);
    for (int y = 0; y < grey.rows; ++y)
        for (int x = 0; x < grey.cols; ++x) {
            const size_t p = size_t(y) * grey.cols + x;
            const int here = grey.at<uchar>(y, x);
            if (x + 1 < grey.cols) toRight[p] = std::abs(here - grey.at<uchar>(y, x + 1));
            if (y + 1 < grey.rows) toBelow[p] = std::abs(here - grey.at<uchar>(y + 1, x));
        }
}

int distanceToRange(int value, int lowest, int highest) {
    return std::max({0, value - highest, lowest - value});
}

// One binary variable's two costs, netted into the graph at the end so that
// the part common to both counts as a constant.
struct UnaryCosts {
    std::int64_t ifSource = 0;  // x = 0
    std::int64_t ifSink = 0;    // x = 1
};

}  // namespace

Matcher::Matcher(const cv::Mat& left, const cv::Mat& right, const GCState& state)
    : width_(left.cols),
      height_(left.rows),
      minDisparity_(state.minDisparity),
      numberOfDisparities_(state.numberOfDisparities),
      intensityThreshold_(state.Ithreshold) {
    CV_Assert(left.type() == CV_8UC1 && right.type() == CV_8UC1 && left.size() == right.size());
    halfwayRanges(left, left2_, leftMin2_, leftMax2_);
    halfwayRanges(right, right2_, rightMin2_, rightMax2_);
    greySteps(left, leftStepRight_, leftStepDown_);
    greySteps(right, rightStepRight_, rightStepDown_);
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

int Matcher::dataCost(int x, int y, int d) const {
    const int p = index(x, y);
    const int r = p - d;
    const int leftToRight = distanceToRange(left2_[p], rightMin2_[r], rightMax2_[r]);
    const int rightToLeft = distanceToRange(right2_[r], leftMin2_[p], leftMax2_[p]);
    const int dissimilarity = std::min(leftToRight, rightToLeft);
    return std::min(dissimilarity * dissimilarity, kGCDataCostCap);
}

bool Matcher::pairExists(int p, bool down, int d) const {
    const int xr = p % width_ - d;
    return xr >= 0 && xr + (down ? 0 : 1) < width_;
}

int Matcher::pairCost(int p, bool down, int d) const {
    const int leftStep = down ? leftStepDown_[p] : leftStepRight_[p];
    const int rightStep = down ? rightStepDown_[p - d] : rightStepRight_[p - d];
    return std::max(leftStep, rightStep) < intensityThreshold_ ? weights_.lambda1
                                                                : weights_.lambda2;
}

int Matcher::kthSmallestCost(int x, int y, int k) const {
    std::vector<int> costs;
    costs.reserve(numberOfDisparities_);
    for (int d = minDisparity_; d <= maxDisparity(); ++d)
        if (hasAssignment(x, y, d)) costs.push_back(dataCost(x, y, d));
    if (costs.empty()) return -1;
    const int at = std::min<int>(k, costs.size()) - 1;
    std::nth_element(costs.begin(), costs.begin() + at, costs.end());
    return costs[at];
}

void Matcher::deriveWeights(const GCState& state) {
    int K = state.K;
    if (K < 0) {
        const int k = std::max(1, (numberOfDisparities_ + 2) / 4);
        double sum = 0;
        long counted = 0;
        for (int y = 0; y < height_; ++y)
            for (int x = 0; x < width_; ++x) {
                const int cost = kthSmallestCost(x, y, k);
                if (cost >= 0) {
                    sum += cost;
                    ++counted;
                }
            }
        K = counted > 0 ? int(std::lround(sum / counted)) : 0;
    }
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
            if (d != kOccluded) total += dataCost(x, y, d) - weights_.K;
            for (const bool down : {false, true}) {
                if (down ? y + 1 >= height_ : x + 1 >= width_) continue;
                const int nd = labels[down ? p + width_ : p + 1];
                if (d == nd) continue;  // both occluded, or one surface
                // Each active side pays where its partner assignment exists but is off.
                if (d != kOccluded && pairExists(p, down, d)) total += pairCost(p, down, d);
                if (nd != kOccluded && pairExists(p, down, nd)) total += pairCost(p, down, nd);
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
    return exactInInt_ ? expandWith<IntGraph>(current, alpha, proposal)
                       : expandWith<WideGraph>(current, alpha, proposal);
}

// Node variables: x = 0 is the source side, x = 1 the sink side. A current
// assignment stays active at x = 0, an alpha assignment becomes active at
// x = 1; with this flip every term of the move is submodular.
template <class FlowGraph>
std::int64_t Matcher::expandWith(const Labeling& current, int alpha, Labeling& proposal) {
    const int pixels = width_ * height_;
    std::vector<int> keepNode(pixels, -1), alphaNode(pixels, -1);
    std::vector<int> rightOwner(pixels, -1);
    const std::vector<AlphaRole> roles = alphaRoles(current, alpha);
    int nodes = 0;
    for (int p = 0; p < pixels; ++p) {
        const int d = current[p];
        if (d != kOccluded) rightOwner[p - d] = p;
        if (d != kOccluded && d != alpha) keepNode[p] = nodes++;
        if (roles[p] == AlphaRole::Node) alphaNode[p] = nodes++;
    }

    FlowGraph graph(std::max(nodes, 1), std::max(4 * nodes, 1), reportGraphFailure);
    if (nodes > 0) graph.add_node(nodes);
    std::vector<UnaryCosts> unary(nodes);
    std::int64_t constant = 0;

    // A pair of alpha assignments pays v when exactly one of them is active.
    auto addAlphaPair = [&](int p, int q, int v) {
        const AlphaRole a = roles[p], b = roles[q];
        if (a == AlphaRole::Node && b == AlphaRole::Node)
            graph.add_edge(alphaNode[p], alphaNode[q], v, v);
        else if (a == AlphaRole::Node)
            (b == AlphaRole::Active ? unary[alphaNode[p]].ifSource : unary[alphaNode[p]].ifSink) += v;
        else if (b == AlphaRole::Node)
            (a == AlphaRole::Active ? unary[alphaNode[q]].ifSource : unary[alphaNode[q]].ifSink) += v;
        else if (a != b)
            constant += v;  // one stays active, the other stays off
    };

    for (int y = 0; y < height_; ++y)
        for (int x = 0; x < width_; ++x) {
            const int p = index(x, y);
            const int d = current[p];
            if (d == alpha) constant += dataCost(x, y, alpha) - weights_.K;
            if (keepNode[p] >= 0) unary[keepNode[p]].ifSource += dataCost(x, y, d) - weights_.K;
            if (alphaNode[p] >= 0) {
                const int node = alphaNode[p];
                unary[node].ifSink += dataCost(x, y, alpha) - weights_.K;
                // The left pixel and the right pixel of this assignment may
                // each be matched once only: keeping the old match and taking
                // this one at once is forbidden.
                if (keepNode[p] >= 0) graph.add_edge(keepNode[p], node, forbidden_, 0);
                const int owner = rightOwner[p - alpha];
                if (owner >= 0 && owner != p && keepNode[owner] >= 0)
                    graph.add_edge(keepNode[owner], node, forbidden_, 0);
            }
            for (const bool down : {false, true}) {
                if (down ? y + 1 >= height_ : x + 1 >= width_) continue;
                const int q = down ? p + width_ : p + 1;
                const int dq = current[q];
                // Current assignments (never at alpha): a partner that is off
                // stays off, so only the kept side can pay.
                if (keepNode[p] >= 0 && pairExists(p, down, d)) {
                    const int v = pairCost(p, down, d);
                    if (dq == d)
                        graph.add_edge(keepNode[p], keepNode[q], v, v);
                    else
                        unary[keepNode[p]].ifSource += v;
                }
                if (keepNode[q] >= 0 && dq != d && pairExists(p, down, dq))
                    unary[keepNode[q]].ifSource += pairCost(p, down, dq);
                if (pairExists(p, down, alpha)) addAlphaPair(p, q, pairCost(p, down, alpha));
            }
        }

    for (int node = 0; node < nodes; ++node) {
        const std::int64_t common = std::min(unary[node].ifSource, unary[node].ifSink);
        constant += common;
        graph.add_tweights(node, decltype(graph.maxflow())(unary[node].ifSink - common),
                           decltype(graph.maxflow())(unary[node].ifSource - common));
    }
    const std::int64_t flow = nodes > 0 ? std::llround(double(graph.maxflow())) : 0;

    proposal = current;
    for (int p = 0; p < pixels; ++p) {
        if (keepNode[p] >= 0 && graph.what_segment(keepNode[p]) == FlowGraph::SINK)
            proposal[p] = kOccluded;
        if (alphaNode[p] >= 0 && graph.what_segment(alphaNode[p]) == FlowGraph::SINK)
            proposal[p] = alpha;
    }
    return constant + flow;
}

// An alpha assignment whose own cost outweighs everything its neighbours
// could pay it for being active is off in some best move: switching it off
// never raises the energy, whatever the rest does. Leaving such assignments
// out of the graph keeps the cut exact and makes it much smaller.
std::vector<Matcher::AlphaRole> Matcher::alphaRoles(const Labeling& current, int alpha) const {
    std::vector<AlphaRole> roles(current.size(), AlphaRole::Missing);
    for (int y = 0; y < height_; ++y)
        for (int x = 0; x < width_; ++x) {
            const int p = index(x, y);
            if (current[p] == alpha) {
                roles[p] = AlphaRole::Active;
                continue;
            }
            if (!hasAssignment(x, y, alpha)) continue;
            std::int64_t costIfOn = dataCost(x, y, alpha) - weights_.K;
            std::int64_t costIfOff = 0, neighbourPull = 0;
            const int neighbours[4][3] = {{x + 1, y, p}, {x, y + 1, p},
                                          {x - 1, y, p - 1}, {x, y - 1, p - width_}};
            for (int i = 0; i < 4; ++i) {
                const int nx = neighbours[i][0], ny = neighbours[i][1];
                if (!hasAssignment(nx, ny, alpha)) continue;
                const int v = pairCost(neighbours[i][2], i % 2 == 1, alpha);
                if (current[index(nx, ny)] == alpha)
                    costIfOff += v;
                else
                    neighbourPull += v;
            }
            roles[p] = costIfOn - costIfOff >= neighbourPull ? AlphaRole::Off : AlphaRole::Node;
        }
    return roles;
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
            expansionMove(labels, alpha, proposal);
            const std::int64_t proposedEnergy = energy(proposal);
            if (report) ++report->movesTried;
            // The cut is exact, so a rise could only come from a fault; never take one.
            if (proposedEnergy <= currentEnergy && isConsistent(proposal)) {
                improved = improved || proposedEnergy < currentEnergy;
                labels.swap(proposal);
                currentEnergy = proposedEnergy;
                if (report) ++report->movesAccepted;
            }
            if (report) report->energies.push_back(currentEnergy);
        }
        if (!improved) break;
    }
    return labels;
}

}  // namespace gc

GCState createStereoGCState(int numberOfDisparities, int maxIters) {
    GCState state;
    state.numberOfDisparities = numberOfDisparities;
    state.maxIters = maxIters;
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

    gc::Matcher matcher(leftGrey, rightGrey, state);
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
