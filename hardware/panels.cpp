#include "hardware/panels.h"

#include <cstdio>

#include "hardware/chassis.h"
#include "hardware/eprodas.h"
#include "hardware/servo.h"
#include "platform/clock.h"
#include "platform/ui.h"
#include "shell/console/f_graph.h"

unsigned char eProInputE = 0, eProInputD = 0;

namespace {

constexpr unsigned short kLampOn = 96, kLampOff = 64;
constexpr int kBoardErrorShowMs = 2000;

PanelCameras cameras;

void openPanel(const char* pinHelp) {
    if (cameras.setFrameSize) cameras.setFrameSize(kPanelFrameWidth, kPanelFrameHeight);
    gf.clrscr();
    gf.showKeyHelp(kPanelFrameWidth, kPanelFrameHeight, f_graph::SizeAndLibrary,
                   {" [m] - uzdaryti 'Roboto' programa", " [q]   - Aukstyn", " [a]   - Zemyn", " [<]   - Kairen",
                    " [>]   - Desinin", " [s]   - (x , y) servo i centra", pinHelp, " []- ", " []- "});
}

void showCameras() {
    if (cameras.right) ui::show("Kaire", cameras.right());
    if (cameras.left) ui::show("Desine", cameras.left());
}

// The head keys of both panels: , . q a move by a step, s centres at full speed.
// False when the key m ends the panel.
bool handleHeadKey(int key) {
    switch (key) {
        case ',': servo_x -= kHeadKeyStep; akys_servo(); break;
        case '.': servo_x += kHeadKeyStep; akys_servo(); break;
        case 'q': servo_y -= kHeadKeyStep; akys_servo(); break;
        case 'a': servo_y += kHeadKeyStep; akys_servo(); break;
        case 'm': return false;
        case 's':
            centreAllServoVariables();
            servo_greitisX = 700;  // the send clamps it to 600
            servo_greitisY = 500;
            akys_servo();
            break;
        default: break;
    }
    return true;
}

// One pass's frames and key; false when the panel ends.
bool panelPass() {
    showCameras();
    const int key = ui::waitKey(1);
    keyPressed = key;
    return handleHeadKey(key);
}

void togglePortBPin(int pin) {
    Pin = pin;
    std::atomic<unsigned char>& cached = cachedPinLevel(pin);
    const int level = cached.load() == 0 ? 1 : 0;
    cached = static_cast<unsigned char>(level);
    InitialState = level;
    const int status = eProDas_ConfigurePinAsOutput(0, kPortB, pin, level);
    if (pin == 7) StatuseProDas = status;
    gf.printAt(2, 30 + pin, "RB%d = %i", pin, level);
}

// A port's value, padded over the widest one ("...: 255") so that a shorter value
// leaves no digits of the one before.
void showPortValue(int x, int port, unsigned char value) {
    char text[32];
    std::snprintf(text, sizeof text, "Porto %i  reiksme: %i", port, value);
    gf.printAt(x, 33, "%-21s", text);
}

void drawBit(int x, int y, unsigned char value, int bit) {
    gf.printAt(x, y, "%c", (value >> bit & 1) ? '1' : '0');
}

// Port E's four low bits light a square of sensor lamps, the front below it.
void showPortE() {
    eProDas_ReadPort(0, kPortE, &eProInputE);
    showPortValue(43, kPortE, eProInputE);
    struct Lamp {
        int bit, digitX, blockX, blockY;
    };
    constexpr Lamp lamps[] = {{3, 43, 40, 40}, {2, 47, 20, 40}, {1, 51, 20, 50}, {0, 55, 40, 50}};
    for (const Lamp& lamp : lamps) {
        drawBit(lamp.digitX, 35, eProInputE, lamp.bit);
        gf.setColor((eProInputE >> lamp.bit & 1) ? kLampOn : kLampOff);
        gf.printAt(lamp.blockX, lamp.blockY, "   ");
        gf.setColor(f_graph::kNormal);
    }
    gf.setColor(f_graph::kGreen);
    gf.printAt(29, 52, "PRIEKIS");
    gf.setColor(f_graph::kNormal);
}

void showPortD() {
    eProDas_ReadPort(0, kPortD, &eProInputD);
    showPortValue(12, kPortD, eProInputD);
    for (int bit = 7; bit >= 0; --bit) drawBit(12 + 2 * (7 - bit), 35, eProInputD, bit);
}

}  // namespace

void setPanelCameras(const PanelCameras& panelCameras) { cameras = panelCameras; }

void ssc32inDemo() {
    openPanel(" [0-7] - SSC32   valdymas");
    while (panelPass()) ssc32in();
}

void eproaktyv() {
    openPanel(" [0-7] - eProDas  RB0 - RB7 valdymas");
    while (panelPass()) {
        if (StatuseProDas != 0) {
            gf.clrscr();
            gf.printAt(7, 44, "Neprijungtas eProdas valdiklis  klaida : %i ", StatuseProDas);
            platform::sleepMs(kBoardErrorShowMs);
            return;
        }
        const int key = keyPressed;
        if (key >= '0' && key <= '7') togglePortBPin(key - '0');
        showPortE();
        showPortD();
    }
}
