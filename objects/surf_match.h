#pragma once
// Finding a flat object in a picture: nearest-neighbour matching of SURF descriptors with
// the distance-ratio test, and a plane-to-plane homography fitted to the matches.

#include <opencv2/core.hpp>

#include <vector>

#include "objects/surf.h"

// Squared Euclidean distance of two descriptors, walked four floats at a time; returns
// the partial sum as soon as it exceeds limit. length is a multiple of 4; below 1 gives 0.
double compareSURFDescriptors(const float* a, const float* b, double limit, int length);

// Index of the nearest key point with the same Laplacian sign, accepted only when its
// squared distance is below 0.6 of the second nearest one; -1 otherwise.
int naiveNearestNeighbor(const float* descriptor, int laplacianSign,
                         const std::vector<SurfPoint>& keypoints, const cv::Mat& descriptors);

// Pairs object key point index, frame key point index, flattened: pairs[2k], pairs[2k+1].
void findPairs(const std::vector<SurfPoint>& objectKeypoints, const cv::Mat& objectDescriptors,
               const std::vector<SurfPoint>& imageKeypoints, const cv::Mat& imageDescriptors,
               std::vector<int>& pairs);

// Fits a homography (RANSAC, 5 pixels) to the pairs, makes it sure with the object's
// other points (refineHomography) and projects the object's four corners into the
// frame. 1 and the found corners, or 0: fewer than 4 pairs, no fit, or an outline that
// no camera sees of a flat object (see projectObjectCorners).
int locatePlanarObject(const std::vector<SurfPoint>& objectKeypoints, const cv::Mat& objectDescriptors,
                       const std::vector<SurfPoint>& imageKeypoints, const cv::Mat& imageDescriptors,
                       const cv::Point corners[4], cv::Point found[4]);

// The steps of locatePlanarObject, for callers that also want the pairs or the matrix.
// The homography fitted to the pairs: empty when fewer than 4 or no fit.
cv::Mat homographyFromPairs(const std::vector<SurfPoint>& objectKeypoints,
                            const std::vector<SurfPoint>& imageKeypoints, const std::vector<int>& pairs);
// That fit made sure: the object's points matched again where it places them (the fit
// of the best single pair instead, when few points confirm it), refitted, and finally
// fitted by least squares to all of them, affine unless the perspective clearly fits
// better. The fit given when it is empty.
cv::Mat refineHomography(const cv::Mat& homography, const std::vector<SurfPoint>& objectKeypoints,
                         const cv::Mat& objectDescriptors, const std::vector<SurfPoint>& imageKeypoints,
                         const cv::Mat& imageDescriptors, const std::vector<int>& pairs);
// The projection of the corners through a fit. It is refused (0) unless it is an
// object's outline: every corner clearly on the near side of the horizon (w > 0, as
// w = 1 at the object's origin) and within 1e6 pixels, a convex quadrilateral turning
// like the corners given, of at least 100 square pixels and 1/1000 of the corners' own
// area, no side under 4 pixels and no corner flatter than about 6 degrees from straight.
// Collinear matches, squeezed or folded fits and corners across the horizon fail it,
// wherever in the frame the object lies.
int projectObjectCorners(const cv::Mat& homography, const cv::Point corners[4], cv::Point found[4]);

// The search picture: the object above the frame (both grey), with a line for every
// pair and, when located, the found outline drawn in white.
cv::Mat drawCorrespondence(const cv::Mat& objectGrey, const cv::Mat& frameGrey,
                           const std::vector<SurfPoint>& objectKeypoints,
                           const std::vector<SurfPoint>& imageKeypoints, const std::vector<int>& pairs,
                           const cv::Point* found);
