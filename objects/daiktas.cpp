// Object search: finds the object the robot was shown in the left camera's picture by
// its SURF features and turns the head towards it.
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <vector>

#include "faces/camera/camera.h"
#include "faces/camera/imageutil.h"
#include "hardware/hardware.h"
#include "objects/object_modes.h"
#include "objects/surf.h"
#include "objects/surf_match.h"
#include "platform/clock.h"
#include "platform/runner.h"
#include "platform/ui.h"
#include "shell/console/f_graph.h"

namespace objectmodes {

OutlineMeasure measureOutline(const cv::Point found[4]) {
    OutlineMeasure m;
    for (int i = 0; i < 4; ++i) {
        const cv::Point r1 = found[i], r2 = found[(i + 1) % 4];
        const float dx = static_cast<float>(std::abs(r1.x - r2.x));
        const float dy = static_cast<float>(std::abs(r1.y - r2.y));
        switch (i) {
            case 0: m.W = dx; m.first = r1; break;
            case 1: m.H = dy; break;
            case 2: m.W = (m.W + dx) * 0.5f; break;
            default: m.H = (m.H + dy) * 0.5f; break;
        }
    }
    return m;
}

bool outlineIsObject(float measuredAspect, float objectAspect) {
    return measuredAspect > 0.2f && measuredAspect < 5.0f && std::fabs(measuredAspect - objectAspect) < 0.15f;
}

void turnHeadTowards(const OutlineMeasure& outline, int frameHeight) {
    const double W = outline.W, H = outline.H;
    const double x0 = outline.first.x, y0 = outline.first.y;

    const double dy = frameHeight / 2 - H / 2 - y0;
    const double my = std::fabs((aukstis - H / 2) * -0.5 + y0);
    steering::stepTarget(servo_yd, steering::kObjectTilt, dy, dy < 0, my);  // up: object below the centre
    const double dx = plotis / 2 - W / 2 - x0;
    const double mx = std::fabs((plotis - W / 2) * 0.5 - x0);
    steering::stepTarget(servo_xd, steering::kObjectPan, dx, dx > 0, mx);  // up: object left of the centre
    servo_greitisX = static_cast<int>(mx * 0.25 + 100);
    servo_greitisY = static_cast<int>(my / 6 + 100);
    servo_x = servo_xd.load();
    servo_y = servo_yd.load();
}

}  // namespace objectmodes

