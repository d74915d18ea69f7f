// The robot program: wires the subsystems' modes and device steps into the
// start-up, the robot-mode loop and the menus, then starts.

#include <cstdlib>

#include "faces/camera/camera.h"
#include "faces/faces.h"
#include "hardware/hardware.h"
#include "objects/objects.h"
#include "platform/clock.h"
#include "platform/socket.h"
#include "faces/camera/imageutil.h"
#include "shell/menu.h"
#include "shell/modes.h"
#include "shell/console/program_end.h"
#include "shell/startup.h"
#include "speech/speech.h"
#include "stereo/stereo_modes.h"

namespace {

void wireDevices(RobotModes& modes) {
    modes.connectRecogniser = [] { return do_connect("localhost", kRecogniserPort); };
    modes.pauseRecogniser = [] { komanda_pause_recog(prisijungimas); };
    modes.disconnectRecogniser = [] { do_disconnect(prisijungimas); };
    modes.dropRecogniserConnection = [] { platform::closeSocket(prisijungimas); };
    modes.startSerialAndServos = sysinitasSerial;
    modes.startBoard = sysinitasBoard;
    modes.parkHead = shutdownHead;
    modes.closeSerialPort = closeSerialPort;
    modes.closeBoard = closeBoardHandle;
    modes.releaseCameras = releaseCameras;
}

void wireModes(RobotModes& modes) {
    modes.Pradzia = [] { Pradzia(); };
    modes.DialogasRobRezimas = DialogasRobRezimas;
    modes.KalboaAtpazinimas_demo = KalboaAtpazinimas_demo;
    modes.ivedimasiscam = ivedimasiscam;
    modes.VeidoAtpazinimas = VeidoAtpazinimas;
    modes.PazistamiVeidai = PazistamiVeidai;
    modes.VeidoProfilis = VeidoProfilis;
    modes.judesys = [](int maxCount, int timeLimit) { judesys(maxCount, timeLimit); };
    modes.judesys1 = [](int unused) { judesys1(unused); };
    modes.ssc32inDemo = ssc32inDemo;
    modes.eproaktyv = eproaktyv;
    setPanelCameras({getCameraFrame, [] { return getCameraFrame1(kamera2); },
                     [](int width, int height) {
                         plotis = width;
                         aukstis = height;
                     }});
    modes.stereoBM = stereoBM;
    modes.stereoGC = stereoGC;
    modes.kamkalibr = kamkalibr;
    modes.Klaidziojimas = Klaidziojimas;
    modes.objsekimas = objsekimas;
    modes.trekingas = [](int argc) { trekingas(argc, nullptr); };
    modes.daikto_isskyrimas = [] { daikto_isskyrimas(); };
    modes.PazistamiDaiktai = [] { PazistamiDaiktai(); };
}

FaceStatistics currentFaceStatistics() {
    FaceStatistics stats;
    stats.noofegineface = noofegineface;
    stats.nooftraingimage = nooftraingimage;
    stats.confi = confi;
    stats.accuracy = accuracy;
    stats.detectiontime = detectiontime;
    stats.detectfacetime = detectfacetime;
    return stats;
}

}  // namespace

int main() {
    // Scripted runs of the whole program (the end-to-end tests) let the robot's
    // waits pass at once.
    if (const char* virtualTime = std::getenv("ROBOTAS_VIRTUAL_TIME"); virtualTime && *virtualTime == '1')
        platform::useVirtualTime(true);
    RobotModes& modes = robotModes();
    wireDevices(modes);
    wireModes(modes);
    readFaceStatistics = currentFaceStatistics;
    try {
        return robotasMain();
    } catch (const ProgramEnd& end) {
        return end.status;
    }
}
