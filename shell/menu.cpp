#include "shell/menu.h"

#include <opencv2/core/version.hpp>

#include <cstdio>
#include <string>

#include "platform/clock.h"
#include "faces/camera/camera.h"
#include "faces/faces.h"
#include "faces/camera/imageutil.h"
#include "shell/console/f_graph.h"
#include "shell/menu_input.h"
#include "shell/modes.h"
#include "shell/startup.h"

namespace {

const char* const kMenuTitle = "  Roboto veido atpazinimo sistema + SSC32  COM 2 Greitis: 115200";
const char* const kMainPrompt = " Isrinkite : [1-9] ir spausti - Enter ";
const char* const kMainWarning = "KLAIDA, jus turite pasirinkti [1-9!";
const char* const kSubPrompt = "Prasau isrinkti darbo subrezima ir spausti ENTER [1-9]: ";
const char* const kSubRetryPrompt = "Prasau isrinkti darbo rezima ir spausti ENTER [1-9]: ";
const char* const kSubWarning = "KLAIDA: isrinkti darbo rezima ribose[1-9]!";
const char* const kEqualsLine = "=========================================";
constexpr int kRetryPauseMs = 1000;
constexpr int kViewingPauseMs = 10000;

const char* const kMainEntries[] = {" [1] Naujas",  " [2] Atpazinimas", " [3] STEREO",
                                    " [4] Laisva",  " [5] Dialogas",    " [6] Sistema",
                                    " [7] Statistika", " [8] Apie ...", " [9] Iseiti     "};

const char* const kRobotEntries[] = {
    " [1]    Robotas pagr. programa",   " [2]    Robotas 1 programa",
    " [3]    Apvalaus objekto sekimas", " [4]    Judesio detektavimas 1",
    " [5]    Daikto isskirimas",        " [6]    Daikto paieska",
    " [7]    Tasko sekimas",            " [8]    Judesio detektavimas 2 ",
    " [9]    Iseiti is programos"};

const char* const kStereoEntries[] = {
    " [1]    StereoBM gylis",
    " [2]    StereoGC gylis",
    " [3]     XXXXXXXXXXXXXXXXXXXXXXXX",
    " [4]     XXXXXXXXXXXXXXXXXXXXXXXX",
    " [5]     XXXXXXXXXXXXXXXXXXXXXXXX",
    " [6]     XXXXXXXXXXXXXXXXXXXXXXXX",
    " [7]     XXXXXXXXXXXXXXXXXXXXXXXX",
    " [8]     XXXXXXXXXXXXXXXXXXXXXXXX ",
    " [9]    Iseiti is programos"};

const char* const kDialogueEntries[] = {
    " [1]    Dialogas roboto darbo rezimas",
    " [2]    Dialogas daikto paieska    ",
    " [3]    XXXXXXXXXXXXXXXXXXXXXXXXXXX",
    " [4]    XXXXXXXXXXXXXXXXXXXXXXXXXXX",
    " [5]    XXXXXXXXXXXXXXXXXXXXXXXXXXX",
    " [6]    XXXXXXXXXXXXXXXXXXXXXXXXXXX",
    " [7]    XXXXXXXXXXXXXXXXXXXXXXXXXXX",
    " [8]    XXXXXXXXXXXXXXXXXXXXXXXXXXX",
    " [9]    Iseiti is programos"};

const char* const kSystemEntries[] = {
    " [1]    Stereo, kameru kalibravimas",
    " [2]    XXXXXXXXXXXXXXXXXXXXXXXXXXX",
    " [3]    XXXXXXXXXXXXXXXXXXXXXXXXXXX",
    " [4]    XXXXXXXXXXXXXXXXXXXXXXXXXXX",
    " [5]    SSC32 ivedimas",
    " [6]    'JULIUS' kalbos atpazinimas",
    " [7]    'eProDas' valdiklio isvadai",
    " [8]    Isoriniu interfeisu initas",
    " [9]    Iseiti is programos"};

void beepThreeTimes() { gf.print("\a\a\a"); }

// A menu that finds its input ended leaves the program the orderly way
// instead of asking again for ever.
int readMenuNumber(int& value) {
    const MenuInput::Result result = MenuInput::instance().readInt(value);
    if (result == MenuInput::Result::EndOfInput) {
        meniupabaiga();
        return -1;  // only when the shutdown was replaced (tests)
    }
    return result == MenuInput::Result::Number ? 1 : 0;
}

void drawMenuFrame() {
    gf.setColor(128);
    gf.clrscr();
    gf.headerLine(kMenuTitle);
}

int drawSubMenuAndRead(const char* const (&entries)[9]) {
    drawMenuFrame();
    gf.showRightSide(" [0]    Grizti i pagrindini Meniu", true);
    for (const char* entry : entries) {
        gf.showRightSide("", false);
        gf.showRightSide(entry, false);
    }
    gf.footerLine(kSubPrompt);
    keyPressed = kKeyMenuRead;
    int value = 0;
    int read = readMenuNumber(value);
    while (read >= 0 && (read == 0 || value > 9)) {
        gf.warning(kSubWarning);
        gf.wait(kRetryPauseMs);
        gf.footerLine(kSubRetryPrompt);
        MenuInput::instance().discardLine();
        read = readMenuNumber(value);
    }
    return read < 0 ? 0 : value;
}

// Runs a mode if the robot has it; an entry without one only redraws its menu.
template <typename Mode, typename... Args>
void runMode(const Mode& mode, Args... args) {
    if (mode) mode(args...);
}

void runModeThenRefresh(const std::function<void()>& mode) {
    runMode(mode);
    RAM_minimize_refresh();
}

void printVisionLibraryLine(const char* format) {
    gf.printf(format, CV_VERSION, CV_MAJOR_VERSION, CV_MINOR_VERSION, CV_SUBMINOR_VERSION);
}

FaceStatistics noStatistics() { return FaceStatistics{}; }

}  // namespace

