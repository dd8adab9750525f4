// Hardware voices: a buffer made with DSBCAPS_LOCHARDWARE holds one for its
// life; a deferred buffer takes one when it plays, and with
// DSBPLAY_TERMINATEBY_TIME may take the voice of the playing buffer that is
// nearest its end. Buffers with no placement flag play in software, so the
// voices stay for those that ask for them.
#include "platform/audio/device_state.h"

int Ds_VoicesInUse() {
    int n = 0;
    for (const DsBufferState& b : g_buffers)
        if (b.used && !b.dead && b.holdsVoice) n++;
    return n;
}

void Ds_DropVoice(DsBufferState* b) { b->holdsVoice = false; }

// Frames left to play over the rate, compared without division. A looping
// buffer has no end and is never chosen.
static bool EndsSooner(const DsBufferState* a, const DsBufferState* b) {
    uint64_t leftA = a->frames - a->frame;
    uint64_t leftB = b->frames - b->frame;
    uint64_t ta = leftA * b->format.nSamplesPerSec;
    uint64_t tb = leftB * a->format.nSamplesPerSec;
    if (ta != tb) return ta < tb;
    return a->serial < b->serial;
}

static DsBufferState* NearestEnd(const DsBufferState* except) {
    DsBufferState* best = nullptr;
    for (DsBufferState& b : g_buffers) {
        if (&b == except || !b.used || b.dead || !b.holdsVoice || !b.playing || b.looping) continue;
        if (!(b.flags & DSBCAPS_LOCDEFER)) continue;
        if (!best || EndsSooner(&b, best)) best = &b;
    }
    return best;
}

bool Ds_PlaceDeferred(DsBufferState* b, DWORD flags) {
    b->holdsVoice = false;
    if (flags & DSBPLAY_LOCSOFTWARE) return true;
    if (Ds_VoicesInUse() < g_hardwareVoices) {
        b->holdsVoice = true;
        return true;
    }
    if (flags & DSBPLAY_TERMINATEBY_TIME) {
        if (DsBufferState* victim = NearestEnd(b)) {
            Ds_StopBuffer(victim, true);
            b->holdsVoice = true;
            return true;
        }
    }
    // No voice to be had: software, unless the caller insisted on hardware.
    return !(flags & DSBPLAY_LOCHARDWARE);
}
