// One playback unit: a secondary buffer with its level, fade and 3D state,
// and the source that feeds it. The engine has 27 for its whole life: the
// device channel (device, primary buffer, listener), two BGM slots and 24
// effect channels.
#pragma once

#include <cstdint>

#include "platform/audio/dsound.h"
#include "platform/win_types.h"
#include "sources/sound_source.h"

constexpr int32_t kLevelFull = 0;
constexpr int32_t kLevelSilent = 10000;

// Level (0 full .. 10000 silent) to buffer volume in hundredths of a decibel:
// the attenuation follows the cube of the level, computed in single precision.
LONG LevelToVolume(int32_t level);

enum FadeStepResult { kFadeGoOn, kFadeStopped };

struct SoundChannel : SoundSource {
    float position[3];
    float velocity[3];
    float scale;
    int32_t soft3d;
    int32_t streaming;
    int32_t started;
    int32_t loop;
    int32_t loopEnd;
    int32_t loopStart;
    int32_t endOffset;
    int32_t level;
    int32_t stopAtFadeEnd;
    int32_t fadeTarget;
    uint32_t fadeLastTick;
    int32_t fadeRemaining;
    int32_t segmentDone[3];
    WAVEFORMATEX format;
    uint8_t soundHeader[kWavHeaderBytes];
    uint32_t lastPlayCursor;
    // A non-looping stream whose data has all been written plays on until the
    // cursor has passed its last byte: the bytes still to play, and a flag.
    int32_t draining;
    int32_t drainLeft;
    uint32_t drainPadding;  // silence written after the end, counted as read for positions
    IDirectSound8* device;
    int32_t deviceBorrowed;
    IDirectSoundBuffer* primary;
    int32_t primaryBorrowed;
    IDirectSoundBuffer8* buffer;
    IDirectSound3DBuffer8* buffer3d;
    IDirectSound3DListener8* listener;

    int32_t Bind(HWND window, IDirectSound8* sharedDevice, IDirectSoundBuffer* sharedPrimary);
    void SetCooperativeLevel(HWND window);
    int32_t Busy();
    int32_t Stop();
    void Release();
    int32_t ApplyLevel(int32_t level, int32_t force);
    int32_t SetLevel(int32_t level);
    int32_t StartFade(int32_t target, int32_t ms);
    void CancelFade();
    int32_t FadeOut();
    int32_t FadeOutIn(int32_t ms);
    FadeStepResult FadeStep();
    // Sets format from soundHeader: PCM, mono or stereo, the header's rate,
    // block align and bits.
    void FormatFromHeader();
    // Creates a secondary buffer and keeps its buffer-8 interface in buffer;
    // 0 when either step fails (buffer stays null).
    int32_t CreateBuffer(const DSBUFFERDESC& desc);
    bool Bound() const { return device && primary && buffer; }
};
