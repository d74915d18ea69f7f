// One frame's turn of a camera's servo pair towards its face, each row from k pan
// 1400 tilt 1850 (last followed pan 1340) and d pan 1500 tilt 1700 (1200).

#include "hardware/steering.h"

#include <gtest/gtest.h>

#include "hardware/hardware.h"

namespace {

struct FaceTurn {
    const char* what;
    bool leftPair;
    cv::Rect left, right;
    bool mirrored;
    cv::Size picture;
    int pan, tilt;  // the pair's targets afterwards
    bool followed;
};

TEST(HeadSteering, EachCamerasPairTurnsTowardsItsFaceInThePlainAndTheMirrorImages) {
    const cv::Rect none(-1, -1, -1, -1), centred(150, 50, 20, 100);
    const cv::Rect high(100, 49, 20, 100), highRight(169, 49, 20, 100);  // 21 px above, 31 px apart
    const cv::Rect low(100, 130, 20, 40), lowRight(231, 130, 20, 40);    // 30 px below, -31 px apart
    const cv::Size small(320, 240);
    const FaceTurn turns[] = {
        {"k without a face takes d's tilt", true, none, centred, false, small, 1420, 1700, false},
        {"d without a face takes k's tilt", false, centred, none, false, small, 1300, 1850, false},
        {"k on both dead bands' edges", true, {100, 50, 20, 100}, {170, 50, 20, 100}, false, small, 1400, 1850, true},
        {"k just beyond both", true, high, highRight, false, small, 1400 + 3 + 220 / 12, 1850 - 5 - 4, true},
        {"k mirrored", true, high, highRight, true, small, 1400 - 5 - 220 / 8, 1841, true},
        {"k, face low", true, low, lowRight, false, small, 1368, 1850 + 5 + 13, true},
        {"k, face low, mirrored", true, low, lowRight, true, small, 1421, 1868, true},
        {"d just beyond both", false, high, highRight, false, small, 1500 + 5 + 169 / 8, 1700 - 9, true},
        {"d mirrored", false, high, highRight, true, small, 1500 - 3 - 169 / 12, 1691, true},
        {"d, face low", false, low, lowRight, false, small, 1500 - 3 - 231 / 12, 1700 + 18, true},
        {"d, face low, mirrored", false, low, lowRight, true, small, 1500 + 5 + 231 / 8, 1718, true},
        {"d, far edge on the left face", false, low, {160, 100, 60, 40}, false, small, 1525, 1700, true},
        {"d, far edge on the left face, mirrored", false, low, {160, 100, 60, 40}, true, small, 1525, 1700, true},
        {"k in a larger picture", true, centred, centred, false, {640, 480}, 1400 + 3 + 490 / 12, 1840, true},
    };
    for (const FaceTurn& turn : turns) {
        servo_xk = 1400, servo_yk = 1850, servo_xksen = 1340;
        servo_xd = 1500, servo_yd = 1700, servo_xdsen = 1200;
        const steering::FacePair faces{turn.left, turn.right, turn.mirrored};
        const bool followed = turn.leftPair ? steering::followWithLeftPair(faces, turn.picture)
                                            : steering::followWithRightPair(faces, turn.picture);
        EXPECT_EQ(followed, turn.followed) << turn.what;
        EXPECT_EQ(turn.leftPair ? servo_xk : servo_xd, turn.pan) << turn.what;
        EXPECT_EQ(turn.leftPair ? servo_yk : servo_yd, turn.tilt) << turn.what;
        const int lastFollowedPan = turn.leftPair ? servo_xksen : servo_xdsen;
        EXPECT_EQ(lastFollowedPan, followed ? turn.pan : turn.leftPair ? 1340 : 1200) << turn.what;
    }
}

}  // namespace
