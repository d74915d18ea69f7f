#pragma once
// The robot's blob analysis: labelling (BlobAnalysis), the region record and its
// measures (CBlob, COperadorBlob, CBlobGet...), and the owning set CBlobResult.

#include "blobs/BlobExtraction.h"
#include "blobs/BlobResult.h"
#include "blobs/blob.h"
