#include "platform/debug_output.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

static std::mutex s_mutex;
static bool s_capturing = false;
static std::string s_captured;

void OutputDebugStringA(const char* text) {
    if (!text) return;
    static const bool toStderr = std::getenv("TONE_DEBUG") != nullptr;
    if (toStderr) {
        std::fputs(text, stderr);
        std::fflush(stderr);
    }
    std::lock_guard<std::mutex> hold(s_mutex);
    if (s_capturing) s_captured += text;
}

void DebugOutput_StartCapture() {
    std::lock_guard<std::mutex> hold(s_mutex);
    s_capturing = true;
    s_captured.clear();
}

std::string DebugOutput_StopCapture() {
    std::lock_guard<std::mutex> hold(s_mutex);
    s_capturing = false;
    std::string out;
    out.swap(s_captured);
    return out;
}
