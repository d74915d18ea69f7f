#pragma once
// The robot's object modes: cutting an unknown object out of the left camera's view
// against a captured background, and searching for a known object in the live picture,
// turning the head towards it.

#include <opencv2/core.hpp>

// Object extraction: f captures the empty scene, d cuts the object out, m returns the
// object's grey picture (a blank full-frame picture before any extraction).
cv::Mat daikto_isskyrimas();

// Object search. mode 0: the object comes from daikto_isskyrimas(); mode 1: from the
// picture file source. -1 when there is no object picture, 0 when the user ends it (m).
int daiktas(int mode, const char* source);
int PazistamiDaiktai();

// The steps of the modes, for their tests.
namespace objectmodes {

// One extraction on a background and a scene (both 3-channel): the object picture of
// the region found, the region itself, and whether the region passed the check (when
// not, the picture is of the fixed central region).
struct Extraction {
    cv::Mat picture;
    cv::Rect region;
    bool accepted = false;
};
Extraction extractObject(const cv::Mat& background, const cv::Mat& scene, int frameWidth, int frameHeight);
bool regionAccepted(const cv::Rect& region, int frameWidth, int frameHeight);
// The voice-driven extraction (recogniser connected): the background is taken 4 to 4.5 s
// after start (with a spoken prompt and a 3 s pause), the object after 10 s. Sets
// keyPressed; true when the side keys are to be skipped in this pass.
bool voiceDrivenKeys(long long start);

// What the search measures on the found outline: mean width and height of its edges
// and its first corner (the projection of the object's top-left corner).
struct OutlineMeasure {
    float W = 0.f;
    float H = 1.f;
    cv::Point first;
};
OutlineMeasure measureOutline(const cv::Point found[4]);
// The outline is the object when its aspect is sane and close to the object picture's.
bool outlineIsObject(float measuredAspect, float objectAspect);
// New head targets and speeds that bring the object towards the frame's centre.
void turnHeadTowards(const OutlineMeasure& outline, int frameHeight);

}  // namespace objectmodes
