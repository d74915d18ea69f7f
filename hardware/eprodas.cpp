#include "hardware/eprodas.h"

#include "platform/board.h"

int lptportas = 888;
int StatuseProDas = 0;
int Pin = 0, InitialState = 0;

int eProDas_OpenHandle() { return platform::board()->openHandle(); }

int eProDas_Initialize(int device) { return platform::board()->initialize(device); }

int eProDas_ConfigurePinAsOutput(int device, int port, int pin, int level) {
    return platform::board()->configurePinAsOutput(device, port, pin, level);
}

int eProDas_ConfigurePinAsInput(int device, int port, int pin) {
    return platform::board()->configurePinAsInput(device, port, pin);
}

int eProDas_ReadPort(int device, int port, unsigned char* value) {
    return platform::board()->readPort(device, port, value);
}

int eProDas_CloseHandle() { return platform::board()->closeHandle(); }
