// Discards the mix. In real mode the output's sink thread still renders at
// wall-clock pace, so cursors move as they would on a sound card.
#include "platform/audio/backends/backend.h"

static bool NullOpen(const char*, char*, size_t) { return true; }
static void NullWrite(const int16_t*, size_t) {}
static void NullClose() {}

const AudioBackend kNullBackend = {"null", true, false, NullOpen, NullWrite, NullClose};
