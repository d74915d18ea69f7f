#pragma once
// The faces subsystem: the eigenface database, the enrolment mode and the live
// face modes. The cameras and picture helpers they share with the other vision
// modes live below them, in faces/camera.

#include "faces/eigenfaces.h"
#include "faces/ivedimas.h"
#include "faces/profilis.h"
#include "faces/veido_atpazinimas.h"
