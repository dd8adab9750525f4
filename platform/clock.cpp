#include "platform/clock.h"

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/timer.h"

static std::atomic<bool> s_virtual{false};
static std::atomic<DWORD> s_virtualNow{0};
static std::atomic<Clock_RenderFn> s_render{nullptr};

static DWORD RealMilliseconds() {
    using namespace std::chrono;
    return (DWORD)duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

DWORD GetTickCount() {
    return s_virtual.load(std::memory_order_acquire) ? s_virtualNow.load(std::memory_order_acquire)
                                                     : RealMilliseconds();
}

DWORD timeGetTime() { return GetTickCount(); }

void Sleep(DWORD ms) {
    if (s_virtual.load(std::memory_order_acquire)) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void Clock_UseVirtual(DWORD startMs) {
    s_virtualNow.store(startMs, std::memory_order_release);
    s_virtual.store(true, std::memory_order_release);
}

void Clock_UseReal() { s_virtual.store(false, std::memory_order_release); }

bool Clock_IsVirtual() { return s_virtual.load(std::memory_order_acquire); }

void Clock_Advance(DWORD ms) {
    if (!Clock_IsVirtual()) return;
    for (DWORD i = 0; i < ms; i++) {
        DWORD now = s_virtualNow.load(std::memory_order_relaxed) + 1;
        s_virtualNow.store(now, std::memory_order_release);
        // The sound of the millisecond that passed is rendered before the
        // timers run, so a tick reads cursors that include it.
        if (Clock_RenderFn render = s_render.load(std::memory_order_acquire)) render(now);
        Timer_FireDue(now);
    }
}

void Clock_SetRenderer(Clock_RenderFn render) { s_render.store(render, std::memory_order_release); }
