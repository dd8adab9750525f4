// Music on the two BGM slots. Every operation runs under the BGM lock,
// taken by the caller.
#pragma once

#include <cstdint>

#include "engine/sound_channel.h"

int32_t Bgm_PlayNow(SoundChannel& slot, const char* name, int32_t loop, int32_t startFrame,
                    int32_t loopStartFrame, int32_t endFrame);
int32_t Bgm_PlayFadeIn(SoundChannel& slot, const char* name, int32_t loop, int32_t startFrame,
                       int32_t loopStartFrame, int32_t endFrame);
int32_t Bgm_PlayTimedFadeIn(SoundChannel& slot, const char* name, int32_t loop, int32_t startFrame,
                            int32_t loopStartFrame, int32_t endFrame, int32_t fadeMs);
// The per-tick work of a slot: fade step, then streaming refill.
int32_t Bgm_Update(SoundChannel& slot);
void Bgm_SetLoopPosition(SoundChannel& slot, int32_t loopStartFrame, int32_t endFrame);
int32_t Bgm_Position(SoundChannel& slot);
