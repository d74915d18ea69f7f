#include "tools/sim/report.h"

#include <cmath>
#include <cstdio>
#include <map>
#include <sstream>

namespace sim {
namespace {

struct Frame {
    long long ms = 0;
    int camera = 0;
    double width = 0, height = 0, pan = 0, tilt = 0;
    std::map<std::string, std::pair<double, double>> seen;
};

bool parse(const std::string& line, Frame& frame) {
    std::istringstream in(line);
    if (!(in >> frame.ms >> frame.camera >> frame.width >> frame.height >> frame.pan >> frame.tilt)) return false;
    std::string name;
    double x = 0, y = 0;
    while (in >> name) {
        if (!(in >> x >> y)) return false;
        frame.seen[name] = {x, y};
    }
    return true;
}

// One target over the frames, in order.
class Follower {
public:
    explicit Follower(std::string name) { figures_.name = std::move(name); }
    void frame(const Frame& f, double dx, double dy) {
        const double distance = std::hypot(dx, dy);
        if (figures_.framesSeen++ == 0) appearedMs_ = f.ms, figures_.appearedS = f.ms / 1000.0;
        if (distance <= kInViewPx) ++near_;
        if (figures_.centredAfterS < 0 && distance <= kCentredPx) figures_.centredAfterS = (f.ms - appearedMs_) / 1000.0;
        if (figures_.centredAfterS < 0 || std::abs(dx) < kOvershootPx) return;
        const int side = dx < 0 ? -1 : 1;
        if (side_ != 0 && side != side_) ++figures_.overshoots;
        side_ = side;
    }
    TargetFigures figures() const {
        TargetFigures out = figures_;
        out.nearShare = out.framesSeen ? static_cast<double>(near_) / out.framesSeen : 0;
        return out;
    }

private:
    TargetFigures figures_;
    long long appearedMs_ = 0;
    int near_ = 0, side_ = 0;
};

}  // namespace

bool figuresOf(const std::string& log, int camera, Figures& figures, std::string& why) {
    figures = Figures{};
    std::istringstream lines(log);
    std::map<std::string, Follower> followers;
    std::vector<std::string> order;
    Frame frame, previous;
    long long firstMs = 0;
    int number = 0;
    for (std::string line; std::getline(lines, line);) {
        ++number;
        if (line.empty()) continue;
        if (!parse(line, frame)) return why = "line " + std::to_string(number) + " is not a scene log line", false;
        if (camera < 0) camera = frame.camera;
        if (frame.camera != camera) continue;
        if (figures.frames > 0) figures.panTravel += std::abs(frame.pan - previous.pan), figures.tiltTravel += std::abs(frame.tilt - previous.tilt);
        else firstMs = frame.ms;
        for (const auto& [name, at] : frame.seen) {
            if (!followers.count(name)) order.push_back(name), followers.emplace(name, Follower(name));
            followers.at(name).frame(frame, at.first - frame.width / 2, at.second - frame.height / 2);
        }
        ++figures.frames;
        figures.seconds = (frame.ms - firstMs) / 1000.0;
        previous = frame;
    }
    if (figures.frames == 0) return why = "no frame of camera " + std::to_string(camera) + " in the log", false;
    figures.camera = camera;
    for (const std::string& name : order) figures.targets.push_back(followers.at(name).figures());
    return true;
}

std::string describe(const Figures& figures) {
    std::string text = std::string("camera ") + std::to_string(figures.camera) + ": " + std::to_string(figures.frames) +
                       " frames, " + std::to_string(static_cast<int>(std::lround(figures.seconds))) + " s\n";
    char line[256];
    for (const TargetFigures& t : figures.targets) {
        char centred[64] = "never within 20 px";
        if (t.centredAfterS >= 0) std::snprintf(centred, sizeof centred, "within 20 px after %.2f s", t.centredAfterS);
        std::snprintf(line, sizeof line, "%s: seen from %.2f s, %s, within 40 px in %.0f %% of %d frames seen, %d overshoots\n",
                      t.name.c_str(), t.appearedS, centred, 100 * t.nearShare, t.framesSeen, t.overshoots);
        text += line;
    }
    std::snprintf(line, sizeof line, "head travel: pan %.1f degrees, tilt %.1f degrees\n", figures.panTravel, figures.tiltTravel);
    return text + line;
}

}  // namespace sim
