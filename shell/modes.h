#pragma once
// The robot's modes as the menus and the robot-mode loop reach them. main fills
// this table with the real modes; an entry without a mode only redraws its menu.
// Tests plug in their own functions to watch the dispatch.

#include <functional>

struct RobotModes {
    // Camera and voice modes.
    std::function<void()> ivedimasiscam;           // enrol a new person
    std::function<void()> VeidoAtpazinimas;        // face recognition (menu)
    std::function<void()> PazistamiVeidai;         // known faces (voice)
    std::function<void()> VeidoProfilis;           // face profile following
    std::function<void()> objsekimas;              // round object following
    std::function<void(int, int)> judesys;         // motion detection
    std::function<void(int)> judesys1;             // motion history display
    std::function<void()> daikto_isskyrimas;       // object extraction
    std::function<void()> PazistamiDaiktai;        // object search
    std::function<void(int)> trekingas;            // point tracking
    std::function<void()> Klaidziojimas;           // wandering
    std::function<void()> stereoBM;
    std::function<void()> stereoGC;
    std::function<void()> kamkalibr;               // stereo alignment view
    std::function<void()> ssc32inDemo;             // servo controller panel
    std::function<void()> eproaktyv;               // I/O board panel
    std::function<void()> KalboaAtpazinimas_demo;  // speech recognition demo
    std::function<void()> Pradzia;                 // opening voice dialogue
    std::function<int()> DialogasRobRezimas;       // asks by voice what to do

    // Start-up and shutdown device steps.
    std::function<int()> connectRecogniser;        // returns the value for prisijungimas
    std::function<void()> pauseRecogniser;
    std::function<void()> disconnectRecogniser;    // tells the recogniser to end
    std::function<void()> dropRecogniserConnection;  // closes our end only
    std::function<void()> startSerialAndServos;    // rows 42..44
    std::function<void()> startBoard;              // rows 46..48
    std::function<void()> parkHead;                // centre, then servos off
    std::function<void()> closeSerialPort;
    std::function<void()> closeBoard;
    std::function<void()> releaseCameras;
};

RobotModes& robotModes();
