#include "hardware/steering.h"

#include "hardware/servo.h"

namespace steering {

namespace {

// A camera's servo pair, and its pan when it last followed a face.
struct ServoPair {
    std::atomic<int>& pan;
    std::atomic<int>& tilt;
    std::atomic<int>& followedPan;
};

ServoPair leftCameraPair() { return {servo_xk, servo_yk, servo_xksen}; }
ServoPair rightCameraPair() { return {servo_xd, servo_yd, servo_xdsen}; }

// Where a pair's pan is to step, once its camera has a face.
struct PanLook {
    const AxisRule& rule;
    int offBy;
    bool up;
    int position;
};

bool follow(const ServoPair& own, const ServoPair& other, const cv::Rect& face, cv::Size picture,
            const PanLook& pan) {
    if (face.width <= kMinFaceWidth) {
        own.tilt = other.tilt.load();
        own.pan = (other.pan.load() + own.followedPan.load()) / 2;
        return false;
    }
    // The face's middle row against the picture's: a face lower down tilts up.
    const int tiltOffBy = picture.height / 2 - face.height / 2 - face.y;
    stepTarget(own.tilt, kFaceTilt, tiltOffBy, tiltOffBy < 0, face.y);
    stepTarget(own.pan, pan.rule, pan.offBy, pan.up, pan.position);
    own.followedPan = own.pan.load();
    return true;
}

// The left face counted from its picture's right edge: the cameras converge,
// so each sees the other's side of the face.
int leftFaceFromRightEdge(const FacePair& faces, cv::Size picture) { return picture.width - faces.left.x; }

// How far the left face's near edge lies from the right face across the two pictures.
int panOffBy(const FacePair& faces, cv::Size picture) {
    return leftFaceFromRightEdge(faces, picture) - faces.left.width - faces.right.x;
}

}  // namespace

bool followWithLeftPair(const FacePair& faces, cv::Size picture) {
    const int offBy = panOffBy(faces, picture);
    const bool up = faces.mirrored ? offBy < 0 : offBy > 0;
    return follow(leftCameraPair(), rightCameraPair(), faces.left, picture,
                  {kLeftCameraPan, offBy, up, leftFaceFromRightEdge(faces, picture)});
}

bool followWithRightPair(const FacePair& faces, cv::Size picture) {
    // The side is the right face's far edge against the left face; a tie turns
    // up in both the plain and the mirror images.
    const int leftFace = leftFaceFromRightEdge(faces, picture), farEdge = faces.right.x + faces.right.width;
    const bool up = faces.mirrored ? leftFace <= farEdge : leftFace >= farEdge;
    return follow(rightCameraPair(), leftCameraPair(), faces.right, picture,
                  {kRightCameraPan, panOffBy(faces, picture), up, faces.right.x});
}

}  // namespace steering
