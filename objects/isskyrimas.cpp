// Object extraction: the robot is shown the empty scene (f), then the scene with a new
// object (d); the difference, cleaned by blob analysis and morphology, cuts the object
// out as a grey picture for the object search.
#include <opencv2/imgproc.hpp>

#include <string>

#include "blobs/blobs.h"
#include "faces/camera/camera.h"
#include "faces/camera/imageutil.h"
#include "hardware/hardware.h"
#include "objects/fgd.h"
#include "objects/object_modes.h"
#include "platform/clock.h"
#include "platform/runner.h"
#include "platform/ui.h"
#include "speech/speech.h"
#include "shell/console/f_graph.h"

namespace {

const char* const kShowTheObject = "eSpeak.exe -v lv+m4  paroodyik.....daaijktaa";
constexpr long long kVoiceBackgroundFromMs = 4000, kVoiceBackgroundToMs = 4499, kVoiceExtractAfterMs = 10000;

}  // namespace

namespace objectmodes {

bool regionAccepted(const cv::Rect& r, int frameWidth, int frameHeight) {
    return r.x > 0 && r.y > 0 && r.width > 50 && r.height > 40 && r.x < frameWidth - 20 && r.y < frameHeight &&
           r.width < frameWidth - 200 && r.height < frameHeight;
}

namespace {

constexpr int kBlobThreshold = 100;
constexpr double kSmallestBlob = 50, kLargestBlob = 100000;
constexpr int kClosingSteps = 29;

// The widest kept blob's bounding box (the first of equally wide ones).
cv::Rect widestBlob(CBlobResult& blobs) {
    cv::Rect widest;
    for (int i = 0; i < blobs.BlobCount(); ++i) {
        const CBlob* blob = blobs.GetBlob(i);
        const int left = static_cast<int>(blob->minX), right = static_cast<int>(blob->maxX);
        if (right - left > widest.width) {
            widest = cv::Rect(left, static_cast<int>(blob->minY), right - left,
                              static_cast<int>(blob->maxY) - static_cast<int>(blob->minY));
        }
    }
    return widest;
}

// Grows and shrinks the mask ever more, joining the parts of the object.
void closeMask(cv::Mat& mask) {
    for (int k = 1; k <= kClosingSteps; ++k) {
        cv::dilate(mask, mask, cv::Mat(), cv::Point(-1, -1), k);
        cv::erode(mask, mask, cv::Mat(), cv::Point(-1, -1), k);
    }
}

}  // namespace

Extraction extractObject(const cv::Mat& background, const cv::Mat& scene, int frameWidth, int frameHeight) {
    cv::Mat current;
    cv::resize(scene, current, cv::Size(frameWidth, frameHeight));
    cv::Mat reference;
    cv::resize(background, reference, current.size());

    FgdModel model(reference);
    model.update(current);
    cv::Mat mask = model.foreground().clone();

    CBlobResult blobs(mask, cv::Mat(), kBlobThreshold, true);
    const CBlobGetArea area;
    blobs.Filter(blobs, FILTER_INCLUDE, &area, COND_INSIDE, kSmallestBlob, kLargestBlob);
    // The smallest blob is taken for noise, but never the only one: that is the object.
    if (blobs.BlobCount() > 1) {
        CBlob smallest;
        blobs.GetNthBlob(&area, blobs.BlobCount() - 1, smallest);
        smallest.FillBlob(mask, cv::Scalar(0, 0, 0, 0), 0, 0);
    }
    Extraction result;
    result.region = widestBlob(blobs);
    closeMask(mask);

    result.accepted = regionAccepted(result.region, frameWidth, frameHeight);
    if (!result.accepted) {
        result.region = cv::Rect(frameWidth / 8, frameHeight / 6, frameWidth - frameWidth / 4,
                                 frameHeight - frameHeight / 3);
    }
    result.region &= cv::Rect(0, 0, frameWidth, frameHeight);

    // Outside the object the scene turns white; inside it stays as it is.
    cv::Mat work;
    cv::cvtColor(mask, work, cv::COLOR_GRAY2BGR);
    cv::bitwise_not(work, work);
    cv::subtract(current, work, work, mask);
    cv::normalize(work, work, 0, 255, cv::NORM_MINMAX);
    cv::Mat grey = convertImageToGreyscale(work);
    cv::Mat region = grey(result.region);
    if (!region.empty()) cv::normalize(region, region, 0, 255, cv::NORM_MINMAX);
    result.picture = region.clone();
    return result;
}

bool voiceDrivenKeys(long long start) {
    if (prisijungimas <= 1) return false;
    if ((keyPressed & 0xFF) == kKeyLeaveMode) return false;  // the operator's m ends the run at any time
    const long long elapsed = platform::nowMs() - start;
    if (elapsed > kVoiceBackgroundFromMs && elapsed <= kVoiceBackgroundToMs) {
        keyPressed = 'f';
        platform::WinExec(kShowTheObject, 0);
        platform::sleepMs(3000);
    }
    if (platform::nowMs() - start > kVoiceExtractAfterMs) {
        keyPressed = 'd';
        return true;
    }
    return false;
}

}  // namespace objectmodes

