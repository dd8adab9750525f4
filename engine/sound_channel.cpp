#include "engine/sound_channel.h"

#include <cstdio>
#include <cstring>

#include "platform/clock.h"
#include "platform/debug_output.h"
#include "sources/wav_header.h"

static int32_t ClampLevel(int32_t level) {
    if (level < kLevelFull) return kLevelFull;
    if (level > kLevelSilent) return kLevelSilent;
    return level;
}

LONG LevelToVolume(int32_t level) {
    float x = (float)ClampLevel(level) / 10000.0f;
    float y = x * x * x * 10000.0f;
    return (LONG)-y;
}

int32_t SoundChannel::Bind(HWND window, IDirectSound8* sharedDevice, IDirectSoundBuffer* sharedPrimary) {
    Release();

    if (sharedDevice) {
        device = sharedDevice;
        deviceBorrowed = 1;
    } else {
        if (FAILED(DirectSoundCreate8(nullptr, &device, nullptr))) {
            device = nullptr;
            return 0;
        }
        if (FAILED(device->SetCooperativeLevel(window, DSSCL_EXCLUSIVE))) {
            device->Release();
            device = nullptr;
            return 0;
        }
    }

    if (sharedPrimary) {
        primary = sharedPrimary;
        primaryBorrowed = 1;
        return 1;
    }

    DSBUFFERDESC desc = {};
    desc.dwSize = sizeof desc;
    desc.dwFlags = DSBCAPS_PRIMARYBUFFER | DSBCAPS_CTRL3D;
    if (FAILED(device->CreateSoundBuffer(&desc, &primary, nullptr))) {
        primary = nullptr;
        if (!deviceBorrowed) device->Release();
        device = nullptr;
        deviceBorrowed = 0;
        return 0;
    }

    WAVEFORMATEX pcm = {WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
    primary->SetFormat(&pcm);
    WAVEFORMATEX readBack;
    primary->GetFormat(&readBack, sizeof readBack, nullptr);

    void* found = nullptr;
    if (SUCCEEDED(primary->QueryInterface(IID_IDirectSound3DListener, &found)) && found) {
        listener = (IDirectSound3DListener8*)found;
        DS3DLISTENER params = {};
        params.dwSize = sizeof params;
        listener->GetAllParameters(&params);
        params.vPosition = {0.0f, 0.0f, 0.0f};
        params.vVelocity = {0.0f, 0.0f, 0.0f};
        params.vOrientFront = {0.0f, -1.0f, 0.0f};
        params.vOrientTop = {0.0f, 0.0f, 1.0f};
        params.flRolloffFactor = 0.2f;
        params.flDopplerFactor = 1.0f;
        listener->SetAllParameters(&params, DS3D_IMMEDIATE);
    }

    primary->Restore();
    primary->Play(0, 0, DSBPLAY_LOOPING);
    return 1;
}

void SoundChannel::SetCooperativeLevel(HWND window) {
    if (device) device->SetCooperativeLevel(window, DSSCL_EXCLUSIVE);
}

int32_t SoundChannel::Busy() {
    if (!buffer) return 0;
    DWORD status = 0;
    buffer->GetStatus(&status);
    if (status & DSBSTATUS_BUFFERLOST) buffer->Restore();
    if (streaming) return 1;
    if (!started) return 0;
    if (status & DSBSTATUS_TERMINATED) return 0;
    return (status & (DSBSTATUS_PLAYING | DSBSTATUS_LOOPING)) ? 1 : 0;
}

int32_t SoundChannel::Stop() {
    if (!Bound() || !Busy()) return 0;
    buffer->Stop();
    if (streaming) Close();
    streaming = 0;
    started = 0;
    return 1;
}

void SoundChannel::Release() {
    if (listener) {
        listener->Release();
        listener = nullptr;
    }
    Stop();
    if (codecsReady) ReleaseCodecs();
    if (primaryBorrowed) {
        primary = nullptr;
        primaryBorrowed = 0;
    }
    if (buffer) {
        buffer->Release();
        buffer = nullptr;
    }
    if (buffer3d) {
        buffer3d->Release();
        buffer3d = nullptr;
    }
    if (primary) {
        primary->Stop();
        primary->Release();
        primary = nullptr;
    }
    if (deviceBorrowed) {
        device = nullptr;
        deviceBorrowed = 0;
    }
    if (device) {
        char text[16];
        std::snprintf(text, sizeof text, "%d", (int)device->Release());
        OutputDebugStringA(text);
        device = nullptr;
    }
}

int32_t SoundChannel::ApplyLevel(int32_t newLevel, int32_t force) {
    if (!Bound()) return 0;
    if (!force && !Busy()) return 0;
    buffer->SetVolume(LevelToVolume(newLevel));
    return 1;
}

int32_t SoundChannel::SetLevel(int32_t newLevel) {
    level = newLevel;
    if (Busy()) ApplyLevel(newLevel, 0);
    return 1;
}

int32_t SoundChannel::StartFade(int32_t target, int32_t ms) {
    stopAtFadeEnd = 0;
    fadeTarget = target;
    fadeRemaining = ms;
    fadeLastTick = GetTickCount();
    if (ms == 0) {
        level = target;
        if (Busy()) ApplyLevel(target, 0);
    }
    return 1;
}

void SoundChannel::CancelFade() {
    fadeTarget = level;
    stopAtFadeEnd = 0;
    fadeRemaining = 0;
}

int32_t SoundChannel::FadeOut() {
    fadeTarget = kLevelSilent;
    fadeRemaining = 1000;
    fadeLastTick = GetTickCount();
    stopAtFadeEnd = 1;
    return 1;
}

int32_t SoundChannel::FadeOutIn(int32_t ms) {
    if (ms < 1) ms = 1;
    if (ms > 60000) ms = 60000;
    StartFade(kLevelSilent, ms);
    stopAtFadeEnd = 1;
    return 1;
}

FadeStepResult SoundChannel::FadeStep() {
    if (fadeRemaining == 0) return kFadeGoOn;
    uint32_t now = GetTickCount();
    int32_t elapsed = (int32_t)(now - fadeLastTick);
    int32_t left = fadeRemaining - elapsed;
    fadeLastTick = now;
    if (left <= 0) {
        fadeRemaining = 0;
        if (stopAtFadeEnd) {
            Stop();
            return kFadeStopped;
        }
        SetLevel(fadeTarget);
        return kFadeGoOn;
    }
    // 64-bit product: a 10000-level swing times a long elapsed time would
    // overflow 32 bits; the quotient is the same as the 32-bit one wherever
    // that one does not overflow.
    int32_t step = (int32_t)((int64_t)(fadeTarget - level) * elapsed / fadeRemaining);
    int32_t newLevel = level + step;
    fadeRemaining = left;
    SetLevel(newLevel);
    return kFadeGoOn;
}

void SoundChannel::FormatFromHeader() {
    WavHeader header;
    std::memcpy(&header, soundHeader, sizeof header);
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = header.channels > 1 ? 2 : 1;
    format.nSamplesPerSec = header.samplesPerSec;
    format.nBlockAlign = header.blockAlign;
    format.wBitsPerSample = header.bitsPerSample;
    format.nAvgBytesPerSec = header.blockAlign * header.samplesPerSec;
    format.cbSize = 0;
}

int32_t SoundChannel::CreateBuffer(const DSBUFFERDESC& desc) {
    IDirectSoundBuffer* first = nullptr;
    void* b8 = nullptr;
    if (SUCCEEDED(device->CreateSoundBuffer(&desc, &first, nullptr)) && first) {
        first->QueryInterface(IID_IDirectSoundBuffer8, &b8);
        first->Release();
    }
    buffer = (IDirectSoundBuffer8*)b8;
    return b8 ? 1 : 0;
}
