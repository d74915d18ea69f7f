#include "faces/veido_atpazinimas.h"

#include <opencv2/imgproc.hpp>
#include <opencv2/objdetect.hpp>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "faces/camera/camera.h"
#include "faces/eigenfaces.h"
#include "faces/camera/imageutil.h"
#include "hardware/hardware.h"
#include "objects/objects.h"
#include "platform/clock.h"
#include "platform/datafiles.h"
#include "platform/runner.h"
#include "platform/ui.h"
#include "shell/console/f_graph.h"
#include "shell/console/program_end.h"

std::string naujasVeidas(20, ' ');
std::string senasVeidas(20, ' ');

namespace {

constexpr long long kFaceLostMs = 15000;        // nobody seen this long starts a search step
constexpr long long kNextSearchMs = 13000;      // later search steps while still nobody is seen
constexpr long long kRecognitionPauseMs = 500;  // one recognition per half second
constexpr long long kGreetingHoldMs = 2000;     // a greeting counts this much later
constexpr long long kKeepNearestNameMs = 3000;  // an unknown face keeps the last name this long
constexpr long long kAskAgainMs = 7000;         // an unknown face is asked again after this
constexpr long long kLookAroundMs = 2000;        // the head settles after a look-around
constexpr int kLastSearchStep = 4;
constexpr int kMotionWatchMoves = 25;
constexpr long kMotionWatchMs = 10000;
const char* const kUnknownName = "Nezinomas";
const char* const kAsked = "nepazistu";
const cv::Scalar kGreen(0, 255, 0), kYellow(0, 255, 255), kRed(0, 0, 255);
constexpr int kItalicPlain = cv::FONT_HERSHEY_PLAIN | cv::FONT_ITALIC;

// The mode's own state for one run.
struct RecognitionMode {
    cv::CascadeClassifier cascade;
    cv::Mat personNumbers;          // person number of each training picture
    std::vector<float> projection;  // nEigens coefficients of the face
    long long lastFaceTime = 0;
    long long lastRecognitionTime = 0;
    int searchCount = 0;
    Greeting greeting;
};

struct Recognition {
    bool ran = false;  // a result to show this frame
    int person = 0;
    float confidence = 0.0f;
};

void speak(const std::string& commandLine) { platform::WinExec(commandLine, 1); }

void showKeyHelp() {
    gf.clrscr();
    gf.setColor(128);
    gf.showKeyHelp(plotis, aukstis, f_graph::SizeOnly,
                   {" [m]   - uzdaryti 'Roboto' programa", "   ir iskviesti pagrindini meniu",
                    " [s]   - (x , y) servus i centra", " [e]   - kameru langu vaizdas", " [f]   - rodyti kameru vaizda",
                    " [n]   - isjungti kameru vaizda", " []- "});
}

// Without its database or its cascade the robot cannot recognise anybody.
[[noreturn]] void endProgram(const char* warning) {
    gf.gotoxy(7, 40);
    gf.warning(warning);
    gf.wait(1000);
    throw ProgramEnd{1};
}

void enter(RecognitionMode& mode) {
    plotis = 320;
    aukstis = 240;
    mode.lastFaceTime = platform::nowMs();
    showKeyHelp();
    speak("eSpeak.exe -v lv+m4  eiyyyy.........kaasz.......eszyy");
    if (!loadTrainingData(mode.personNumbers)) {
        endProgram("KLAIDA : Negaliu ivesti veidu treniravimo duomenu!\n");
    }
    faceWidth = pAvgTrainImg.cols;
    faceHeight = pAvgTrainImg.rows;
    mode.projection.assign(static_cast<std::size_t>(std::max(nEigens, 0)), 0.0f);
    if (ekranorezimas == 0) showDisplayOffNotice();
    ui::resizeWindow(ui::kLeftWindow, plotis, aukstis);
    ui::resizeWindow(ui::kRightWindow, plotis, aukstis);
    if (!mode.cascade.load(platform::findDataFile(veidasCascadeFilename))) {
        endProgram("KLAIDA  : Negaliu isvesti Haar cascade veido detektavimo klasifikatoriu ");
    }
    const long long now = platform::nowMs();
    mode.lastRecognitionTime = now - 600;
    // As if the last greeting were long ago: the first unknown face is asked at once.
    mode.greeting.greetTime = now - kAskAgainMs - 1;
    mode.searchCount = 0;
}

void centreWithSpeeds(int speedX, int speedY) {
    centreAllServoVariables();
    servo_greitisX = speedX;
    servo_greitisY = speedY;
    akys_servo();
}

// The keys of the previous frame; false on m.
bool obeyKey() {
    switch (keyPressed & 0xFF) {
        case 'm': return false;
        case 's': centreWithSpeeds(700, 500); break;
        case 'e': ekranorezimas = 1; break;
        case 'f': ekranorezimas = 2; break;
        case 'n':
            ekranorezimas = 0;
            showDisplayOffNotice();
            break;
        default: break;
    }
    return true;
}

// The head target while somebody is seen; a search step when nobody was seen for
// 15 s (13 s after the previous step). False when the search gives up or the
// operator pressed m during it.
bool aimOrSearch(RecognitionMode& mode) {
    if (platform::nowMs() - mode.lastFaceTime < kFaceLostMs) {
        servo_x = (servo_xk.load() + servo_xd.load()) / 2;
        servo_y = (servo_yk.load() + servo_yd.load()) / 2;
        return true;
    }
    servo_greitisX = 300;
    servo_greitisY = 200;
    senasVeidas = "    ";
    speak("eSpeak.exe -v lv+m4 eeyyyy......kuuorr...jiuuuuoszzs");
    if (mode.searchCount > kLastSearchStep) {
        centreWithSpeeds(700, 500);
        return false;
    }
    if (mode.searchCount == 2) {
        paieska_servo();
        akys_servo();
        platform::sleepMs(kLookAroundMs);
    } else if (mode.searchCount >= 3) {
        rndservo();
        akys_servo();
        platform::sleepMs(kLookAroundMs);
    }
    judesys(kMotionWatchMoves, kMotionWatchMs);
    ++mode.searchCount;
    mode.lastFaceTime = platform::nowMs() - (kFaceLostMs - kNextSearchMs);
    // m pressed during the motion watch ends this mode too, before the next key read overwrites it.
    return (keyPressed & 0xFF) != 'm';
}

cv::Mat greyOf(const cv::Mat& frame) {
    if (frame.empty()) return cv::Mat();
    cv::Mat grey = convertImageToGreyscale(frame);
    if (grey.channels() == 4) cv::cvtColor(grey, grey, cv::COLOR_BGRA2GRAY);
    return grey;
}

cv::Rect faceIn(const cv::Mat& grey, cv::CascadeClassifier& cascade) {
    if (grey.empty()) return kNoFace;
    return detectFaceInImage(grey, cascade);
}

// The right camera's face against the database, at most every 500 ms unless the
// display mode asks for every frame.
Recognition recogniseRightFace(RecognitionMode& mode, const cv::Mat& grey, const cv::Rect& right) {
    Recognition result;
    const long long now = platform::nowMs();
    if (now - mode.lastRecognitionTime <= kRecognitionPauseMs && ekranorezimas != 2) return result;
    mode.lastRecognitionTime = now;
    if (right.width <= steering::kMinFaceWidth) return result;
    const cv::Mat face = cropImage(grey, right);
    if (face.empty()) return result;
    cv::Mat equalised;
    cv::equalizeHist(resizeImage(face, faceWidth, faceHeight), equalised);
    if (nEigens <= 0 || !projectFace(equalised, mode.projection.data())) return result;
    const int nearest = findNearestNeighbor(mode.projection.data(), &result.confidence);
    if (nearest < 0 || static_cast<std::size_t>(nearest) >= mode.personNumbers.total()) return result;
    result.person = mode.personNumbers.at<int>(nearest);
    // A database whose person numbers do not match its names gives no result.
    result.ran = result.person >= 1 && static_cast<std::size_t>(result.person) <= personNames.size();
    return result;
}

void drawFace(cv::Mat& picture, const cv::Rect& face) {
    cv::rectangle(picture, cv::Point(face.x, face.y), cv::Point(face.x + face.width - 1, face.y + face.height - 1),
                  kGreen, 1, cv::LINE_8);
}

void writeUnderFace(const std::string& text, const cv::Rect& face, const cv::Scalar& colour) {
    cv::putText(shownImg, text, cv::Point(face.x, face.y + face.height + 15), kItalicPlain, 1.0, colour, 1,
                cv::LINE_AA);
}

void showResult(RecognitionMode& mode, const Recognition& result, const cv::Rect& right) {
    gf.printAt(7, 44, "Panasumas(%%) : %f%%", result.confidence * 100);
    naujasVeidas = personNames[static_cast<std::size_t>(result.person - 1)];
    const long long now = platform::nowMs();
    if (isKnownFace(result.confidence)) {
        writeUnderFace(naujasVeidas, right, kYellow);
        greetKnownPerson(mode.greeting, naujasVeidas, now);
    } else {
        writeUnderFace("Nepazistu", right, kRed);
        askUnknownPerson(mode.greeting, naujasVeidas, now);
    }
    gf.printAt(7, 47, "                     ");
    gf.printAt(7, 47, "%s", naujasVeidas.c_str());
}

void showFrames() {
    if (ekranorezimas <= 0) return;
    if (!shownImg.empty()) ui::show(ui::kRightWindow, shownImg);
    if (!shownImg1.empty()) ui::show(ui::kLeftWindow, shownImg1);
}

// Grabs both cameras, follows the faces and recognises the right camera's face.
// A camera without a frame counts as one that sees nobody.
void processFrame(RecognitionMode& mode) {
    shownImg = getCameraFrame();
    shownImg1 = getCameraFrame1(kamera2);
    stretchToFullRange(shownImg);
    stretchToFullRange(shownImg1);
    const cv::Mat greyRight = greyOf(shownImg);
    const cv::Rect right = faceIn(greyRight, mode.cascade);
    const cv::Rect left = faceIn(greyOf(shownImg1), mode.cascade);

    const Recognition result = recogniseRightFace(mode, greyRight, right);
    if (followLeftFace(left, right)) {
        drawFace(shownImg1, left);
        mode.lastFaceTime = platform::nowMs();
        mode.searchCount = 0;
    }
    if (followRightFace(left, right)) {
        drawFace(shownImg, right);
        if (result.ran) showResult(mode, result, right);
        mode.lastFaceTime = platform::nowMs();
        showFaceDistance(right.width, left.width);
        mode.searchCount = 0;
    }
    showFrames();
}

void leave() {
    releaseLeftCamera();
    releaseRightCamera();
}

}  // namespace

