#pragma once
// The chassis I/O board: the six operations of its library, on board 0.
// Ports A..E, pins 0..7. Every result is a status, 0 = success. Without a
// board (the default) every call fails.

constexpr int kPortA = 0, kPortB = 1, kPortC = 2, kPortD = 3, kPortE = 4;

extern int lptportas;      // parallel port I/O address (0x378)
extern int StatuseProDas;  // result of the last board open or initialise call
extern int Pin, InitialState;

int eProDas_OpenHandle();
int eProDas_Initialize(int device);
// The pin becomes an output and drives level at once.
int eProDas_ConfigurePinAsOutput(int device, int port, int pin, int level);
int eProDas_ConfigurePinAsInput(int device, int port, int pin);
// *value receives the port's levels, bit n = pin n.
int eProDas_ReadPort(int device, int port, unsigned char* value);
int eProDas_CloseHandle();
