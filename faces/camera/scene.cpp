#include "faces/camera/scene.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <sstream>

#include "platform/datafiles.h"

namespace scene {

// ---- the head ----------------------------------------------------------------

void Servo::command(int pulse, int speed, long long nowMs) {
    from_ = at(nowMs);
    target_ = pulse;
    speed_ = speed;
    since_ = nowMs;
}

double Servo::at(long long nowMs) const {
    if (speed_ <= 0) return target_;
    const double travelled = speed_ * static_cast<double>(std::max(0LL, nowMs - since_)) / 1000.0;
    const double distance = target_ - from_;
    return std::abs(distance) <= travelled ? target_ : from_ + std::copysign(travelled, distance);
}

void Head::take(const std::string& bytes, long long nowMs) {
    const std::lock_guard<std::mutex> hold(lock_);
    for (const char c : bytes) {
        if (c == '\r') {
            handleLine(partial_, nowMs);
            partial_.clear();
        } else if (partial_.size() < 256) {
            partial_ += c;
        }
    }
}

// "#7 P1400 S400 |": each channel's pulse width and speed; "#0 P0 S0" switches it off.
void Head::handleLine(const std::string& line, long long nowMs) {
    std::istringstream words(line);
    int channel = -1, pulse = -1, speed = 0;
    const auto send = [&] {
        if (channel >= 0 && pulse > 0) {
            servos_.try_emplace(channel, static_cast<double>(pulse));
            servos_[channel].command(pulse, speed, nowMs);
        }
    };
    for (std::string word; words >> word;) {
        if (word.size() < 2) continue;
        const int value = std::atoi(word.c_str() + 1);
        if (word[0] == '#') send(), channel = value, pulse = -1, speed = 0;
        else if (word[0] == 'P' || word[0] == 'p') pulse = value;
        else if (word[0] == 'S' || word[0] == 's') speed = value;
    }
    send();
}

double Head::pulse(int channel, double idle, long long nowMs) const {
    const std::lock_guard<std::mutex> hold(lock_);
    return pulseLocked(channel, idle, nowMs);
}

cv::Point2d Head::pulses(int panChannel, double panIdle, int tiltChannel, double tiltIdle, long long nowMs) const {
    const std::lock_guard<std::mutex> hold(lock_);
    return {pulseLocked(panChannel, panIdle, nowMs), pulseLocked(tiltChannel, tiltIdle, nowMs)};
}

double Head::pulseLocked(int channel, double idle, long long nowMs) const {
    const auto servo = servos_.find(channel);
    return servo == servos_.end() ? idle : servo->second.at(nowMs);
}

void Head::reset() {
    const std::lock_guard<std::mutex> hold(lock_);
    partial_.clear();
    servos_.clear();
}

Head& robotHead() {
    static Head head;
    return head;
}

namespace {
std::mutex startsLock;
std::map<std::string, long long>& starts() {
    static std::map<std::string, long long> byPath;
    return byPath;
}
}  // namespace

long long startOf(const std::string& path, long long nowMs) {
    const std::lock_guard<std::mutex> hold(startsLock);
    return starts().try_emplace(path, nowMs).first->second;
}

void restart() {
    robotHead().reset();
    const std::lock_guard<std::mutex> hold(startsLock);
    starts().clear();
}

// ---- the scene file -----------------------------------------------------------

namespace {

constexpr double kDegree = CV_PI / 180.0;
const cv::Scalar kOutside(128, 128, 128);  // beyond the wide picture
const cv::Scalar kBallRed(0, 0, 255);

std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string resolved(const std::string& folder, const std::string& name) {
    return !name.empty() && name[0] == '/' ? name : folder + name;
}

// "WIDTH FROM_RIGHT FROM_UP TO_RIGHT TO_UP SPEED [APPEARS]" after the picture.
bool readPath(std::istringstream& in, Target& target) {
    if (!(in >> target.width >> target.from.x >> target.from.y >> target.to.x >> target.to.y >> target.speed)) return false;
    if (!(in >> target.appearsAt)) target.appearsAt = 0;
    return target.width > 0 && target.speed >= 0 && target.appearsAt >= 0;
}

std::string readLine(const std::string& folder, const std::string& keyword, std::istringstream& in, Scene& scene,
                     std::map<std::string, int>& counts) {
    if (keyword == "picture") {
        std::string file;
        if (!(in >> file >> scene.wideFov) || scene.wideFov <= 0 || scene.wideFov >= 170)
            return "picture FILE DEGREES (below 170)";
        scene.wide = cv::imread(resolved(folder, file), cv::IMREAD_COLOR);
        return scene.wide.empty() ? "cannot read the picture " + file : "";
    }
    if (keyword == "camera") {
        if (!(in >> scene.cameraFov) || scene.cameraFov <= 0 || scene.cameraFov >= 170) return "camera DEGREES [YAW]";
        if (!(in >> scene.cameraYaw)) scene.cameraYaw = 0;
        return "";
    }
    if (keyword == "pan") return in >> scene.panChannel >> scene.panCentre ? "" : "pan CHANNEL CENTRE";
    if (keyword == "tilt") return in >> scene.tiltChannel >> scene.tiltCentre ? "" : "tilt CHANNEL CENTRE";
    if (keyword == "us-per-degree")
        return in >> scene.usPerDegree && scene.usPerDegree > 0 ? "" : "us-per-degree NUMBER (above 0)";
    if (keyword == "log") return in >> scene.logPath ? (scene.logPath = resolved(folder, scene.logPath), "") : "log FILE";
    if (keyword == "person" || keyword == "object" || keyword == "ball") {
        Target target;
        target.name = keyword + std::to_string(++counts[keyword]);
        if (keyword != "ball") {
            std::string file;
            if (!(in >> file)) return keyword + " FILE WIDTH FROM_RIGHT FROM_UP TO_RIGHT TO_UP SPEED [APPEARS]";
            target.picture = cv::imread(resolved(folder, file), cv::IMREAD_COLOR);
            if (target.picture.empty()) return "cannot read the picture " + file;
        }
        if (!readPath(in, target)) return keyword + (keyword == "ball" ? "" : " FILE") + " WIDTH FROM_RIGHT FROM_UP TO_RIGHT TO_UP SPEED [APPEARS]";
        scene.targets.push_back(target);
        return "";
    }
    return "unknown word " + keyword;
}

}  // namespace

// A scene file is a few lines of text; a recording is far larger and is not read whole.
bool isSceneFile(const std::string& path) {
    constexpr std::uintmax_t kLargestScene = 64 * 1024;
    std::uintmax_t size = 0;
    std::string text;
    return platform::plainFileSize(path, size) && size <= kLargestScene && platform::readWholeFile(path, text) &&
           text.rfind("robotas-scene", 0) == 0;
}

std::string load(const std::string& path, Scene& scene) {
    std::string text;
    if (!platform::readWholeFile(path, text)) return path + ": cannot be read";
    scene = Scene{};
    scene.path = path;
    std::istringstream lines(text);
    std::map<std::string, int> counts;
    int number = 0;
    for (std::string line; std::getline(lines, line);) {
        ++number;
        line = line.substr(0, line.find('#'));
        std::istringstream in(line);
        std::string keyword;
        if (!(in >> keyword) || (number == 1 && keyword == "robotas-scene")) continue;
        const std::string fault = readLine(folderOf(path), keyword, in, scene, counts);
        if (!fault.empty()) return path + ":" + std::to_string(number) + ": " + fault;
    }
    return scene.wide.empty() ? path + ": no picture line" : "";
}

// ---- the view -------------------------------------------------------------------

cv::Point2d Target::at(double seconds) const {
    const double length = cv::norm(to - from), travelled = speed * std::max(0.0, seconds - appearsAt);
    if (length <= 0 || travelled <= 0) return from;
    const double phase = std::fmod(travelled, 2 * length);  // there and back again
    return from + (to - from) * ((phase <= length ? phase : 2 * length - phase) / length);
}

HeadAngles headAngles(const Scene& scene, double panPulse, double tiltPulse) {
    return {(panPulse - scene.panCentre) / scene.usPerDegree, (tiltPulse - scene.tiltCentre) / scene.usPerDegree};
}

namespace {

// Camera axes: x right, y down, z forward. The head turns right by -pan + yaw
// and looks down by tilt.
cv::Matx33d rotationOf(const Scene& scene, HeadAngles head) {
    const double yaw = (scene.cameraYaw - head.pan) * kDegree, pitch = head.tilt * kDegree;
    const cv::Matx33d turn(std::cos(yaw), 0, std::sin(yaw), 0, 1, 0, -std::sin(yaw), 0, std::cos(yaw));
    const cv::Matx33d look(1, 0, 0, 0, std::cos(pitch), std::sin(pitch), 0, -std::sin(pitch), std::cos(pitch));
    return turn * look;
}

cv::Matx33d intrinsics(double fovDegrees, cv::Size size) {
    const double focal = size.width / 2.0 / std::tan(fovDegrees * kDegree / 2);
    return {focal, 0, size.width / 2.0, 0, focal, size.height / 2.0, 0, 0, 1};
}

cv::Vec3d directionOf(cv::Point2d rightUp) {
    const double az = rightUp.x * kDegree, el = rightUp.y * kDegree;
    return {std::sin(az) * std::cos(el), -std::sin(el), std::cos(az) * std::cos(el)};
}

void drawTarget(cv::Mat& canvas, const cv::Matx33d& wideK, const Target& target, double seconds) {
    const cv::Vec3d d = directionOf(target.at(seconds));
    if (d[2] <= 0.1) return;
    const cv::Vec3d p = wideK * d;
    const cv::Point2d centre(p[0] / p[2], p[1] / p[2]);
    const double across = 2 * wideK(0, 0) * std::tan(target.width * kDegree / 2) / d[2];
    if (target.picture.empty()) {
        cv::circle(canvas, centre, std::max(1, cvRound(across / 2)), kBallRed, cv::FILLED, cv::LINE_AA);
        return;
    }
    const cv::Size size(std::max(1, cvRound(across)), std::max(1, cvRound(across * target.picture.rows / target.picture.cols)));
    const cv::Rect place(cvRound(centre.x - size.width / 2.0), cvRound(centre.y - size.height / 2.0), size.width, size.height);
    const cv::Rect inside = place & cv::Rect(0, 0, canvas.cols, canvas.rows);
    if (inside.empty()) return;
    cv::Mat resized;
    cv::resize(target.picture, resized, size, 0, 0, cv::INTER_AREA);
    resized(inside - place.tl()).copyTo(canvas(inside));
}

}  // namespace

cv::Mat view(const Scene& scene, HeadAngles head, double seconds, cv::Size size, std::vector<Seen>* seen) {
    const cv::Matx33d wideK = intrinsics(scene.wideFov, scene.wide.size()), cameraK = intrinsics(scene.cameraFov, size);
    const cv::Matx33d rotation = rotationOf(scene, head);
    const bool anyTarget = std::any_of(scene.targets.begin(), scene.targets.end(),
                                       [&](const Target& target) { return seconds >= target.appearsAt; });
    cv::Mat canvas = anyTarget ? scene.wide.clone() : scene.wide;  // targets are drawn on a copy only
    for (const Target& target : scene.targets)
        if (seconds >= target.appearsAt) drawTarget(canvas, wideK, target, seconds);
    cv::Mat picture;
    const cv::Matx33d cameraToWide = wideK * rotation * cameraK.inv();
    cv::warpPerspective(canvas, picture, cv::Mat(cameraToWide), size, cv::INTER_LINEAR | cv::WARP_INVERSE_MAP,
                        cv::BORDER_CONSTANT, kOutside);
    if (seen) {
        seen->clear();
        for (const Target& target : scene.targets) {
            if (seconds < target.appearsAt) continue;
            const cv::Vec3d c = rotation.t() * directionOf(target.at(seconds));
            if (c[2] <= 0) continue;
            const cv::Point2d at(cameraK(0, 0) * c[0] / c[2] + cameraK(0, 2), cameraK(1, 1) * c[1] / c[2] + cameraK(1, 2));
            if (at.x >= 0 && at.y >= 0 && at.x < size.width && at.y < size.height) seen->push_back({target.name, at});
        }
    }
    return picture;
}

std::string logLine(long long ms, int camera, cv::Size size, HeadAngles head, const std::vector<Seen>& seen) {
    std::string line = cv::format("%lld %d %d %d %.2f %.2f", ms, camera, size.width, size.height, head.pan, head.tilt);
    for (const Seen& s : seen) line += cv::format(" %s %.1f %.1f", s.name.c_str(), s.at.x, s.at.y);
    return line + "\n";
}

}  // namespace scene
