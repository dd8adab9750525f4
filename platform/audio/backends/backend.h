// One output backend: a small constant table of operations. The output module
// picks one (TONE_AUDIO or the preference list) and drives it.
#pragma once

#include <cstddef>
#include <cstdint>

struct AudioBackend {
    const char* name;
    // True when the backend is handed frames (by the clock in virtual mode,
    // by the output's sink thread in real mode); false when it pulls them
    // from its own thread through AudioMixer_Render.
    bool pushed;
    // True when the backend needs an argument (the text after "name:").
    bool needsArgument;
    // why receives a one-line reason on failure.
    bool (*open)(const char* argument, char* why, size_t whySize);
    void (*write)(const int16_t* frames, size_t count);  // pushed backends
    void (*close)();
};

extern const AudioBackend kNullBackend;
extern const AudioBackend kWavBackend;
extern const AudioBackend kSdlBackend;
