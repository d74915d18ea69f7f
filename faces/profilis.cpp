#include "faces/profilis.h"

#include <opencv2/imgproc.hpp>
#include <opencv2/objdetect.hpp>

#include <cstdlib>

#include "faces/camera/camera.h"
#include "faces/camera/imageutil.h"
#include "faces/veido_atpazinimas.h"
#include "hardware/hardware.h"
#include "platform/clock.h"
#include "platform/datafiles.h"
#include "platform/runner.h"
#include "platform/ui.h"
#include "faces/eigenfaces.h"
#include "shell/console/f_graph.h"
#include "shell/console/program_end.h"

namespace {

constexpr long long kFaceLostMs = 15000;   // nobody seen this long starts a look-around
constexpr long long kNextLookMs = 7000;    // later look-arounds while still nobody is seen
constexpr long long kTurnHintMs = 3000;    // the turn hint is spoken at most this often

struct ProfileMode {
    cv::CascadeClassifier cascade;
    long long tFace = 0;
    long long tSpeak = 0;
};

void speak(const char* commandLine) { platform::WinExec(commandLine, 1); }

void showKeyHelp() {
    gf.clrscr();
    gf.setColor(0x80);
    gf.showKeyHelp(plotis, aukstis, f_graph::SizeOnly,
                   {" [m]   -  i pagrindini meniu", " [s]   - (x,y) akys i centra", " [e]   - ijungti/isjungti vaizda",
                    " []- ", " []- "});
}

// False when m was pressed before the mode started.
bool enter(ProfileMode& mode) {
    plotis = 320;
    aukstis = 240;
    mode.tFace = mode.tSpeak = platform::nowMs();
    showKeyHelp();
    speak("eSpeak.exe -v lv+m4  proo`fiyliysz");
    if (ekranorezimas == 0) {
        shownImg = getCameraFrame1(kamera2);
        showDisplayOffNotice();
    }
    if (!mode.cascade.load(platform::findDataFile(veidasPrCascadeFilename))) {
        gf.gotoxy(7, 40);
        gf.warning("KLAIDA  : Negaliu isvesti Haar cascade veido detektavimo klasifikatoriu ");
        gf.wait(1000);
        throw ProgramEnd{1};
    }
    return (keyPressed & 0xFF) != 'm';
}

void obeyKey() {
    switch (keyPressed & 0xFF) {
        case 's':
            centreAllServoVariables();
            servo_greitisX = 300;
            servo_greitisY = 200;
            akys_servo();
            break;
        case 'e':
            ekranorezimas = ekranorezimas == 0 ? 1 : 0;
            if (ekranorezimas == 0) showDisplayOffNotice();
            break;
        default: break;
    }
}

// The head between the two cameras' targets, or a look-around when nobody was
// seen for 15 s (7 s after the previous one).
void aimOrLookAround(ProfileMode& mode) {
    if (platform::nowMs() - mode.tFace < kFaceLostMs) {
        servo_x = (servo_xk.load() + servo_xd.load()) / 2;
        servo_y = (servo_yk.load() + servo_yd.load()) / 2;
        return;
    }
    servo_greitisX = 300;
    servo_greitisY = 200;
    senasVeidas = "    ";
    paieska_servo();
    speak("eSpeak.exe -v lv+m4 eeyyyy......kuuorr...jiuuuuoszzs");
    mode.tFace = platform::nowMs() - (kFaceLostMs - kNextLookMs);
}

cv::Mat greyOf(const cv::Mat& frame) {
    if (frame.empty()) return cv::Mat();
    cv::Mat grey = convertImageToGreyscale(frame);
    if (grey.channels() == 4) cv::cvtColor(grey, grey, cv::COLOR_BGRA2GRAY);
    return grey;
}

cv::Mat mirrorOf(const cv::Mat& picture) {
    cv::Mat mirrored;
    if (!picture.empty()) cv::flip(picture, mirrored, 1);
    return mirrored;
}

cv::Rect faceIn(const cv::Mat& grey, cv::CascadeClassifier& cascade) {
    if (grey.empty()) return kNoFace;
    return detectFaceInImage(grey, cascade);
}

// The right picture first, then its mirror image; the left picture is searched the
// way the right one gave its face (the plain way when neither did).
steering::FacePair findProfiles(ProfileMode& mode) {
    const cv::Mat right = greyOf(shownImg), left = greyOf(shownImg1);
    steering::FacePair faces{kNoFace, kNoFace};
    faces.right = faceIn(right, mode.cascade);
    if (faces.right.width > 0) {
        faces.left = faceIn(left, mode.cascade);
        return faces;
    }
    faces.right = faceIn(mirrorOf(right), mode.cascade);
    if (faces.right.width > 0) {
        faces.left = faceIn(mirrorOf(left), mode.cascade);
        faces.mirrored = true;
        return faces;
    }
    faces.left = faceIn(left, mode.cascade);
    return faces;
}

// Every 3 s the person is told to turn; row 46 says which side of the face is seen.
void hintTurn(ProfileMode& mode, bool mirrored) {
    const long long now = platform::nowMs();
    if (now - mode.tSpeak > kTurnHintMs) {
        speak(mirrored ? "eSpeak.exe -v de+m4   atszyiszuook....deaschinean"
                       : "eSpeak.exe -v lv+m4   atszyiszuook....kayirean");
        mode.tSpeak = now;
    }
    gf.printAt(7, 46, "%-25s", mirrored ? "Desine veido puse" : "Kaire veido puse");
}

// A face box in frame coordinates, also for a face found in the mirror image.
void drawProfile(cv::Mat& picture, const cv::Rect& face, bool mirrored) {
    if (picture.empty() || face.width <= 0) return;
    const cv::Scalar green(0, 255, 0);
    if (mirrored) {
        cv::rectangle(picture, cv::Point(plotis - face.x, face.y),
                      cv::Point(plotis + 1 - face.x - face.width, face.y + face.height - 1), green, 1, cv::LINE_8);
    } else {
        cv::rectangle(picture, cv::Point(face.x, face.y),
                      cv::Point(face.x + face.width - 1, face.y + face.height - 1), green, 1, cv::LINE_8);
    }
}

void processFrame(ProfileMode& mode) {
    shownImg = getCameraFrame();
    shownImg1 = getCameraFrame1(kamera2);
    stretchToFullRange(shownImg);
    stretchToFullRange(shownImg1);
    const steering::FacePair faces = findProfiles(mode);
    if (followLeftProfile(faces)) mode.tFace = platform::nowMs();
    if (followRightProfile(faces)) {
        showFaceDistance(faces.right.width, faces.left.width);
        hintTurn(mode, faces.mirrored);
        drawProfile(shownImg, faces.right, faces.mirrored);
        drawProfile(shownImg1, faces.left, faces.mirrored);
        mode.tFace = platform::nowMs();
    } else {
        gf.printAt(7, 46, "%25s", "");
    }
    if (ekranorezimas > 0) {
        if (!shownImg.empty()) ui::show(ui::kRightWindow, shownImg);
        if (!shownImg1.empty()) ui::show(ui::kLeftWindow, shownImg1);
    }
}

}  // namespace

// The k pair follows the left camera's face.
bool followLeftProfile(const steering::FacePair& faces) {
    if (!steering::followWithLeftPair(faces, {plotis, aukstis})) return false;
    servo_greitisX = std::abs(plotis / 2 - faces.left.x) + 300;
    servo_greitisY = std::abs(aukstis / 2 - faces.left.y) + 200;
    return true;
}

// The d pair follows the right camera's face.
bool followRightProfile(const steering::FacePair& faces) {
    if (!steering::followWithRightPair(faces, {plotis, aukstis})) return false;
    servo_greitisX = std::abs(plotis / 2 - faces.right.x) + 300;
    servo_greitisY = std::abs(aukstis / 2 - faces.right.y) + 200;
    return true;
}

void VeidoProfilis() {
    ProfileMode mode;
    if (enter(mode)) {
        for (;;) {
            obeyKey();
            aimOrLookAround(mode);
            startMechanika();  // sends servo_x, servo_y while the frame is processed
            processFrame(mode);
            keyPressed = ui::waitKey(1);
            joinMechanika();
            if ((keyPressed & 0xFF) == 'm') break;
        }
    }
    releaseLeftCamera();
    releaseRightCamera();
}
