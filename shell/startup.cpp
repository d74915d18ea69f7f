#include "shell/startup.h"

#include <opencv2/core.hpp>
#include <opencv2/core/utils/logger.hpp>
#include <opencv2/core/version.hpp>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/clock.h"
#include "platform/devices.h"
#include "platform/keys.h"
#include "platform/runner.h"
#include "platform/terminal.h"
#include "platform/ui.h"
#include "faces/camera/camera.h"
#include "speech/speech.h"
#include "shell/console/f_graph.h"
#include "shell/menu.h"
#include "shell/modes.h"
#include "shell/console/program_end.h"

namespace {

const char* const kConsoleTitle = "Roboto veido atpazinimo sistema + SSC32";
constexpr int kStatusColumn = 4;
constexpr int kConsoleX = 650, kConsoleY = 1, kConsoleWidth = 630, kConsoleHeight = 800;

void speak(const char* commandLine) { platform::WinExec(commandLine, 1); }

void statusLine(int row, unsigned short colour, const std::string& text) {
    gf.setColor(colour);
    gf.printAt(kStatusColumn, row, "%s\n", text.c_str());
}

// The optimised-code line: Debian's vision library reports whether its
// Intel-optimised primitives are in use.
void reportOptimisedCode() {
    cv::setUseOptimized(true);
    gf.gotoxy(kStatusColumn, 38);
    if (cv::ipp::useIPP()) {
        gf.setColor(f_graph::kGreen);
        gf.printf("* IPP  naudojamas\n");
    } else {
        gf.setColor(f_graph::kRed);
        gf.printf("* IPP nenaudojamas! \n");
    }
    gf.wait(2000);
}

void reportRecogniser() {
    RobotModes& modes = robotModes();
    if (prisijungimas > 1) {
        statusLine(40, f_graph::kGreen, "PRISIJUNGE prie 'JULIUS' serverio- (kalbos atpazinimas)");
        if (modes.pauseRecogniser) modes.pauseRecogniser();
    } else {
        statusLine(40, f_graph::kRed, "NEPRISUJUNGIA prie 'JULIUS' serverio- (kalbos atpazinimas)");
    }
    gf.setColor(f_graph::kNormal);
}

void showStartupBanner() {
    gf.setColor(72);
    gf.printAt(1, 10, "  VISUOSE KAMEROS REZIMUOSE                        \n");
    gf.printf("  ISEJIMAS IPAGRINDINI VALDYMO MENIU :             \n");
    gf.printf("  Aktynuoti 'pele' kameros langa ir spausti [ m ]  \n");
    gf.setColor(128);
}

void openCameraWindows() {
    ui::namedWindow(ui::kRightWindow, cv::WINDOW_AUTOSIZE);
    ui::moveWindow(ui::kRightWindow, 10, 10);
    ui::bringToFront(ui::kRightWindow);
    ui::namedWindow(ui::kLeftWindow, cv::WINDOW_AUTOSIZE);
    ui::moveWindow(ui::kLeftWindow, plotis + 5, 10);
    ui::bringToFront(ui::kLeftWindow);
}

// Runs the mode the voice dialogue chose; false when the menu is next.
bool runRobotMode(int mode) {
    RobotModes& modes = robotModes();
    auto run = [](const std::function<void()>& f) { if (f) f(); };
    if (mode <= 0) {
        keyPressed = kKeyLeaveMode;
        return false;
    }
    if (mode == 1) run(modes.PazistamiVeidai);
    else if (mode == 2 || (mode >= 5 && mode <= 10)) run(modes.PazistamiDaiktai);
    else if (mode == 3 || mode == 4) run(modes.Klaidziojimas);
    return keyPressed != kKeyLeaveMode;
}

void robotModeLoop() {
    RobotModes& modes = robotModes();
    for (;;) {
        // Without the voice dialogue the robot goes straight to the menu, as it
        // does when the recogniser is missing.
        robotorezimas = modes.DialogasRobRezimas ? modes.DialogasRobRezimas() : 0;
        if (runRobotMode(robotorezimas)) continue;
        ekranorezimas = 2;
        RAM_minimize_refresh();
        meniupagr();
    }
}

}  // namespace

