#include "platform/timer.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/clock.h"

namespace {

constexpr int kMaxTimers = 16;

struct Timer {
    bool live = false;
    bool isVirtual = false;
    UINT id = 0;
    UINT period = 0;
    UINT flags = 0;
    LPTIMECALLBACK callback = nullptr;
    DWORD_PTR user = 0;
    DWORD due = 0;  // virtual mode: the next tick count at which it fires
    bool stop = false;
    bool reaping = false;  // its thread is being joined; the slot is not free yet
    std::thread thread;  // real mode
    std::condition_variable wake;
};

std::mutex s_mutex;
Timer s_timers[kMaxTimers];
UINT s_nextId = 1;
int s_openPeriods = 0;
std::atomic<bool> s_stalled{false};

Timer* FindLocked(UINT id) {
    for (Timer& t : s_timers)
        if (t.live && t.id == id) return &t;
    return nullptr;
}

// The thread keeps to its own id: once the slot holds another timer, it ends.
void RunRealTimer(Timer* t, UINT myId) {
    using clock = std::chrono::steady_clock;
    std::unique_lock<std::mutex> hold(s_mutex);
    auto next = clock::now() + std::chrono::milliseconds(t->period);
    auto ended = [t, myId] { return t->stop || t->id != myId; };
    for (;;) {
        t->wake.wait_until(hold, next, ended);
        if (ended()) return;
        LPTIMECALLBACK callback = t->callback;
        UINT id = t->id;
        DWORD_PTR user = t->user;
        bool periodic = (t->flags & TIME_PERIODIC) != 0;
        hold.unlock();
        if (!s_stalled.load(std::memory_order_relaxed)) callback(id, 0, user, 0, 0);
        hold.lock();
        if (ended()) return;
        if (!periodic) {
            t->live = false;
            t->thread.detach();
            return;
        }
        next += std::chrono::milliseconds(t->period);
        // A late thread does not try to catch up with the ticks it missed.
        auto now = clock::now();
        if (next < now) next = now;
    }
}

}  // namespace

// Timers still running when the process ends are killed first, so that no
// callback runs on state that is being destroyed. Registered at run time, this
// runs before any static object is destroyed.
static void KillAllAtExit() {
    for (int i = 0; i < kMaxTimers; i++) {
        UINT id = 0;
        {
            std::lock_guard<std::mutex> hold(s_mutex);
            if (s_timers[i].live) id = s_timers[i].id;
        }
        if (id) timeKillEvent(id);
    }
}

MMRESULT timeSetEvent(UINT delayMs, UINT resolutionMs, LPTIMECALLBACK callback, DWORD_PTR user,
                      UINT flags) {
    (void)resolutionMs;
    if (!callback || delayMs == 0) return 0;
    static const bool killAtExit = std::atexit(KillAllAtExit) == 0;
    (void)killAtExit;
    std::lock_guard<std::mutex> hold(s_mutex);
    for (Timer& t : s_timers) {
        if (t.live || t.reaping) continue;
        t.live = true;
        t.id = s_nextId++;
        if (s_nextId == 0) s_nextId = 1;
        t.period = delayMs;
        t.flags = flags;
        t.callback = callback;
        t.user = user;
        t.stop = false;
        t.isVirtual = Clock_IsVirtual();
        if (t.isVirtual)
            t.due = GetTickCount() + delayMs;
        else
            t.thread = std::thread(RunRealTimer, &t, t.id);
        return t.id;
    }
    return 0;
}

MMRESULT timeKillEvent(UINT id) {
    std::thread toJoin;
    Timer* killed;
    {
        std::lock_guard<std::mutex> hold(s_mutex);
        Timer* t = FindLocked(id);
        if (!t) return MMSYSERR_INVALPARAM;
        killed = t;
        t->live = false;
        t->stop = true;
        t->wake.notify_all();
        if (t->thread.joinable() && t->thread.get_id() == std::this_thread::get_id()) {
            t->thread.detach();  // killed from its own callback: it ends on return
        } else if (t->thread.joinable()) {
            toJoin = std::move(t->thread);
            t->reaping = true;
        }
    }
    if (toJoin.joinable()) {
        toJoin.join();  // waits for a callback in progress
        std::lock_guard<std::mutex> hold(s_mutex);
        killed->reaping = false;
    }
    return TIMERR_NOERROR;
}

MMRESULT timeBeginPeriod(UINT periodMs) {
    if (periodMs == 0) return TIMERR_NOCANDO;
    std::lock_guard<std::mutex> hold(s_mutex);
    s_openPeriods++;
    return TIMERR_NOERROR;
}

MMRESULT timeEndPeriod(UINT periodMs) {
    if (periodMs == 0) return TIMERR_NOCANDO;
    std::lock_guard<std::mutex> hold(s_mutex);
    if (s_openPeriods == 0) return TIMERR_NOCANDO;
    s_openPeriods--;
    return TIMERR_NOERROR;
}

void Timer_FireDue(DWORD now) {
    for (int i = 0; i < kMaxTimers; i++) {
        LPTIMECALLBACK callback = nullptr;
        UINT id = 0;
        DWORD_PTR user = 0;
        {
            std::lock_guard<std::mutex> hold(s_mutex);
            Timer& t = s_timers[i];
            if (!t.live || !t.isVirtual || (int32_t)(now - t.due) < 0) continue;
            callback = t.callback;
            id = t.id;
            user = t.user;
            if (t.flags & TIME_PERIODIC)
                t.due += t.period;
            else
                t.live = false;
        }
        if (!s_stalled.load(std::memory_order_relaxed)) callback(id, 0, user, 0, 0);
    }
}

int Timer_OpenPeriods() {
    std::lock_guard<std::mutex> hold(s_mutex);
    return s_openPeriods;
}

int Timer_LiveCount() {
    std::lock_guard<std::mutex> hold(s_mutex);
    int n = 0;
    for (const Timer& t : s_timers) n += t.live ? 1 : 0;
    return n;
}

void Timer_SetStalled(bool stalled) { s_stalled.store(stalled, std::memory_order_relaxed); }
