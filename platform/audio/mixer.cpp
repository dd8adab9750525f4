// The mixer: every playing secondary buffer is read at its own rate (linear
// interpolation; a straight copy at 44100 Hz), scaled by its volume, pan and
// 3D gains, summed in float and saturated to 16 bits once. Each voice's gains
// and step are worked out once per call; nothing is allocated or locked per
// frame. Positions step by rate/44100 as an exact fraction, so cursors move
// by exactly the frames consumed and equal rates stay bit-exact.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/audio/audio_output.h"
#include "platform/audio/device_state.h"
#include "platform/audio/spatial.h"

namespace {

constexpr size_t kBlock = 256;

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

// Frames i.. of a voice at the output rate: no interpolation to do.
template <int Bits, int Channels>
inline void AddRun(float* out, const void* d, size_t i, size_t m, float gl, float gr) {
    for (size_t j = 0; j < m; j++, out += 2) {
        if constexpr (Channels == 1) {
            float a = Sample<Bits>(d, i + j);
            out[0] += a * gl;
            out[1] += a * gr;
        } else {
            out[0] += Sample<Bits>(d, 2 * (i + j)) * gl;
            out[1] += Sample<Bits>(d, 2 * (i + j) + 1) * gr;
        }
    }
}

struct Voice {
    DsBufferState* b;
    float gl, gr;
    // Frames of the buffer per output frame: q + rem / 44100 exactly, and the
    // same as 32.32 fixed point for stepping inside a run.
    uint32_t q, rem;
    uint64_t stepFixed;
    void (*mix)(Voice& v, float* out, size_t count);
};

constexpr uint32_t kSub = kOutputRate;
constexpr float kInvSub = 1.0f / (float)kOutputRate;
constexpr float kFraction = 1.0f / 4294967296.0f;

void EndVoice(DsBufferState* b) {
    // A one-shot buffer stops at its end; its cursor has wrapped to 0.
    b->playing = false;
    b->frame = 0;
    b->sub = 0;
    if (b->flags & DSBCAPS_LOCDEFER) Ds_DropVoice(b);
}

// The position is kept exact (frame + sub/44100). A run of interpolated
// frames steps a fixed-point copy, one add per frame, and the exact position
// after the run is then set by arithmetic, so cursors never drift.
template <int Bits, int Channels>
void MixVoice(Voice& v, float* out, size_t count) {
    DsBufferState* b = v.b;
    const void* d = b->data;
    const uint32_t n = b->frames;
    const uint32_t q = v.q, rem = v.rem;
    const uint64_t step = (uint64_t)q * kSub + rem;
    const float gl = v.gl, gr = v.gr;
    uint32_t i = b->frame, r = b->sub;
    size_t k = 0;
    while (k < count) {
        size_t m;
        if (q == 1 && rem == 0 && r == 0) {
            // Same rate, on a frame: a straight run to the end of the buffer.
            m = n - i;
            if (m > count - k) m = count - k;
            AddRun<Bits, Channels>(out + 2 * k, d, i, m, gl, gr);
            i += (uint32_t)m;
        } else if (i + 1 < n) {
            // Every frame of this run has its successor inside the buffer.
            uint64_t pos = ((uint64_t)i << 32) + (((uint64_t)r << 32) / kSub);
            uint64_t limit = (uint64_t)(n - 1) << 32;
            uint64_t room = (limit - pos + v.stepFixed - 1) / v.stepFixed;
            m = room < count - k ? (size_t)room : count - k;
            float* o = out + 2 * k;
            for (size_t j = 0; j < m; j++, o += 2) {
                size_t at = (size_t)(pos >> 32);
                AddFrame<Bits, Channels>(o, d, at, at + 1, (float)(uint32_t)pos * kFraction, gl, gr);
                pos += v.stepFixed;
            }
            uint64_t exact = (uint64_t)i * kSub + r + step * m;
            i = (uint32_t)(exact / kSub);
            r = (uint32_t)(exact % kSub);
        } else {
            // The last frame leans on the first when looping, on itself otherwise.
            AddFrame<Bits, Channels>(out + 2 * k, d, i, b->looping ? 0 : i, (float)r * kInvSub, gl, gr);
            i += q;
            r += rem;
            if (r >= kSub) r -= kSub, i++;
            m = 1;
        }
        k += m;
        if (i >= n) {
            if (!b->looping) {
                EndVoice(b);
                return;
            }
            i %= n;
        }
    }
    b->frame = i;
    b->sub = r;
}

// A voice that cannot be heard still moves on.
void AdvanceSilent(Voice& v, float*, size_t count) {
    DsBufferState* b = v.b;
    uint64_t end = (uint64_t)b->frames * kSub;
    uint64_t at = (uint64_t)b->frame * kSub + b->sub + ((uint64_t)v.q * kSub + v.rem) * count;
    if (at >= end) {
        if (!b->looping) {
            EndVoice(b);
            return;
        }
        at %= end;
    }
    b->frame = (DWORD)(at / kSub);
    b->sub = (DWORD)(at % kSub);
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

void SetUpVoice(DsBufferState* b, Voice* v) {
    const DsDeviceState& d = g_devices[b->device];
    float vol = VolumeGain(b->volume);
    float gl = vol, gr = vol;
    if (b->pan > 0) gl *= VolumeGain(-b->pan);
    if (b->pan < 0) gr *= VolumeGain(b->pan);
    float pl, pr;
    PrimaryGains(d, &pl, &pr);
    gl *= pl;
    gr *= pr;
    uint32_t rate = b->format.nSamplesPerSec;
    if (b->flags & DSBCAPS_CTRL3D) {
        SpatialGains s = Spatial_Compute(b->params3d, d.listener, (b->flags & DSBCAPS_MUTE3DATMAXDISTANCE) != 0);
        gl *= s.left;
        gr *= s.right;
        // Doppler moves the rate in whole hertz.
        if (s.rateScale != 1.0) rate = (uint32_t)std::max(1L, std::lround(rate * s.rateScale));
    }
    v->b = b;
    v->gl = gl;
    v->gr = gr;
    v->q = rate / kSub;
    v->rem = rate % kSub;
    v->stepFixed = (((uint64_t)rate << 32) + kSub / 2) / kSub;
    v->mix = (gl == 0.0f && gr == 0.0f) ? AdvanceSilent : MixerFor(b->format);
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
        // Saturated once, rounded half up (whole values pass unchanged).
        for (size_t j = 0; j < 2 * n; j++) {
            float x = s_mix[j];
            x = x < -32768.0f ? -32768.0f : (x > 32767.0f ? 32767.0f : x);
            o[j] = (int16_t)((int32_t)(x + 32768.5f) - 32768);
        }
        o += 2 * n;
        done += n;
    }
    Capture_Append(out, frames);
}