RobotModes& robotModes() {
    static RobotModes modes;
    return modes;
}

const char* visionLibraryVersionLine() { return CV_VERSION; }

void RAM_minimize_refresh() {
    platform::Terminal::instance().placeWindow(kConsoleX, kConsoleY, kConsoleWidth, kConsoleHeight);
}

void sysinitas() {
    RobotModes& modes = robotModes();
    cv::setUseOptimized(true);
    speak("eSpeak.exe -v en+m4  ashsh");
    gf.wait(700);
    speak("eSpeak.exe -v lv+m4  ee`szu....rroobootasz");
    prisijungimas = modes.connectRecogniser ? modes.connectRecogniser() : -1;
    reportOptimisedCode();
    reportRecogniser();
    if (modes.startSerialAndServos) modes.startSerialAndServos();
    if (modes.startBoard) modes.startBoard();  // it pauses 100 ms before opening the board
}

void meniupabaiga() {
    RobotModes& modes = robotModes();
    ui::destroyAllWindows();
    if (modes.releaseCameras) modes.releaseCameras();
    if (modes.parkHead) modes.parkHead();
    speak("eSpeak.exe -v lv+m4 viyszo....gearroo");
    gf.showRightSide("VISO GEROOOOOOO ....", true, true);
    gf.warning("Programa uzdaroma, Aciu !!!");
    if (modes.disconnectRecogniser) modes.disconnectRecogniser();
    if (modes.closeBoard) modes.closeBoard();
    if (modes.closeSerialPort) modes.closeSerialPort();
    gf.setColor(7);
    gf.gotoxy(1, 60);
    platform::restoreTerminalMode();
    throw ProgramEnd{1};
}

void perkrautiInterfeisus() {
    RobotModes& modes = robotModes();
    if (modes.closeSerialPort) modes.closeSerialPort();
    gf.showRightSide(" PERKRAUNAMI SISTEMOS INTERFEISAI !!!", true);
    const char* const underline = "________________________________________";
    gf.showRightSide(underline, false);
    gf.showRightSide(" ", false);
    gf.showRightSide("  Rezoliucija : ", false);
    gf.printf(" %dx%d.", plotis, aukstis);
    gf.showRightSide(" ", false);
    gf.printf("  OpenCV  %s (%d.%d.%d)\n", CV_VERSION, CV_MAJOR_VERSION, CV_MINOR_VERSION, CV_SUBMINOR_VERSION);
    gf.showRightSide(underline, false);
    gf.showRightSide("", false);
    gf.showRightSide("     ROBOTO AUTORIUS :", false);
    for (int i = 0; i < 4; ++i) {  // author, place and year, country, contact
        gf.showRightSide("", false);
        gf.showRightSide("", false);
    }
    if (modes.closeBoard) modes.closeBoard();
    // sysinitas connects to the recogniser anew: let the old connection go
    // first, or it would stay open for the rest of the run and a recogniser
    // that serves one client at a time would refuse the new one.
    if (prisijungimas > 1 && modes.dropRecogniserConnection) modes.dropRecogniserConnection();
    gf.wait(100);
    sysinitas();
    gf.wait(10000);
}

int robotasMain() {
    // The library's own notices (a looping picture folder, a missing device)
    // would scribble over the fixed console screen; the robot reports on its rows.
    cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_ERROR);
    platform::requestRealtimePriority();
    platform::Terminal::instance().requestMinimumSize();
    gf.setTitle(kConsoleTitle);
    showStartupBanner();
    RAM_minimize_refresh();
    sysinitas();
    if (robotModes().Pradzia) robotModes().Pradzia();
    openCameraWindows();
    robotModeLoop();
    return 1;
}
