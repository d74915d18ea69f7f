// The two-camera alignment view: the left camera blended over the right one.

#include <opencv2/imgproc.hpp>

#include "faces/camera/camera.h"
#include "hardware/hardware.h"
#include "platform/ui.h"
#include "shell/console/f_graph.h"
#include "stereo/stereo_modes.h"

namespace {

// Trackbar callbacks: the loop reads the trackbar variables itself.
void myTrackbarkameruindelis(int, void*) {}
void myTrackbarryskumas(int, void*) {}
void myTrackbarslenkstis(int, void*) {}
void myTrackbarposlinkis(int, void*) {}

struct AlignmentTrackbars {
    int blend = 50;       // "A<>B"
    int brightness = 50;  // "Ryskumas"
    int threshold = 0;    // "Slenkstis"
    int distance = 0;     // "Atstumas": not used
};

void showAlignmentHelp() {
    gf.clrscr();
    gf.showKeyHelp(plotis, aukstis, f_graph::SizeAndLibrary,
                   {" [m] - uzdaryti  programa", " [q]   - Aukstyn", " [a]   - Zemyn", " [<]   - Kairen",
                    " [>]   - Desinin"});
}

void moveHeadByKey(int key) {
    if (key == ',') servo_x -= kHeadKeyStep;
    if (key == '.') servo_x += kHeadKeyStep;
    if (key == 'q') servo_y -= kHeadKeyStep;
    if (key == 'a') servo_y += kHeadKeyStep;
    if (key == ',' || key == '.' || key == 'q' || key == 'a') akys_servo();
}

}  // namespace

cv::Mat blendCameras(const cv::Mat& right, const cv::Mat& left, int blend, int brightness,
                     int threshold) {
    // The two cameras may have opened at different sizes: the left one follows the right.
    cv::Mat leftLikeRight = left;
    if (left.size() != right.size()) cv::resize(left, leftLikeRight, right.size());
    if (leftLikeRight.channels() != right.channels())
        cv::cvtColor(leftLikeRight, leftLikeRight,
                     right.channels() == 1 ? cv::COLOR_BGR2GRAY : cv::COLOR_GRAY2BGR);
    const int A = blend / 5;
    const float level = float(threshold * 4);
    cv::Mat blended;
    cv::addWeighted(right, (20 - A) / 20.0, leftLikeRight, A / 20.0, brightness, blended);
    if (level != 0) cv::threshold(blended, blended, level, 100, cv::THRESH_BINARY_INV);
    return blended;
}

void kamkalibr() {
    plotis = 640;
    aukstis = 480;
    ui::namedWindow("Stereo suma");
    ui::moveWindow("Stereo suma", 1, 10);
    ui::bringToFront("Stereo suma");
    showAlignmentHelp();
    AlignmentTrackbars bars;
    ui::createTrackbar("A<>B", "Stereo suma", &bars.blend, 100, myTrackbarkameruindelis);
    ui::createTrackbar("Ryskumas", "Stereo suma", &bars.brightness, 100, myTrackbarryskumas);
    ui::createTrackbar("Slenkstis", "Stereo suma", &bars.threshold, 100, myTrackbarslenkstis);
    ui::createTrackbar("Atstumas", "Stereo suma", &bars.distance, plotis, myTrackbarposlinkis);

    for (;;) {
        const cv::Mat right = getCameraFrame();
        const cv::Mat left = getCameraFrame1(kamera2);
        if (!right.empty() && !left.empty())
            ui::show("Stereo suma",
                     blendCameras(right, left, bars.blend, bars.brightness, bars.threshold));
        keyPressed = ui::waitKey(1);
        const int key = keyPressed & 0xFF;
        moveHeadByKey(key);
        if (key == 'm') break;
    }

    ui::destroyWindow("Stereo suma");
    releaseCameras();
    plotis = 320;
    aukstis = 240;
}
