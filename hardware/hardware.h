#pragma once
// The robot's hardware: serial port, servo controller, I/O board, chassis, the
// mechanics step and the hardware test panels.

#include "hardware/chassis.h"
#include "hardware/eprodas.h"
#include "hardware/mechanika.h"
#include "hardware/panels.h"
#include "hardware/rs232.h"
#include "hardware/servo.h"
#include "hardware/startup.h"
#include "hardware/steering.h"
