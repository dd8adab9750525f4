// The system's sound device through SDL2. SDL's audio thread pulls the mix
// through its callback; SDL converts to whatever the device takes. Works with
// SDL's dummy and disk drivers when there is no sound card.
#include <SDL.h>

#include <cstdio>

#include "platform/audio/audio_output.h"
#include "platform/audio/backends/backend.h"

static SDL_AudioDeviceID s_device = 0;

static void SDLCALL Pull(void*, Uint8* stream, int len) {
    AudioMixer_Render(reinterpret_cast<int16_t*>(stream), (size_t)len / 4);
}

static bool SdlOpen(const char*, char* why, size_t whySize) {
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        std::snprintf(why, whySize, "%s", SDL_GetError());
        return false;
    }
    SDL_AudioSpec want{};
    want.freq = (int)kOutputRate;
    want.format = AUDIO_S16SYS;
    want.channels = 2;
    want.samples = 1024;
    want.callback = Pull;
    SDL_AudioSpec have{};
    s_device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (s_device == 0) {
        std::snprintf(why, whySize, "%s", SDL_GetError());
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return false;
    }
    SDL_PauseAudioDevice(s_device, 0);
    return true;
}

static void SdlWrite(const int16_t*, size_t) {}

static void SdlClose() {
    if (s_device) SDL_CloseAudioDevice(s_device);  // waits for a callback in progress
    s_device = 0;
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

const AudioBackend kSdlBackend = {"sdl", false, false, SdlOpen, SdlWrite, SdlClose};
