// The device's 3D model: what a 3D buffer's parameters and the listener make
// of a mono voice's level on each side and of its playback rate.
#pragma once

#include "platform/audio/dsound.h"

struct SpatialGains {
    float left;
    float right;
    double rateScale;  // Doppler: 1.0 when nothing moves along the line of sight
};

// muteAtMax: the buffer was made with DSBCAPS_MUTE3DATMAXDISTANCE.
SpatialGains Spatial_Compute(const DS3DBUFFER& buffer, const DS3DLISTENER& listener, bool muteAtMax);
