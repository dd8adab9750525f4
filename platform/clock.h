// Time as the system sees it: tick counts in milliseconds and Sleep.
//
// Real mode reads the monotonic clock. Virtual mode moves only when a caller
// advances it: Clock_Advance steps one millisecond at a time, and after each
// step renders the audio output for that millisecond and then fires the
// timers that have come due, all on the caller's thread. Sleep returns at
// once in virtual mode (time does not pass by itself).
#pragma once

#include "platform/win_types.h"

DWORD GetTickCount();
DWORD timeGetTime();
void Sleep(DWORD ms);

// Switches to virtual time starting at startMs (any value, so tests can start
// just before the 32-bit wrap). Call before any timer or device exists.
void Clock_UseVirtual(DWORD startMs);
// Back to the monotonic clock.
void Clock_UseReal();
bool Clock_IsVirtual();
// Virtual mode only: moves time forward ms milliseconds. Ignored in real mode.
void Clock_Advance(DWORD ms);

// The audio output registers here the function that renders sound up to a
// given tick count; Clock_Advance calls it for every millisecond.
typedef void (*Clock_RenderFn)(DWORD now);
void Clock_SetRenderer(Clock_RenderFn render);
