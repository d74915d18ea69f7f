#pragma once
// One-pass labelling of a grey picture into connected regions of both colours.

#include <opencv2/core.hpp>

#include <memory>
#include <vector>

#include "blobs/blob.h"

// Labels source (8-bit, one channel; a view labels only its rectangle and every
// coordinate is relative to the view's corner). A pixel is bright when it is above
// threshold. Pixels whose mask byte is 0 (mask: 8-bit, one channel, the size of the
// whole picture the view lies in, read from its own corner) take the border colour,
// the colour of the virtual frame around the picture. Both colours are
// 8-connected. The region holding the frame comes first (label 0). New blobs are
// appended to blobs; their edge lists share one buffer. False, with nothing
// appended, when an input is rejected.
bool BlobAnalysis(const cv::Mat& source, uchar threshold, const cv::Mat& mask, bool borderColour,
                  bool findMoments, std::vector<CBlob>& blobs);
// The same, but the new blobs' edge lists borrow their points from keeper,
// which the caller keeps for as long as it keeps those blobs where they are
// (a copy of a blob, or a blob moved elsewhere, keeps the points itself).
bool BlobAnalysis(const cv::Mat& source, uchar threshold, const cv::Mat& mask, bool borderColour,
                  bool findMoments, std::vector<CBlob>& blobs, std::shared_ptr<EdgeSource>& keeper);

// Length of a run (grid columns start .. end of grid row row; the grid is the
// picture with a one-cell frame) along the picture border and, when given, along
// the mask boundary recorded in perimeterImage. width and height are the whole
// picture's.
double GetExternPerimeter(int start, int end, int row, int width, int height, const cv::Mat* perimeterImage);
