#pragma once
// A linear map of the compared cepstra that weighs what tells the robot's
// words apart above what changes from one voice to another. Learned from the
// templates themselves: frames of two recordings of the same word, matched by
// dynamic time warping, differ by voice (and noise); frames of all words
// differ by sound as well. Directions in which the two spreads are nearly
// equal carry the voice, not the word, and are weighed down (linear
// discriminant analysis, with the warping standing in for phone labels).

#include <array>
#include <cstddef>
#include <utility>
#include <vector>

#include "tools/hear/templates.h"

namespace hear {

// The cheapest alignment of a to b under warpedDistance's steps, as pairs of
// frame numbers from (0, 0) to the last frames of both; empty when either is.
std::vector<std::pair<std::size_t, std::size_t>> warpingPath(const TemplateFeatures& a, const TemplateFeatures& b);

// The eigenvalues of a symmetric matrix (row by row, n by n) and its
// eigenvectors, the k-th in row k of vectors; by Jacobi rotations.
void symmetricEigen(std::vector<double> matrix, std::size_t n, std::vector<double>& values, std::vector<double>& vectors);

// The transform from recordings grouped by word (each word's list holds at
// least two recordings to be of use); pairs of recordings of a word are drawn
// by a fixed sequence, so the same recordings give the same transform. It keeps
// the overall spread of the cepstra, so that distances stay on their scale.
CepstralTransform wordDiscriminatingTransform(const std::vector<std::vector<TemplateFeatures>>& recordingsByWord);

}  // namespace hear