// The single-precision confidence against the double 0.93: 0.93f itself counts as known.
bool isKnownFace(float confidence) { return confidence > 0.93; }

bool followLeftFace(const cv::Rect& left, const cv::Rect& right) {
    if (!steering::followWithLeftPair({left, right}, {plotis, aukstis})) return false;
    servo_greitisX = std::abs(plotis - left.x) + 1000;
    servo_greitisY = left.y + 800;
    return true;
}

bool followRightFace(const cv::Rect& left, const cv::Rect& right) {
    if (!steering::followWithRightPair({left, right}, {plotis, aukstis})) return false;
    servo_greitisX = std::abs(right.x - plotis) / 2 + 600;
    servo_greitisY = right.y / 2 + 500;
    return true;
}

void showFaceDistance(int rightWidth, int leftWidth) {
    if (std::abs(rightWidth - leftWidth) > 4 || rightWidth < 0) return;
    const int distance = (std::abs(plotis) * 30) / (rightWidth + 1);
    gf.printAt(7, 48, "Atstumas(cm) : %f", static_cast<double>(distance));
}

std::string greetingCommand(const std::string& name) {
    std::string spoken = name;
    // Database names are ID_name: the ID's digits are not part of the spoken name.
    for (char& c : spoken) {
        if (c < '0' || c > '9') break;
        c = ' ';
    }
    return "eSpeak.exe -v lv+m4  " + spoken;
}