FaceStatistics (*readFaceStatistics)() = noStatistics;

unsigned int meniu() {
    drawMenuFrame();
    gf.showLeftSide("  MENIU", true);
    for (int i = 0; i < 9; ++i) {
        gf.showLeftSide(kMainEntries[i], false);
        if (i < 8) gf.showLeftSide("", false);
    }
    gf.footerLine(kMainPrompt);
    keyPressed = kKeyMenuRead;
    int value = 0;
    int read = readMenuNumber(value);
    while (read >= 0 && (read == 0 || value < 1 || value > 9)) {
        beepThreeTimes();
        gf.warning(kMainWarning);
        gf.wait(kRetryPauseMs);
        beepThreeTimes();
        gf.footerLine(kMainPrompt);
        MenuInput::instance().discardLine();
        read = readMenuNumber(value);
    }
    return read < 0 ? 9 : static_cast<unsigned int>(value);
}

int meniurobrez() { return drawSubMenuAndRead(kRobotEntries); }
int meniuStereo() { return drawSubMenuAndRead(kStereoEntries); }
int meniudialogas() { return drawSubMenuAndRead(kDialogueEntries); }
int meniusistema() { return drawSubMenuAndRead(kSystemEntries); }

void meniuivedimas() { runMode(robotModes().ivedimasiscam); }

void meniupagr() {
    for (;;) {
        switch (meniu()) {
            case 1: meniuivedimas(); break;
            case 2: meniurez(); break;
            case 3: meniuStereorez(); break;
            case 4: gf.clrscr(); break;
            case 5: meniuDialogasrez(); break;
            case 6: meniusisrez(); break;
            case 7: menustatistika(); break;
            case 8: meniuapie(); break;
            case 9: meniupabaiga(); return;
            default: break;
        }
    }
}

void meniurez() {
    RobotModes& modes = robotModes();
    for (;;) {
        const int choice = meniurobrez();
        switch (choice) {
            case 0: gf.clrscr(); return;
            case 1: runModeThenRefresh(modes.VeidoAtpazinimas); break;
            case 2: runModeThenRefresh(modes.VeidoProfilis); break;
            case 3: runModeThenRefresh(modes.objsekimas); break;
            case 4: runMode(modes.judesys, 1000, 0); RAM_minimize_refresh(); break;
            case 5: runModeThenRefresh(modes.daikto_isskyrimas); break;
            case 6: runModeThenRefresh(modes.PazistamiDaiktai); break;
            case 7: runMode(modes.trekingas, 1); RAM_minimize_refresh(); break;
            case 8: runMode(modes.judesys1, 1000); RAM_minimize_refresh(); break;
            case 9: meniupabaiga(); return;
            default: break;
        }
    }
}

