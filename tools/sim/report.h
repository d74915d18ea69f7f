#pragma once
// How well the head follows: figures from a scene camera's log (one line a
// frame: "<ms> <camera> <width> <height> <pan> <tilt>" then "<name> <x> <y>"
// for each target in the picture).

#include <string>
#include <vector>

namespace sim {

constexpr double kCentredPx = 20;  // a target this near the picture's centre is centred
constexpr double kInViewPx = 40;   // ... and this near, well in view
constexpr double kOvershootPx = 10;  // a swing past the centre smaller than this is not counted

struct TargetFigures {
    std::string name;
    double appearedS = 0;       // first frame the camera showed it
    double centredAfterS = -1;  // from then until within kCentredPx; -1: never
    int framesSeen = 0;
    double nearShare = 0;       // of the frames it was seen in, those within kInViewPx
    int overshoots = 0;         // swings past the centre after it was centred
};

struct Figures {
    int camera = 0;
    int frames = 0;
    double seconds = 0;
    double panTravel = 0, tiltTravel = 0;  // degrees the head turned
    std::vector<TargetFigures> targets;
};

// The figures of one camera's frames (camera < 0: the first camera in the log).
// False, with why, when the log has no frame of that camera or a line is not a log line.
bool figuresOf(const std::string& log, int camera, Figures& figures, std::string& why);
std::string describe(const Figures& figures);

}  // namespace sim