void greetKnownPerson(Greeting& greeting, const std::string& name, long long now) {
    naujasVeidas = name;
    if (naujasVeidas == std::string(20, ' ') || naujasVeidas == senasVeidas) return;
    speak(greetingCommand(naujasVeidas));
    greeting.greetTime = now + kGreetingHoldMs;
    senasVeidas = naujasVeidas;
}

void askUnknownPerson(Greeting& greeting, const std::string& nearestName, long long now) {
    naujasVeidas = now - greeting.greetTime > kKeepNearestNameMs ? kUnknownName : nearestName;
    const bool somebodyNew = naujasVeidas != senasVeidas && senasVeidas != kAsked;
    if (!somebodyNew && now - greeting.greetTime <= kAskAgainMs) return;
    speak("eSpeak.exe -v lv+m4 kaasz....tuuu ");
    senasVeidas = kAsked;
    greeting.greetTime = now;
}

void VeidoAtpazinimas() {
    RecognitionMode mode;
    enter(mode);
    for (;;) {
        if (!obeyKey()) break;
        if (!aimOrSearch(mode)) break;
        gf.printAt(4, 56, "paieskos_skaitliukas= %i", mode.searchCount);
        startMechanika();  // sends servo_x, servo_y while the frame is processed
        processFrame(mode);
        keyPressed = ui::waitKey(1);
        joinMechanika();
    }
    leave();
}

void PazistamiVeidai() { VeidoAtpazinimas(); }
