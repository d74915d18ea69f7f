#pragma once
// A world for the cameras at a desk: ./video<n> may be a scene file (its first
// line "robotas-scene"), naming a wide picture, the camera's field of view and
// where it sits on the head, how servo pulse widths turn the head, and things
// that move in the scene. Each frame is the view of a pinhole camera turned by
// where the head is at that moment, cut from the wide picture, so the robot's
// steering is seen in its own cameras and can be measured.
//
// The head moves as its servo controller drives it: towards each commanded
// pulse width at the command's speed, from where it is. The robot's own
// serial writes feed robotHead(), so the head moves only when a controller
// (real or simulated) took the commands.

#include <opencv2/core.hpp>

#include <memory>
#include <mutex>
#include <map>
#include <string>
#include <vector>

namespace scene {

// One servo as the controller drives it: towards the last commanded pulse
// width at the command's speed (µs a second; 0: at once), from where it was
// when the command came.
class Servo {
public:
    explicit Servo(double pulse = 0) : from_(pulse), target_(pulse) {}
    void command(int pulse, int speed, long long nowMs);
    double at(long long nowMs) const;

private:
    double from_, target_;
    int speed_ = 0;
    long long since_ = 0;
};

// The controller's servos, fed with the bytes sent to it: command lines ended
// by CR such as "#7 P1400 S400 |", several channels to a line. A pulse width of
// 0 switches a servo off: it stays where it is. Safe to feed from one thread
// while another reads.
class Head {
public:
    void take(const std::string& bytes, long long nowMs);
    // Where the channel's servo is at nowMs; idle before its first command.
    double pulse(int channel, double idle, long long nowMs) const;
    // Pan and tilt at one moment, read together so that no command lands between them.
    cv::Point2d pulses(int panChannel, double panIdle, int tiltChannel, double tiltIdle, long long nowMs) const;
    void reset();

private:
    void handleLine(const std::string& line, long long nowMs);
    double pulseLocked(int channel, double idle, long long nowMs) const;
    mutable std::mutex lock_;
    std::string partial_;
    std::map<int, Servo> servos_;
};

Head& robotHead();  // moved by every serial write of this program

// Milliseconds of the robot's clock at which the scene file at path started:
// the first time it was asked for, so that a scene goes on while modes come and go.
long long startOf(const std::string& path, long long nowMs);
// Every scene starts again and the head stands at its centre (a new scene).
void restart();

// Something in the scene: a picture (a person's face, an object) or a red ball,
// going back and forth between two directions at a steady pace.
struct Target {
    std::string name;
    cv::Mat picture;           // BGR; a ball is drawn instead
    double width = 10;         // degrees across
    cv::Point2d from, to;      // directions: degrees to the right and up of the head's centre
    double speed = 0;          // degrees a second along the path
    double appearsAt = 0;      // seconds after the scene starts
    cv::Point2d at(double seconds) const;
};

struct Scene {
    std::string path;
    cv::Mat wide;               // BGR, seen from its centre
    double wideFov = 120;       // degrees the wide picture spans across
    double cameraFov = 50;      // degrees a camera's picture spans across
    double cameraYaw = 0;       // degrees this camera looks right of the head's direction
    int panChannel = 7, tiltChannel = 0;
    double panCentre = 1400, tiltCentre = 1850;
    double usPerDegree = 10;    // more pan turns left, more tilt looks down
    std::vector<Target> targets;
    std::string logPath;        // every frame's head and targets, when set
};

bool isSceneFile(const std::string& path);
// Reads a scene file (paths in it relative to its folder); "" or why it cannot be used.
std::string load(const std::string& path, Scene& scene);

// Where a target is in a camera's picture this frame.
struct Seen {
    std::string name;
    cv::Point2d at;
};

// The head's direction in degrees: pan to the left, tilt downwards of the centre.
struct HeadAngles {
    double pan = 0, tilt = 0;
};
HeadAngles headAngles(const Scene& scene, double panPulse, double tiltPulse);

// The camera's picture of size `size` at `seconds` into the scene, with the
// targets it shows.
cv::Mat view(const Scene& scene, HeadAngles head, double seconds, cv::Size size, std::vector<Seen>* seen = nullptr);

// One log line: "<ms> <camera> <width> <height> <pan> <tilt>" then " <name> <x> <y>"
// for each target in the picture.
std::string logLine(long long ms, int camera, cv::Size size, HeadAngles head, const std::vector<Seen>& seen);

}  // namespace scene
