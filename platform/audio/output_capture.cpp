// The capture of rendered frames that tests read. Guarded by the device
// mutex, which the mixer holds when it appends.
#include <vector>

#include "platform/audio/audio_output.h"
#include "platform/audio/device_state.h"

static bool s_capturing = false;
static std::vector<int16_t> s_captured;

void Capture_Append(const int16_t* frames, size_t count) {
    if (s_capturing) s_captured.insert(s_captured.end(), frames, frames + 2 * count);
}

void AudioOutput_StartCapture() {
    std::lock_guard<std::mutex> hold(g_dsMutex);
    s_captured.clear();
    s_capturing = true;
}

const int16_t* AudioOutput_Captured(size_t* frames) {
    std::lock_guard<std::mutex> hold(g_dsMutex);
    if (frames) *frames = s_captured.size() / 2;
    return s_captured.data();
}

void AudioOutput_StopCapture() {
    std::lock_guard<std::mutex> hold(g_dsMutex);
    s_capturing = false;
}
