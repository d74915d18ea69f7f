#pragma once
// Depth from the robot's two cameras: graph-cut stereo, the block matcher as
// the block-matching mode sets it up, and the measuring steps of that mode.

#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct GCWorkspace;

// Value of an occluded pixel in both graph-cut disparity maps.
constexpr short kGCOccluded = 32767;

// Settings of the graph-cut matcher. A negative K, lambda, lambda1 or lambda2
// is derived from the pictures on every call (Kolmogorov and Zabih 2001):
// K = mean over the left pixels of the k-th smallest data cost, k =
// (numberOfDisparities + 2) / 4; lambda = K / 5; lambda1 = 3 lambda;
// lambda2 = lambda.
// Costs are integers in squared half grey levels: a data cost is
// (2 x Birchfield-Tomasi dissimilarity)^2, capped at kGCDataCostCap.
struct GCState {
    int numberOfDisparities = 16;
    int minDisparity = 0;
    int maxIters = 2;           // passes of expansions over all disparities, at most: a later
                                // pass ends at its first move that gains next to nothing
    int Ithreshold = 5;         // neighbours closer in grey than this pay lambda1, else lambda2
    int interactionRadius = 1;  // 1: Potts model over the four neighbours (the only one supported)
    int occlusionCost = 10000;  // capacity that keeps a pixel from being matched twice
                                // (raised when K and lambda could pay for a double match)
    int K = -1;                 // what leaving one match out costs
    int lambda = -1;
    int lambda1 = -1;           // smoothness penalty inside a uniform surface
    int lambda2 = -1;           // smoothness penalty across a grey-level edge
    bool randomOrder = true;    // expansions in a shuffled (but repeatable) order
    // The matcher's memory, kept from one call to the next so that a frame
    // does not fault in fresh pages for its graph (createStereoGCState makes
    // one; without it every call allocates its own). Copies of a state share
    // it: match with one state per thread.
    std::shared_ptr<GCWorkspace> workspace;
};
constexpr int kGCDataCostCap = 3600;

// The settings of the graph-cuts mode: 16 disparities from 0, 2 passes.
GCState createStereoGCState(int numberOfDisparities, int maxIters);

// What one call found and used.
struct GCReport {
    int K = 0, lambda = 0, lambda1 = 0, lambda2 = 0;  // the values actually used
    int movesTried = 0;
    int movesAccepted = 0;
    std::vector<std::int64_t> energies;  // energy before the first move and after each move
};

// Graph-cut stereo with occlusions. left and right: 8-bit grey (or BGR, made
// grey) pictures of one size. dispLeft / dispRight become CV_16S maps: a left
// pixel whose match lies at x - d in the right picture holds -d, the matched
// right pixel holds +d, unmatched pixels hold kGCOccluded.
// Returns false with a one-line reason in *error for unusable input: empty or
// differently sized pictures, bad settings, or pictures too large to match in
// bounded memory (more than kGCMaxPixels pixels).
bool findStereoCorrespondenceGC(const cv::Mat& left, const cv::Mat& right, cv::Mat& dispLeft,
                                cv::Mat& dispRight, const GCState& state,
                                std::string* error = nullptr, GCReport* report = nullptr);
constexpr long kGCMaxPixels = 1024L * 768L;

// The block matcher of the block-matching mode: pre-filter x-Sobel of size 41,
// cap 31, window 41, disparities -64..63, texture threshold 10, uniqueness 15,
// no speckle filtering, no left-right check. Output: CV_16S, sixteenths of a
// pixel, (minDisparity - 1) x 16 where no disparity was found.
cv::Ptr<cv::StereoBM> createRobotStereoBM();

// Centre of the non-zero pixels of img after stretching it to 0..255, in the
// coordinates of the view. img is modified. A picture without such pixels
// (uniform, or empty) gives (-1, -1).
cv::Point COG(cv::Mat& img);
// Centre of the pixels that were below the picture's maximum; img is left
// inverted and stretched. (-1, -1) when there are none.
cv::Point AntiCOG(cv::Mat& img);

// The block-matching mode's measuring region for a view of size w x h:
// left w/4, top h/24, width w - w/4 - w/6, height h - 2 (h/24).
cv::Rect stereoMeasuringRegion(int width, int height);

// Bright and dark centres of a scaled (8-bit) disparity view, in view
// coordinates, as the block-matching mode finds them: Otsu threshold of the
// measuring region, dilate 1 + 20, bright centre; dilate 20, erode 20, invert,
// erode 20, dark centre. A region without pixels to count gives its own centre.
struct DepthCentres {
    cv::Point bright;
    cv::Point dark;
};
DepthCentres findDepthCentres(const cv::Mat& disparityView8u);

// The block-matching mode's distance estimate: the maxima of the last five
// frames' disparities; 1000 / their mean, 0 while the mean is 0.
class DisparityRing {
public:
    void clear();
    void push(double maximumDisparity);
    double distanceValue() const;

private:
    double slots_[5] = {0, 0, 0, 0, 0};
    int next_ = 0;
};

// Pan step of the block-matching mode: +3 when the dark centre lies left of
// the region's middle by more than 3 pixels, -3 when right of it, else 0.
int panStepTowards(const cv::Rect& region, cv::Point darkCentre);

// Scales a 16-bit disparity map into an 8-bit view: scale K / (max - min) +
// 0.01, shift -min K1 / (max - min). Returns false (view untouched) when the
// map is flat.
bool scaleDisparityView(const cv::Mat& disparity16, cv::Mat& view8u, int K, int K1);
// The graph-cuts mode's view of its left map: scale K / (32 (max - min)) - 16,
// same shift. Returns false (view untouched) when the map is flat.
bool scaleGCDisparityView(const cv::Mat& disparity16, cv::Mat& view8u, int K, int K1);