namespace {

const char* const kWindow = "Daikto isskirimas";

struct ExtractionState {
    cv::Mat background;
    bool backgroundCaptured = false;
    cv::Mat frame;   // the last left-camera frame
    cv::Mat result;  // the picture handed back
};

void showExtractionHelp() {
    gf.clrscr();
    gf.showKeyHelp(plotis, aukstis, f_graph::SizeAndLibrary,
                   {" [m] - uzdaryti  programa", " [q]   - Aukstyn", " [a]   - Zemyn", " [<]   - Kairen",
                    " [>]   - Desinin", "", " [f]   - fono uzfiksavimas", " [d]   - daikto isskirimas", " [ ]    "});
}

void nudgeHead(std::atomic<int>& servo, int step) {
    servo += step;
    akys_servo();
}

// The empty scene, five times over so that the operator sees it taken.
void captureBackground(ExtractionState& state) {
    gf.printAt(1, 38, "%s", std::string(34, ' ').c_str());
    for (int i = 0; i < 5; ++i) {
        if (!state.frame.empty()) {
            cv::resize(state.frame, state.background, cv::Size(640, 480));
            state.backgroundCaptured = true;
        }
        ui::show(kWindow, state.background);
        platform::sleepMs(500);
    }
    gf.printAt(1, 38, "Uzfiksuotas fono paveikslelis !!!");
    platform::WinExec(kShowTheObject, 0);
}

// Attempts on new frames until the region passes; m between attempts gives up and
// leaves the mode.
void extractObjectFromCamera(ExtractionState& state) {
    gf.printAt(1, 39, "%s", std::string(33, ' ').c_str());
    if (!state.backgroundCaptured) {
        gf.printAt(1, 38, "Nera fono paveikslelio !!!");
        // The voice-driven run has had its one extraction; asking for it on every
        // later pass would keep the mode for ever.
        if (prisijungimas > 1) keyPressed = kKeyLeaveMode;
        return;
    }
    for (;;) {
        state.frame = getCameraFrame1(kamera2);
        if (!state.frame.empty()) {
            const objectmodes::Extraction e =
                objectmodes::extractObject(state.background, state.frame, plotis, aukstis);
            state.result = e.picture;
            if (prisijungimas > 1) keyPressed = kKeyLeaveMode;
            ui::show(kWindow, state.result);
            if (e.accepted) {
                gf.printAt(1, 42, "Regionas: ");
                gf.printAt(1, 43, "blobo.x =  %i \n", e.region.x);
                gf.printAt(1, 44, "blobo.y =  %i \n", e.region.y);
                gf.printAt(1, 45, "Bplotis =  %i \n", e.region.width);
                gf.printAt(1, 46, "Baukstis= %i \n", e.region.height);
                break;
            }
        }
        if ((ui::waitKey(10) & 0xFF) == 'm') {
            keyPressed = kKeyLeaveMode;  // the operator gave up: leave the mode
            return;
        }
    }
    gf.printAt(1, 39, "Uzfiksuotas daikto vaizdas   !!!");
    platform::WinExec("eSpeak.exe -v lv+m4  jisyideameeijaau", 0);
}

}  // namespace

cv::Mat daikto_isskyrimas() {
    plotis = 640;
    aukstis = 480;
    ExtractionState state;
    state.background = cv::Mat::zeros(480, 640, CV_8UC3);
    state.result = cv::Mat::zeros(aukstis, plotis, CV_8UC1);
    ui::namedWindow(kWindow, cv::WINDOW_AUTOSIZE);
    ui::moveWindow(kWindow, 1, aukstis / 2 + 5);
    ui::bringToFront(kWindow);
    showExtractionHelp();
    const long long start = platform::nowMs();
    keyPressed = -1;  // a key left from the mode before is not meant for this one

    for (;;) {
        state.frame = getCameraFrame1(kamera2);
        const bool skipSideKeys = objectmodes::voiceDrivenKeys(start);
        const int key = keyPressed & 0xFF;
        if (!skipSideKeys && key == ',') nudgeHead(servo_x, -kHeadKeyStep);
        if (!skipSideKeys && key == '.') nudgeHead(servo_x, kHeadKeyStep);
        if (key == 'q') nudgeHead(servo_y, -kHeadKeyStep);
        if (key == 'a') nudgeHead(servo_y, kHeadKeyStep);
        if (key == 'f') captureBackground(state);
        if (key == 'd') extractObjectFromCamera(state);
        if ((keyPressed & 0xFF) == 'm') break;
        keyPressed = ui::waitKey(10);
    }
    ui::destroyWindow(kWindow);
    releaseLeftCamera();
    return state.result;
}
