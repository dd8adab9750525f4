// Sound effects on the 24 effect channels, and the 3D listener.
#pragma once

#include <cstdint>

#include "engine/sound_channel.h"

// Starts an effect on the first free channel under the effect lock; the
// channel's number, or -1 when refused or all channels are busy.
int32_t Effect_PlayNow(const char* name, const float* x, const float* y, const float* z,
                       int32_t kind, int32_t loop, float scale);
// Sets the device channel's listener and remembers its position and front.
int32_t Effect_SetListener(float rolloff, const float position[3], const float front[3],
                           const float top[3]);
// Repositions one effect channel against the current listener.
int32_t Effect_Refresh3D(SoundChannel& channel);
// Frees the cache's data (IRelease) and forgets its references (IInit).
void EffectCache_Free();
void EffectCache_Forget();
