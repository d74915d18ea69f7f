#pragma once
// Object vision of the robot: SURF features and the search for a flat object in the
// camera picture, the background model that cuts a new object out of the scene, and
// the two modes built on them.

#include "objects/fgd.h"
#include "objects/object_modes.h"
#include "objects/surf.h"
#include "objects/surf_match.h"
