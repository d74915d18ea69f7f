#pragma once
// Steady background noise (a fan, the robot's own motors, a hissing
// microphone) taken out of an utterance by spectral subtraction. An utterance
// as the segmenter cuts it starts with a quarter of a second before the voice
// and ends with the pause that closed it, so its quietest frames hold the
// room alone: their mean spectrum is the noise, taken off every frame's.
// Words then sound more like the clean recordings the templates were made
// from, whatever the colour of the noise.

#include "tools/hear/audio.h"

namespace hear {

// The utterance less its steady noise; returned unchanged when the noise
// lies too far under the voice to matter.
Samples withoutSteadyNoise(const Samples& utterance);

}  // namespace hear
