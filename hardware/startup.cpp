#include "hardware/startup.h"

#include <cstdio>

#include "hardware/eprodas.h"
#include "hardware/rs232.h"
#include "hardware/servo.h"
#include "hardware/status_row.h"
#include "platform/clock.h"
#include "shell/console/f_graph.h"

namespace {

constexpr int kProbeReplyWaitMs = 5;
constexpr int kProbeReplyMax = 255;
constexpr int kHeadSettleMs = 2000;  // time the head needs to reach the centre

bool endsWithCarriageReturn(const unsigned char* reply, int count) { return count > 0 && reply[count - 1] == 13; }

// Shows the controller's version answer; true when it is the controller's
// version text ("SSC32...": its second byte is 'S').
bool probeServoController(int comNumber) {
    char command[32];
    std::snprintf(command, sizeof command, "%dver", comNumber);
    gf.gotoxy(4, 43);
    sendQuery(cport_nr, command);

    gf.setColor(f_graph::kNormal);
    gf.gotoxy(4, 44);
    unsigned char reply[kProbeReplyMax + 1] = {};
    const int count = awaitReply(cport_nr, reply, kProbeReplyMax, kProbeReplyWaitMs, endsWithCarriageReturn);
    if (count > 0) {
        char text[kProbeReplyMax + 1] = {};
        for (int i = 0; i < count; ++i) text[i] = static_cast<char>(reply[i]);
        makePrintable(text, count);
        gf.setColor(f_graph::kGreen);
        gf.printAt(4, 44, "Servo ID: %s     'SSC32' atsakymas i 'RS232': %i baitu.\n", text, count);
    }
    gf.setColor(f_graph::kNormal);
    platform::sleepMs(100);
    return count >= 2 && reply[1] == 'S';
}

void configureBoardPins() {
    InitialState = 1;
    for (Pin = 0; Pin < 8; ++Pin) eProDas_ConfigurePinAsOutput(0, kPortB, Pin, InitialState);
    for (Pin = 0; Pin < 4; ++Pin) eProDas_ConfigurePinAsInput(0, kPortE, Pin);
    for (Pin = 0; Pin < 8; ++Pin) eProDas_ConfigurePinAsInput(0, kPortB, Pin);
}

}  // namespace

void sysinitasSerial() {
    const int comNumber = cport_nr + 1;
    if (OpenComport(cport_nr, bdrate) != 0) {
        gf.setColor(f_graph::kRed);
        gf.printAt(4, 42, "Negaliu atidaryti COM porto :%d", comNumber);
        platform::sleepMs(100);
        gf.setColor(f_graph::kNormal);
        return;
    }
    gf.setColor(f_graph::kGreen);
    gf.printAt(4, 42, "RS232 portas com %d", comNumber);

    if (probeServoController(comNumber)) {
        servo_x = kServoCentreX;
        servo_y = kServoCentreY;
        akys_servo();
    } else {
        gf.setColor(f_graph::kRed);
        gf.printAt(4, 44, "Neprijungtas 'SSC32', servo valdiklis");
        gf.setColor(f_graph::kNormal);
    }
}

void sysinitasBoard() {
    platform::sleepMs(100);
    StatuseProDas = eProDas_OpenHandle();
    if (StatuseProDas != 0) {
        gf.setColor(f_graph::kRed);
        gf.printAt(4, 46, "Neprijungtas 'eProDas', USB vaziuokles valdiklis");
        gf.setColor(f_graph::kNormal);
        platform::sleepMs(100);
    } else {
        gf.setColor(f_graph::kGreen);
        gf.printAt(4, 46, "Prijungtas 'eProDas', USB vaziuokles valdiklis");
        platform::sleepMs(100);
        gf.setColor(f_graph::kNormal);
    }

    StatuseProDas = eProDas_Initialize(0);
    if (StatuseProDas != 0) {
        gf.setColor(f_graph::kRed);
        gf.printAt(4, 48, "'eProdas' valdiklio inicializacijos KLAIDA ");
        gf.setColor(f_graph::kNormal);
        platform::sleepMs(100);
        return;
    }
    gf.setColor(f_graph::kGreen);
    gf.printAt(4, 48, "'eProDas' valdiklis inicializavosi");
    gf.setColor(f_graph::kNormal);
    platform::sleepMs(100);
    configureBoardPins();
}

void shutdownHead() {
    servo_y = kServoCentreY;
    servo_x = kServoCentreX;
    akys_servo();
    platform::sleepMs(kHeadSettleMs);
    sendCommand(cport_nr, "#0 P0 S0 |");  // pulse width 0: the servos go limp
    sendCommand(cport_nr, "#7 P0 S0 |");
}

void closeSerialPort() { CloseComport(cport_nr); }

void closeBoardHandle() { eProDas_CloseHandle(); }

void closeHardware() {
    closeBoardHandle();
    closeSerialPort();
}
