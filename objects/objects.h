#pragma once
// Object vision of the robot: SURF features and the search for a flat object in the
// camera picture, the background model that cuts a new object out of the scene, and
// the modes built on them: extraction, search, point tracking, the ball and the
// motion watch.

#include "objects/fgd.h"
#include "objects/judesys.h"
#include "objects/object_modes.h"
#include "objects/surf.h"
#include "objects/surf_match.h"
#include "objects/tracking_modes.h"
