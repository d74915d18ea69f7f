#pragma once
// The camera and faces subsystem: the two cameras, the picture helpers, the
// eigenface database, the enrolment mode and the live face modes.

#include "faces/camera.h"
#include "faces/eigenfaces.h"
#include "faces/imageutil.h"
#include "faces/ivedimas.h"
#include "faces/profilis.h"
#include "faces/statistics.h"
#include "faces/veido_atpazinimas.h"