void meniuStereorez() {
    RobotModes& modes = robotModes();
    for (;;) {
        switch (meniuStereo()) {
            case 0: gf.clrscr(); return;
            case 1: runModeThenRefresh(modes.stereoBM); break;
            case 2: runModeThenRefresh(modes.stereoGC); break;
            case 9: meniupabaiga(); return;
            default: gf.clrscr(); break;
        }
    }
}

void meniuDialogasrez() {
    RobotModes& modes = robotModes();
    for (;;) {
        switch (meniudialogas()) {
            case 0: gf.clrscr(); return;
            case 1: {
                const int answer = modes.DialogasRobRezimas ? modes.DialogasRobRezimas() : 0;
                RAM_minimize_refresh();
                if (answer != 1) return;
                break;
            }
            case 9: meniupabaiga(); return;
            default: gf.clrscr(); break;
        }
    }
}

void meniusisrez() {
    RobotModes& modes = robotModes();
    keyPressed = kKeyMenuRead;
    for (;;) {
        switch (meniusistema()) {
            case 0: gf.clrscr(); return;
            case 1: runMode(modes.kamkalibr); break;
            case 5: gf.clrscr(); runMode(modes.ssc32inDemo); break;
            case 6: gf.clrscr(); runMode(modes.KalboaAtpazinimas_demo); break;
            case 7: runMode(modes.eproaktyv); break;
            case 8: perkrautiInterfeisus(); break;
            case 9: meniupabaiga(); return;
            default: gf.clrscr(); break;
        }
    }
}

void meniuapie() {
    gf.setColor(128);
    const char* const lines[] = {"        Apie roboto, programa... ",
                                 kEqualsLine,
                                 "Dvi WEB kameros: valdymas SSC32 valdikliu",
                                 "Vaziuokles valdymas: eProDas arba LPT",
                                 "Optiniai dav.: Atmega8 i SSC32 4 inputus",
                                 "Sist.darb.: parametru modulis: Atmega32",
                                 "Veidu atpazinimo algoritmai : OpenCV",
                                 "        Versija 0.5",
                                 "",  // place and year
                                 kEqualsLine,
                                 "",
                                 "  Programavo:",
                                 "",
                                 "",  // author
                                 "",
                                 "",
                                 ""};  // contact
    bool first = true;
    for (const char* line : lines) {
        gf.showRightSide(line, first);
        first = false;
    }
    gf.footerLine("Pause 10 sekundziu perziurai");
    gf.wait(kViewingPauseMs);
}

void menustatistika() {
    const FaceStatistics stats = readFaceStatistics();
    gf.showRightSide("  Parametrai :", true);
    printVisionLibraryLine(" OpenCV  %s (%d.%d.%d)\n");
    gf.showRightSide(kEqualsLine, false);

    char value[128];
    auto labelled = [&](const char* label) {
        gf.showRightSide(label, false);
        gf.print(value);
    };
    std::snprintf(value, sizeof value, " %d", stats.noofegineface);
    labelled("Pazistamu skaicius =  ");
    std::snprintf(value, sizeof value, "%d", stats.nooftraingimage);
    labelled("Nepazistamu skaicius =  ");
    std::snprintf(value, sizeof value, " %f", stats.confi);
    labelled("Panasumas =");
    std::snprintf(value, sizeof value, " %d%%", stats.accuracy);
    labelled("Tikslumas:");
    std::snprintf(value, sizeof value, " %.1fms average.", stats.detectiontime);
    labelled("Bendras laikas:");
    std::snprintf(value, sizeof value, " %dx%d.", plotis, aukstis);
    labelled("Rezoliucija");
    std::snprintf(value, sizeof value, " %d ms", stats.detectfacetime);
    labelled("Veidu sk.:");

    gf.footerLine("Pauze 10 sekundziu perziurai");
    gf.wait(kViewingPauseMs);
}
