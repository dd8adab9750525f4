// The periodic multimedia timer and the timer-resolution calls.
//
// In real mode each timer runs on a thread of its own and calls back on a
// fixed schedule. In virtual mode timers are fired by Clock_Advance on the
// caller's thread, each time it reaches a due time.
#pragma once

#include "platform/mm_results.h"
#include "platform/win_types.h"

typedef void (*LPTIMECALLBACK)(UINT id, UINT msg, DWORD_PTR user, DWORD_PTR dw1, DWORD_PTR dw2);

constexpr UINT TIME_ONESHOT = 0x0000;
constexpr UINT TIME_PERIODIC = 0x0001;
constexpr MMRESULT TIMERR_NOERROR = 0;
constexpr MMRESULT TIMERR_NOCANDO = 97;

// Returns the timer id, or 0 when the timer cannot be made.
MMRESULT timeSetEvent(UINT delayMs, UINT resolutionMs, LPTIMECALLBACK callback, DWORD_PTR user,
                      UINT flags);
// Stops the timer. When it returns, no callback of that timer is running and
// none will run (unless called from the callback itself, which cannot wait).
MMRESULT timeKillEvent(UINT id);
MMRESULT timeBeginPeriod(UINT periodMs);
MMRESULT timeEndPeriod(UINT periodMs);

// Called by the clock in virtual mode: fires every timer due at or before now.
void Timer_FireDue(DWORD now);
// For tests: the resolution requests that are still open, and the live timers.
int Timer_OpenPeriods();
int Timer_LiveCount();
// For tests: holds every timer's callbacks back (they are skipped, not queued)
// while set, as when the system's timer thread is starved.
void Timer_SetStalled(bool stalled);
