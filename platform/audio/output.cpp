// Where the mix goes: backend selection (TONE_AUDIO or the preference list),
// the real-mode sink thread of pushed backends, and the virtual-mode renderer
// that Clock_Advance calls once per millisecond.
//
// In virtual mode nothing may run by itself, so a backend that pulls from its
// own thread (sdl) is not used: its place is taken by null, quietly.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "platform/audio/audio_output.h"
#include "platform/audio/backends/backend.h"
#include "platform/audio/device_state.h"
#include "platform/clock.h"

namespace {

// In preference order; backends that need an argument are only chosen by name.
const AudioBackend* const kBackends[] = {&kSdlBackend, &kNullBackend, &kWavBackend};

constexpr size_t kChunk = 1024;

std::mutex s_mutex;  // open, close, and the virtual-mode renderer
const AudioBackend* s_active = nullptr;
bool s_virtual = false;
bool s_requested = false;    // an Open was asked for since the last Close
std::string s_spec;          // what it asked for; empty for TONE_AUDIO
bool s_specGiven = false;
bool s_warned = false;

// Virtual mode: milliseconds and frames rendered since the output opened.
DWORD s_lastMs = 0;
uint64_t s_msTotal = 0;
uint64_t s_framesDone = 0;
int16_t s_pushBuffer[kChunk * 2];

// Real mode, pushed backends.
std::thread s_sink;
std::mutex s_sinkMutex;
std::condition_variable s_sinkWake;
bool s_sinkStop = false;
int16_t s_sinkBuffer[kChunk * 2];

// Renders what wall-clock time has covered since the start, every few ms.
void SinkMain(const AudioBackend* backend) {
    using clock = std::chrono::steady_clock;
    const auto start = clock::now();
    uint64_t done = 0;
    std::unique_lock<std::mutex> hold(s_sinkMutex);
    while (!s_sinkStop) {
        s_sinkWake.wait_for(hold, std::chrono::milliseconds(5), [] { return s_sinkStop; });
        if (s_sinkStop) break;
        hold.unlock();
        auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(clock::now() - start).count();
        uint64_t due = (uint64_t)ns / 1000 * kOutputRate / 1000000;
        while (done < due) {
            size_t n = due - done < kChunk ? (size_t)(due - done) : kChunk;
            AudioMixer_Render(s_sinkBuffer, n);
            backend->write(s_sinkBuffer, n);
            done += n;
        }
        hold.lock();
    }
}

void CloseLocked() {
    if (!s_active) return;
    if (s_sink.joinable()) {
        {
            std::lock_guard<std::mutex> hold(s_sinkMutex);
            s_sinkStop = true;
        }
        s_sinkWake.notify_all();
        s_sink.join();
    }
    s_active->close();
    s_active = nullptr;
    Clock_SetRenderer(nullptr);
}

const AudioBackend* Find(const std::string& name) {
    for (const AudioBackend* b : kBackends)
        if (name == b->name) return b;
    return nullptr;
}

void WarnFallback(const char* name, const char* why) {
    if (s_warned) return;
    s_warned = true;
    std::fprintf(stderr, "tonecore: audio output '%s' unavailable (%s); using 'null'\n", name, why);
}

// Tries the backends in preference order.
const AudioBackend* OpenAutomatic(bool isVirtual) {
    for (const AudioBackend* b : kBackends) {
        if (b->needsArgument || (isVirtual && !b->pushed)) continue;
        char why[256] = "";
        if (b->open("", why, sizeof why)) return b;
        WarnFallback(b->name, why);
    }
    return nullptr;
}

void CloseAtExit() { AudioOutput_Close(); }

bool OpenLocked(const char* spec) {
    // A process that ends with the output open stops its sink thread first;
    // registered at run time, this runs before any static object is destroyed.
    static const bool closeAtExit = std::atexit(CloseAtExit) == 0;
    (void)closeAtExit;
    CloseLocked();
    s_requested = true;
    s_specGiven = spec != nullptr;
    s_spec = spec ? spec : "";
    const char* text = spec ? spec : std::getenv("TONE_AUDIO");
    bool isVirtual = Clock_IsVirtual();

    const AudioBackend* chosen = nullptr;
    if (!text || !*text) {
        chosen = OpenAutomatic(isVirtual);
    } else {
        std::string all = text;
        size_t colon = all.find(':');
        std::string name = all.substr(0, colon);
        std::string argument = colon == std::string::npos ? "" : all.substr(colon + 1);
        const AudioBackend* b = Find(name);
        if (!b) {
            std::fprintf(stderr, "tonecore: unknown audio output '%s' (sdl, null or wav:PATH)\n", text);
            return false;
        }
        if (b->needsArgument && argument.empty()) {
            std::fprintf(stderr, "tonecore: audio output '%s' needs a path (%s:PATH)\n", b->name, b->name);
            return false;
        }
        if (isVirtual && !b->pushed) {
            chosen = OpenAutomatic(true);
        } else {
            char why[256] = "";
            if (b->open(argument.c_str(), why, sizeof why)) {
                chosen = b;
            } else if (b->needsArgument) {
                std::fprintf(stderr, "tonecore: audio output '%s': %s\n", text, why);
                return false;
            } else {
                WarnFallback(b->name, why);
                chosen = OpenAutomatic(true);  // the pushed ones: null
            }
        }
    }
    if (!chosen) return false;

    s_active = chosen;
    s_virtual = isVirtual;
    s_lastMs = GetTickCount();
    s_msTotal = 0;
    s_framesDone = 0;
    if (!isVirtual && chosen->pushed) {
        s_sinkStop = false;
        s_sink = std::thread(SinkMain, chosen);
    }
    Clock_SetRenderer(AudioMixer_RenderUntil);
    return true;
}

}  // namespace

bool AudioOutput_Open(const char* spec) {
    std::lock_guard<std::mutex> hold(s_mutex);
    return OpenLocked(spec);
}

void AudioOutput_Close() {
    std::lock_guard<std::mutex> hold(s_mutex);
    CloseLocked();
    s_requested = false;
}

const char* AudioOutput_Name() {
    std::lock_guard<std::mutex> hold(s_mutex);
    return s_active ? s_active->name : "";
}

bool AudioOutput_EnsureOpen() {
    std::lock_guard<std::mutex> hold(s_mutex);
    if (s_active && s_virtual == Clock_IsVirtual()) return true;
    // Reopen what was last asked for, now for the clock's current mode.
    if (s_requested && s_specGiven) return OpenLocked(s_spec.c_str());
    return OpenLocked(nullptr);
}

void AudioMixer_RenderUntil(DWORD nowMs) {
    std::lock_guard<std::mutex> hold(s_mutex);
    if (!s_active || !s_virtual) return;
    DWORD ms = nowMs - s_lastMs;
    s_lastMs = nowMs;
    if (ms == 0) return;
    // The clock steps one millisecond at a time; a larger jump means it was
    // set anew (Clock_UseVirtual) while the output stayed open.
    if (ms > 1000) ms = 1;
    s_msTotal += ms;
    // 44.1 frames per millisecond, carried exactly.
    uint64_t target = s_msTotal * kOutputRate / 1000;
    while (s_framesDone < target) {
        size_t n = target - s_framesDone < kChunk ? (size_t)(target - s_framesDone) : kChunk;
        AudioMixer_Render(s_pushBuffer, n);
        s_active->write(s_pushBuffer, n);
        s_framesDone += n;
    }
}
