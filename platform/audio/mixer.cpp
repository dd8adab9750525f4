// The mixer: every playing secondary buffer is read at its own rate (linear
// interpolation; a straight copy at 44100 Hz), scaled by its volume, pan and
// 3D gains, summed in float and saturated to 16 bits once. Each voice's gains
// and step are worked out once per call; nothing is allocated or locked per
// frame. Play positions are 32.32 fixed point, so cursors move by exactly the
// frames consumed and equal rates stay bit-exact.
#include <cmath>
#include <cstring>

#include "platform/audio/audio_output.h"
#include "platform/audio/device_state.h"
#include "platform/audio/spatial.h"

namespace {

constexpr size_t kBlock = 256;
constexpr uint64_t kOne = (uint64_t)1 << 32;
constexpr float kFraction = 1.0f / 4294967296.0f;

float VolumeGain(LONG mb) { return mb <= DSBVOLUME_MIN ? 0.0f : std::pow(10.0f, (float)mb / 2000.0f); }

// Samples in 16-bit units: 8-bit data is unsigned around 128.
template <int Bits>
inline float Sample(const void* data, size_t index) {
    if constexpr (Bits == 16)
        return (float)static_cast<const int16_t*>(data)[index];
    else
        return (float)((int)static_cast<const uint8_t*>(data)[index] - 128) * 256.0f;
}

// Adds frame `i` (with frame `j` interpolated by f) of a voice to one output frame.
template <int Bits, int Channels>
inline void AddFrame(float* out, const void* d, size_t i, size_t j, float f, float gl, float gr) {
    if constexpr (Channels == 1) {
        float a = Sample<Bits>(d, i);
        float v = a + (Sample<Bits>(d, j) - a) * f;
        out[0] += v * gl;
        out[1] += v * gr;
    } else {
        float a = Sample<Bits>(d, 2 * i), b = Sample<Bits>(d, 2 * i + 1);
        out[0] += (a + (Sample<Bits>(d, 2 * j) - a) * f) * gl;
        out[1] += (b + (Sample<Bits>(d, 2 * j + 1) - b) * f) * gr;
    }
}

struct Voice {
    DsBufferState* b;
    float gl, gr;
    uint64_t step;
    void (*mix)(Voice& v, float* out, size_t count);
};

void EndVoice(DsBufferState* b) {
    // A one-shot buffer stops at its end; its cursor has wrapped to 0.
    b->playing = false;
    b->pos = 0;
    if (b->flags & DSBCAPS_LOCDEFER) Ds_DropVoice(b);
}

// Moves the position past `end` back into the buffer or ends the voice.
// Returns false when the voice ended.
bool Wrap(DsBufferState* b, uint64_t* pos, uint64_t end) {
    if (*pos < end) return true;
    if (!b->looping) {
        EndVoice(b);
        return false;
    }
    *pos %= end;
    return true;
}

template <int Bits, int Channels>
void MixVoice(Voice& v, float* out, size_t count) {
    DsBufferState* b = v.b;
    const void* d = b->data;
    const uint32_t n = b->frames;
    const uint64_t end = (uint64_t)n << 32;
    const uint64_t step = v.step;
    const float gl = v.gl, gr = v.gr;
    uint64_t pos = b->pos;
    size_t k = 0;
    while (k < count) {
        size_t i = (size_t)(pos >> 32);
        size_t m;
        if (step == kOne && (uint32_t)pos == 0) {
            // Same rate, on a frame: a straight run to the end of the buffer.
            m = n - i;
            if (m > count - k) m = count - k;
            float* o = out + 2 * k;
            for (size_t j = 0; j < m; j++, o += 2) AddFrame<Bits, Channels>(o, d, i + j, i + j, 0.0f, gl, gr);
            pos += (uint64_t)m << 32;
        } else if (pos < end - kOne) {
            // Every frame of this run has its successor inside the buffer.
            uint64_t room = (end - kOne - pos + step - 1) / step;
            m = room < count - k ? (size_t)room : count - k;
            float* o = out + 2 * k;
            for (size_t j = 0; j < m; j++, o += 2) {
                size_t at = (size_t)(pos >> 32);
                AddFrame<Bits, Channels>(o, d, at, at + 1, (float)(uint32_t)pos * kFraction, gl, gr);
                pos += step;
            }
        } else {
            // The last frame leans on the first when looping, on itself otherwise.
            size_t next = b->looping ? 0 : i;
            AddFrame<Bits, Channels>(out + 2 * k, d, i, next, (float)(uint32_t)pos * kFraction, gl, gr);
            pos += step;
            m = 1;
        }
        k += m;
        if (!Wrap(b, &pos, end)) return;
    }
    b->pos = pos;
}

// A voice that cannot be heard still moves on.
void AdvanceSilent(Voice& v, float*, size_t count) {
    DsBufferState* b = v.b;
    uint64_t pos = b->pos + v.step * count;
    if (Wrap(b, &pos, (uint64_t)b->frames << 32)) b->pos = pos;
}

void (*MixerFor(const WAVEFORMATEX& f))(Voice&, float*, size_t) {
    if (f.wBitsPerSample == 16) return f.nChannels == 1 ? MixVoice<16, 1> : MixVoice<16, 2>;
    return f.nChannels == 1 ? MixVoice<8, 1> : MixVoice<8, 2>;
}

// The gains of a device's primary buffer, when it was given volume or pan control.
void PrimaryGains(const DsDeviceState& d, float* gl, float* gr) {
    *gl = *gr = 1.0f;
    if (d.primary < 0) return;
    const DsBufferState& p = g_buffers[d.primary];
    float vol = (p.flags & DSBCAPS_CTRLVOLUME) ? VolumeGain(p.volume) : 1.0f;
    *gl = *gr = vol;
    if (p.flags & DSBCAPS_CTRLPAN) {
        if (p.pan > 0) *gl *= VolumeGain(-p.pan);
        if (p.pan < 0) *gr *= VolumeGain(p.pan);
    }
}

bool SetUpVoice(DsBufferState* b, Voice* v) {
    const DsDeviceState& d = g_devices[b->device];
    float vol = VolumeGain(b->volume);
    float gl = vol, gr = vol;
    if (b->pan > 0) gl *= VolumeGain(-b->pan);
    if (b->pan < 0) gr *= VolumeGain(b->pan);
    float pl, pr;
    PrimaryGains(d, &pl, &pr);
    gl *= pl;
    gr *= pr;
    uint64_t rate = b->format.nSamplesPerSec;
    uint64_t step = (rate << 32) / kOutputRate;
    if (b->flags & DSBCAPS_CTRL3D) {
        SpatialGains s = Spatial_Compute(b->params3d, d.listener, (b->flags & DSBCAPS_MUTE3DATMAXDISTANCE) != 0);
        gl *= s.left;
        gr *= s.right;
        if (s.rateScale != 1.0) step = (uint64_t)std::llround((double)rate * s.rateScale * 4294967296.0 / kOutputRate);
    }
    if (step == 0) step = 1;
    v->b = b;
    v->gl = gl;
    v->gr = gr;
    v->step = step;
    v->mix = (gl == 0.0f && gr == 0.0f) ? AdvanceSilent : MixerFor(b->format);
    return true;
}

Voice s_voices[kMaxBuffers];
float s_mix[kBlock * 2];

}  // namespace

void AudioMixer_Render(int16_t* out, size_t frames) {
    std::lock_guard<std::mutex> hold(g_dsMutex);
    // Nothing changes while the mutex is held, so gains hold for the whole call.
    int voices = 0;
    for (DsBufferState& b : g_buffers) {
        if (!b.used || b.dead || b.primary || !b.playing || b.lost || b.frames == 0) continue;
        SetUpVoice(&b, &s_voices[voices++]);
    }
    int16_t* o = out;
    for (size_t done = 0; done < frames;) {
        size_t n = frames - done < kBlock ? frames - done : kBlock;
        std::memset(s_mix, 0, n * 2 * sizeof(float));
        for (int i = 0; i < voices; i++)
            if (s_voices[i].b->playing) s_voices[i].mix(s_voices[i], s_mix, n);
        for (size_t j = 0; j < 2 * n; j++) {
            float x = s_mix[j];
            x = x < -32768.0f ? -32768.0f : (x > 32767.0f ? 32767.0f : x);
            o[j] = (int16_t)std::lrint(x);
        }
        o += 2 * n;
        done += n;
    }
    Capture_Append(out, frames);
}
