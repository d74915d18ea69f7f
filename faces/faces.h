#pragma once
// The camera and faces subsystem: the two cameras, the picture helpers, the
// eigenface database and the enrolment mode.

#include "faces/camera.h"
#include "faces/eigenfaces.h"
#include "faces/imageutil.h"
#include "faces/ivedimas.h"
#include "faces/statistics.h"