namespace {

using objectmodes::OutlineMeasure;

const char* const kObjectWindow = "Objektas";
const char* const kSearchWindow = "Paieska";

struct KnownObject {
    cv::Mat grey;
    cv::Mat colour;  // the key points accumulate on it
    std::vector<SurfPoint> points;
    cv::Mat descriptors;
    float aspect = 0.f;
    cv::Point corners[4];
};

cv::Mat objectPicture(int mode, const char* source) {
    if (mode == 0) return daikto_isskyrimas();
    if (mode != 1 || source == nullptr) return cv::Mat();
    try {
        return cv::imread(source, cv::IMREAD_GRAYSCALE);
    } catch (const cv::Exception&) {
        return cv::Mat();
    }
}

void openSearchWindows() {
    ui::namedWindow(kObjectWindow, cv::WINDOW_AUTOSIZE);
    ui::moveWindow(kObjectWindow, 1, 1);
    ui::bringToFront(kObjectWindow);
    ui::namedWindow(kSearchWindow, cv::WINDOW_AUTOSIZE);
    ui::moveWindow(kSearchWindow, plotis, 1);
    ui::bringToFront(kSearchWindow);
}

void showSearchHelp() {
    gf.clrscr();
    gf.setColor(0x80);
    gf.showKeyHelp(plotis, aukstis, f_graph::SizeOnly,
                   {" [m]   - uzdaryti  programa", "ir iskviesti pagrindini meniu", " [s]   - (x , y) servus i centra",
                    " [e]   - kameru langu vaizdas", " [f]   - rodyti kameru vaizda", " [n]   - isjungti kameru vaizda",
                    " []- "});
}

KnownObject learnObject(const cv::Mat& grey, const SurfParams& params) {
    KnownObject object;
    object.grey = grey;
    cv::cvtColor(grey, object.colour, cv::COLOR_GRAY2BGR);
    object.aspect = static_cast<float>(grey.cols) / static_cast<float>(grey.rows);
    object.corners[0] = cv::Point(0, 0);
    object.corners[1] = cv::Point(grey.cols, 0);
    object.corners[2] = cv::Point(grey.cols, grey.rows);
    object.corners[3] = cv::Point(0, grey.rows);
    extractSURF(grey, object.points, object.descriptors, params);
    return object;
}

void drawObjectKeyPoints(KnownObject& object) {
    for (const SurfPoint& p : object.points) {
        const int radius = cvRound(p.size * 1.2 / 9. * 2);
        cv::circle(object.colour, cv::Point(cvRound(p.pt.x), cvRound(p.pt.y)), radius, cv::Scalar(0, 0, 255), 1, 8);
    }
}

// One frame of the search: features, match, outline, head movement, windows.
void searchFrame(cv::Mat& frame, KnownObject& object, const SurfParams& params) {
    cv::normalize(frame, frame, 0, 255, cv::NORM_MINMAX);
    const cv::Mat grey = convertImageToGreyscale(frame);

    const int64 t0 = cv::getTickCount();
    gf.printAt(4, 38, "Objecto descriptoriu:  %d\n", object.descriptors.rows);
    std::vector<SurfPoint> points;
    cv::Mat descriptors;
    extractSURF(grey, points, descriptors, params);
    gf.printAt(4, 40, "Pavyzdzio descriptoriu: %d\n", descriptors.rows);
    const int64 t1 = cv::getTickCount();
    gf.printAt(4, 42, "Paieskos laikas = %gms\n", (t1 - t0) * 1000.0 / cv::getTickFrequency());

    std::vector<int> pairs;
    findPairs(object.points, object.descriptors, points, descriptors, pairs);
    cv::Point found[4];
    const cv::Mat fit = refineHomography(homographyFromPairs(object.points, points, pairs), object.points,
                                         object.descriptors, points, descriptors, pairs);
    const bool located = projectObjectCorners(fit, object.corners, found);
    bool stepStarted = false;
    if (located) {
        const OutlineMeasure outline = objectmodes::measureOutline(found);
        const float aspect = outline.H != 0.f ? outline.W / outline.H : 0.f;
        gf.printAt(1, 44, "  Santykis= %f\n", object.aspect);
        gf.printAt(1, 45, "EsSantykis= %f\n", aspect);
        if (objectmodes::outlineIsObject(aspect, object.aspect)) {
            // New targets first, so that this frame's step surely sends them.
            objectmodes::turnHeadTowards(outline, grey.rows);
            stepStarted = startMechanika();
        }
    }
    const cv::Mat search = drawCorrespondence(object.grey, grey, object.points, points, pairs, located ? found : nullptr);
    if (stepStarted) joinMechanika();
    ui::show(kSearchWindow, search);
    if (ekranorezimas == 2 && !object.points.empty()) drawObjectKeyPoints(object);
    ui::show(kObjectWindow, object.colour);
}

void centreHeadNow() {
    centreAllServoVariables();
    servo_greitisX = 700;
    servo_greitisY = 500;
    akys_servo();
}

}  // namespace

int daiktas(int mode, const char* source) {
    plotis = 640;
    aukstis = 480;
    releaseLeftCamera();  // reopens at the new size
    const cv::Mat picture = objectPicture(mode, source);
    if (picture.empty()) {
        gf.printf("Nera objekto  paveikslelio");
        platform::sleepMs(2000);
        return -1;
    }
    platform::WinExec("eSpeak.exe -v lv+m4  kuor.........taasz.......daayjktaasz", 1);
    openSearchWindows();
    showSearchHelp();
    const SurfParams params = cvSURFParams(500, 1);
    KnownObject object = learnObject(convertImageToGreyscale(picture), params);

    for (;;) {
        cv::Mat frame = getCameraFrame1(kamera2);
        if (!frame.empty()) searchFrame(frame, object, params);
        keyPressed = ui::waitKey(1);
        const int key = keyPressed & 0xFF;
        if (key == 'm') break;
        if (key == 's') centreHeadNow();
    }
    ui::destroyWindow(kObjectWindow);
    ui::destroyWindow(kSearchWindow);
    releaseLeftCamera();
    return 0;
}

int PazistamiDaiktai() { return daiktas(0, nullptr); }
