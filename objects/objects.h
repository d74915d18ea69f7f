#pragma once
// Object vision of the robot: SURF features and the search for a flat object in the
// camera picture, and the background model that cuts a new object out of the scene.

#include "objects/fgd.h"
#include "objects/surf.h"
#include "objects/surf_match.h"
