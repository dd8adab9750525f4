// demo_sounds: synthesises the demo session's music and effects as 44100 Hz
// 16-bit PCM WAV files into a folder. Deterministic: the same files on every
// run. scripts/demo then turns some of them into the engine's other kinds.
//
//   town.wav     music, C major, 100 bpm: 2-bar intro, then a 4-bar loop
//   night.wav    music, A minor, 84 bpm: a 4-bar loop
//   fanfare.wav  a closing jingle
//   chime.wav    plain effect (stereo); bird, step, brook, bell: mono, for 3D
//   coin.wav     plain effect, to be enciphered
//
// Build: g++ -O2 -std=c++17 demo_sounds.cpp -o demo_sounds; run: demo_sounds DIR
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <string>
#include <vector>

namespace {

constexpr int kRate = 44100;
constexpr double kPi = 3.14159265358979323846;

struct Track {
    std::vector<float> l, r;
    explicit Track(size_t frames) : l(frames), r(frames) {}
    size_t frames() const { return l.size(); }
};

uint32_t s_noise = 22222;
double Noise() {
    s_noise = s_noise * 1664525u + 1013904223u;
    return ((int32_t)(s_noise >> 8) - (1 << 23)) / (double)(1 << 23);
}

double Midi(int note) { return 440.0 * std::pow(2.0, (note - 69) / 12.0); }

// Equal-power pan, -1 left .. 1 right.
void Put(Track& t, size_t i, double v, double pan) {
    if (i >= t.frames()) return;
    double a = (pan + 1) * kPi / 4;
    t.l[i] += (float)(v * std::cos(a));
    t.r[i] += (float)(v * std::sin(a));
}

// Plucked string (Karplus-Strong): a noise burst in a delay line that a
// two-tap average slowly darkens.
void Pluck(Track& t, double at, double seconds, int note, double gain, double pan) {
    size_t start = (size_t)(at * kRate), n = (size_t)(seconds * kRate);
    size_t period = (size_t)std::lround(kRate / Midi(note));
    std::vector<double> line(period);
    for (double& x : line) x = Noise();
    double prev = 0;
    for (size_t i = 0; i < n; i++) {
        size_t k = i % period;
        double out = line[k];
        line[k] = 0.996 * 0.5 * (out + prev);
        prev = out;
        double release = i + 2000 > n ? (n - i) / 2000.0 : 1;
        Put(t, start + i, gain * out * release, pan);
    }
}

// Two-operator FM: ratio 1 gives an electric piano, a non-integer ratio a bell.
void Fm(Track& t, double at, double seconds, double freq, double ratio, double index, double decay, double gain,
        double pan) {
    size_t start = (size_t)(at * kRate), n = (size_t)(seconds * kRate);
    for (size_t i = 0; i < n; i++) {
        double s = (double)i / kRate;
        double env = std::exp(-decay * s) * std::min(1.0, s / 0.004) * std::min(1.0, (n - i) / 1500.0);
        double mod = index * std::exp(-2.5 * s) * std::sin(2 * kPi * freq * ratio * s);
        Put(t, start + i, gain * env * std::sin(2 * kPi * freq * s + mod), pan);
    }
}

// A soft pad: detuned band-limited saws with slow attack and release.
void Pad(Track& t, double at, double seconds, const std::vector<int>& notes, double gain) {
    size_t start = (size_t)(at * kRate), n = (size_t)(seconds * kRate);
    const double detune[3] = {-0.004, 0.0, 0.005};
    const double pans[3] = {-0.6, 0.0, 0.6};
    for (int note : notes) {
        double f = Midi(note);
        for (int v = 0; v < 3; v++) {
            double fv = f * (1 + detune[v]);
            for (size_t i = 0; i < n; i++) {
                double s = (double)i / kRate;
                double env = std::min(1.0, s / 0.35) * std::min(1.0, (n - i) / (0.5 * kRate));
                double x = 0;
                for (int h = 1; h <= 6; h++) x += std::sin(2 * kPi * fv * h * s + v) / (h * h * 0.7 + 0.3);
                Put(t, start + i, gain * env * x / notes.size(), pans[v]);
            }
        }
    }
}

void Bass(Track& t, double at, double seconds, int note, double gain) {
    size_t start = (size_t)(at * kRate), n = (size_t)(seconds * kRate);
    double f = Midi(note);
    for (size_t i = 0; i < n; i++) {
        double s = (double)i / kRate;
        double env = std::exp(-1.8 * s) * std::min(1.0, s / 0.006) * std::min(1.0, (n - i) / 800.0);
        double x = std::sin(2 * kPi * f * s) + 0.3 * std::sin(4 * kPi * f * s) + 0.1 * std::sin(6 * kPi * f * s);
        Put(t, start + i, gain * env * x, 0);
    }
}

void Kick(Track& t, double at, double gain) {
    size_t start = (size_t)(at * kRate), n = (size_t)(0.35 * kRate);
    double phase = 0;
    for (size_t i = 0; i < n; i++) {
        double s = (double)i / kRate;
        phase += 2 * kPi * (45 + 90 * std::exp(-30 * s)) / kRate;
        Put(t, start + i, gain * std::exp(-9 * s) * std::sin(phase), 0);
    }
}

void Hat(Track& t, double at, double gain, double pan, double decay = 45) {
    size_t start = (size_t)(at * kRate), n = (size_t)(std::min(1.5, 6.0 / decay) * kRate);
    double prev = 0;
    for (size_t i = 0; i < n; i++) {
        double x = Noise();
        double hp = x - prev;  // keeps the hiss, loses the rumble
        prev = x;
        Put(t, start + i, gain * std::exp(-decay * i / (double)kRate) * hp, pan);
    }
}

// A small room: four feedback combs and two all-passes per side.
void Reverb(Track& t, double wet) {
    const int combs[2][4] = {{1557, 1617, 1491, 1422}, {1580, 1640, 1514, 1445}};
    const int passes[2][2] = {{225, 556}, {248, 579}};
    for (int side = 0; side < 2; side++) {
        std::vector<float>& x = side ? t.r : t.l;
        std::vector<float> out(x.size());
        for (int c = 0; c < 4; c++) {
            std::vector<float> line(combs[side][c]);
            float damp = 0;
            for (size_t i = 0; i < x.size(); i++) {
                size_t k = i % line.size();
                float y = line[k];
                damp = 0.7f * y + 0.3f * damp;
                line[k] = x[i] + 0.8f * damp;
                out[i] += y * 0.25f;
            }
        }
        for (int p = 0; p < 2; p++) {
            std::vector<float> line(passes[side][p]);
            for (size_t i = 0; i < out.size(); i++) {
                size_t k = i % line.size();
                float b = line[k];
                float y = -out[i] + b;
                line[k] = out[i] + 0.5f * b;
                out[i] = y;
            }
        }
        for (size_t i = 0; i < x.size(); i++) x[i] += (float)wet * out[i];
    }
}

// Folds what rang on past the loop's end into its start, so the loop joins
// without a click, and cuts the track to length frames.
void WrapTail(Track& t, size_t loopStart, size_t length) {
    for (size_t i = length; i < t.frames(); i++) {
        size_t to = loopStart + (i - length);
        if (to >= length) break;
        t.l[to] += t.l[i];
        t.r[to] += t.r[i];
    }
    t.l.resize(length);
    t.r.resize(length);
}

bool WriteWav(const std::string& path, const Track& t, int channels, double peak) {
    double most = 1e-9;
    for (size_t i = 0; i < t.frames(); i++) most = std::max({most, (double)std::fabs(t.l[i]), (double)std::fabs(t.r[i])});
    double scale = peak * 32767 / most;
    std::vector<int16_t> pcm;
    for (size_t i = 0; i < t.frames(); i++) {
        if (channels == 1) {
            pcm.push_back((int16_t)std::lround(scale * 0.5 * (t.l[i] + t.r[i]) * std::sqrt(2.0)));
        } else {
            pcm.push_back((int16_t)std::lround(scale * t.l[i]));
            pcm.push_back((int16_t)std::lround(scale * t.r[i]));
        }
    }
    uint32_t data = (uint32_t)(pcm.size() * 2);
    uint8_t h[44] = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0};
    auto put = [&](int at, uint32_t v, int bytes) {
        for (int b = 0; b < bytes; b++) h[at + b] = (uint8_t)(v >> (8 * b));
    };
    put(4, 36 + data, 4);
    put(22, (uint32_t)channels, 2);
    put(24, kRate, 4);
    put(28, (uint32_t)(kRate * 2 * channels), 4);
    put(32, (uint32_t)(2 * channels), 2);
    put(34, 16, 2);
    memcpy(h + 36, "data", 4);
    put(40, data, 4);
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = fwrite(h, 1, 44, f) == 44 && fwrite(pcm.data(), 1, data, f) == data;
    return (fclose(f) == 0) && ok;
}

// A chord as MIDI notes: root and the intervals above it.
std::vector<int> Chord(int root, std::vector<int> intervals) {
    std::vector<int> notes;
    for (int i : intervals) notes.push_back(root + i);
    return notes;
}

struct MelodyNote {
    int note;
    double beat, beats;
};

// C major, 100 bpm. Bars 0-1 are the intro (Fmaj7, G), bars 2-5 the loop
// (C, Am, F, G) with the melody, bass and drums.
Track Town(size_t* loopStartFrame) {
    const double beat = 0.6;
    const size_t barFrames = (size_t)(4 * beat * kRate);  // 105840
    Track t(8 * barFrames);
    struct Bar {
        int root;
        std::vector<int> chord;
    } bars[6] = {{53, {0, 4, 7, 11}}, {55, {0, 4, 7, 10}}, {48, {0, 4, 7, 12}},
                 {57, {0, 3, 7, 12}}, {53, {0, 4, 7, 12}}, {55, {0, 4, 7, 10}}};
    const int arpeggio[8] = {0, 2, 1, 3, 2, 1, 3, 2};
    for (int b = 0; b < 6; b++) {
        double at = b * 4 * beat;
        std::vector<int> chord = Chord(bars[b].root, bars[b].chord);
        Pad(t, at, 4 * beat + 0.4, chord, 0.10);
        for (int e = 0; e < 8; e++)
            Pluck(t, at + e * beat / 2, 1.2, chord[arpeggio[e]] + 12, e % 2 ? 0.16 : 0.22, e % 2 ? 0.45 : -0.35);
        if (b >= 2) {
            int root = bars[b].root - 24 + (bars[b].root < 52 ? 12 : 0);
            Bass(t, at, 1.4 * beat, root, 0.45);
            Bass(t, at + 1.5 * beat, 0.5 * beat, root, 0.3);
            Bass(t, at + 2.5 * beat, 1.4 * beat, root + 7, 0.35);
            Kick(t, at, 0.55);
            Kick(t, at + 2 * beat, 0.45);
            for (int e = 0; e < 8; e++) Hat(t, at + e * beat / 2, e % 2 ? 0.05 : 0.03, 0.3);
        }
    }
    const MelodyNote melody[] = {{76, 0, 1}, {79, 1, 1}, {84, 2, 1.5}, {83, 3.5, 0.5}, {81, 4, 1.5}, {79, 5.5, 0.5},
                                 {76, 6, 1}, {72, 7, 1}, {77, 8, 1}, {81, 9, 1}, {84, 10, 1}, {81, 11, 1},
                                 {83, 12, 1.5}, {81, 13.5, 0.5}, {79, 14, 1}, {74, 15, 1}};
    for (const MelodyNote& m : melody)
        Fm(t, (8 + m.beat) * beat, m.beats * beat + 0.5, Midi(m.note), 1.0, 1.6, 2.2, 0.28, 0.1);
    Reverb(t, 0.25);
    *loopStartFrame = 2 * barFrames;
    WrapTail(t, 2 * barFrames, 6 * barFrames);
    return t;
}

// A minor, 84 bpm, one 4-bar loop (Am, F, C, E): pad, slow arpeggio, bells.
Track Night() {
    const double beat = 60.0 / 84;
    const size_t barFrames = (size_t)std::lround(4 * beat * kRate);  // 126000
    Track t(6 * barFrames);
    struct Bar {
        int root;
        std::vector<int> chord;
    } bars[4] = {{57, {0, 3, 7, 12}}, {53, {0, 4, 7, 12}}, {48, {0, 4, 7, 12}}, {52, {0, 4, 7, 11}}};
    const int arpeggio[8] = {0, 1, 2, 3, 2, 1, 2, 1};
    for (int b = 0; b < 4; b++) {
        double at = b * 4 * beat;
        std::vector<int> chord = Chord(bars[b].root, bars[b].chord);
        Pad(t, at, 4 * beat + 0.5, chord, 0.13);
        for (int e = 0; e < 8; e++) Pluck(t, at + e * beat / 2, 1.6, chord[arpeggio[e]], 0.15, e % 2 ? 0.5 : -0.5);
        Bass(t, at, 3.8 * beat, bars[b].root - 24 + (bars[b].root < 52 ? 12 : 0), 0.35);
        Hat(t, at + 2 * beat, 0.02, -0.2, 8);  // a soft brush on the back beat
    }
    const MelodyNote melody[] = {{81, 0, 2}, {84, 2, 1}, {83, 3, 1}, {81, 4, 1}, {77, 5, 1}, {76, 6, 2},
                                 {79, 8, 1.5}, {76, 9.5, 0.5}, {72, 10, 2}, {71, 12, 1}, {76, 13, 1}, {80, 14, 2}};
    for (const MelodyNote& m : melody)
        Fm(t, m.beat * beat, m.beats * beat + 1.2, Midi(m.note), 3.5, 1.2, 1.4, 0.22, -0.15);
    Reverb(t, 0.4);
    WrapTail(t, 0, 4 * barFrames);
    return t;
}

// Rising triplets into a held C major chord with a cymbal.
Track Fanfare() {
    Track t((size_t)(4.0 * kRate));
    const int notes[] = {67, 72, 76, 79};
    for (int i = 0; i < 4; i++) {
        double at = i * 0.14;
        Fm(t, at, 0.5, Midi(notes[i]), 1.0, 2.5, 4.0, 0.35, (i - 1.5) * 0.2);
        Pluck(t, at, 0.5, notes[i] - 12, 0.2, 0);
    }
    Pad(t, 0.56, 2.6, {60, 64, 67, 72, 76}, 0.22);
    Fm(t, 0.56, 2.8, Midi(84), 1.0, 2.0, 1.2, 0.3, 0.2);
    Bass(t, 0.56, 2.0, 36, 0.5);
    Kick(t, 0.56, 0.6);
    Hat(t, 0.56, 0.12, 0, 2.5);
    Reverb(t, 0.3);
    return t;
}

Track Chime() {
    Track t((size_t)(1.8 * kRate));
    const double partials[4][2] = {{1.0, 1.0}, {2.76, 0.5}, {5.40, 0.25}, {8.93, 0.12}};
    for (int n = 0; n < 2; n++)
        for (const auto& p : partials)
            Fm(t, n * 0.12, 1.6, (n ? 1318.5 : 987.8) * p[0], 1.0, 0.0, 3.0 + p[0], 0.3 * p[1], n ? 0.4 : -0.4);
    return t;
}

Track Coin() {
    Track t((size_t)(0.5 * kRate));
    const double tones[2][3] = {{0.0, 0.08, 987.8}, {0.08, 0.42, 1318.5}};
    for (const auto& tone : tones) {
        size_t start = (size_t)(tone[0] * kRate), n = (size_t)((tone[1] - tone[0]) * kRate);
        for (size_t i = 0; i < n; i++) {
            double s = (double)i / kRate;
            double square = std::sin(2 * kPi * tone[2] * s) + std::sin(6 * kPi * tone[2] * s) / 3;
            Put(t, start + i, 0.3 * square * std::exp(-6 * s) * std::min(1.0, (n - i) / 300.0), 0);
        }
    }
    return t;
}

Track Bird() {
    Track t((size_t)(0.7 * kRate));
    for (int c = 0; c < 3; c++) {
        size_t start = (size_t)((c * 0.2) * kRate), n = (size_t)(0.12 * kRate);
        double phase = 0;
        for (size_t i = 0; i < n; i++) {
            double s = (double)i / kRate;
            double f = 2800 + 1700 * s / 0.12 + 250 * std::sin(2 * kPi * 60 * s);
            phase += 2 * kPi * f / kRate;
            Put(t, start + i, 0.5 * std::sin(kPi * s / 0.12) * std::sin(phase), 0);
        }
    }
    return t;
}

Track Step() {
    Track t((size_t)(0.25 * kRate));
    Kick(t, 0, 0.5);
    double low = 0;
    for (size_t i = 0; i < t.frames(); i++) {
        low += 0.25 * (Noise() - low);
        Put(t, i, 0.8 * low * std::exp(-25.0 * i / kRate), 0);
    }
    return t;
}

// Running water: band-limited noise with bubbling swells; 3 s that loop.
Track Brook() {
    const size_t n = 3 * kRate, fade = kRate / 4;
    Track t(n + fade);
    double a = 0, b = 0;
    for (size_t i = 0; i < t.frames(); i++) {
        double x = Noise();
        a += 0.3 * (x - a);
        b += 0.02 * (x - b);
        double s = (double)i / kRate;
        double swell = 0.6 + 0.4 * std::sin(2 * kPi * 1.3 * s) * std::sin(2 * kPi * 0.7 * s + 1);
        Put(t, i, (a - b) * swell, 0);
    }
    // Cross-fade the extra quarter second into the start.
    for (size_t i = 0; i < fade; i++) {
        double w = (double)i / fade;
        t.l[i] = (float)(t.l[i] * w + t.l[n + i] * (1 - w));
        t.r[i] = (float)(t.r[i] * w + t.r[n + i] * (1 - w));
    }
    t.l.resize(n);
    t.r.resize(n);
    return t;
}

Track Bell() {
    Track t((size_t)(3.0 * kRate));
    const double partials[5][2] = {{0.5, 0.6}, {1.0, 1.0}, {1.19, 0.5}, {2.0, 0.4}, {2.74, 0.2}};
    for (const auto& p : partials) Fm(t, 0, 2.9, 392.0 * p[0], 1.0, 0.0, 1.2 + p[0], 0.3 * p[1], 0);
    return t;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: demo_sounds DIR\n");
        return 2;
    }
    std::string dir = argv[1];
    size_t loopStart = 0;
    Track town = Town(&loopStart);
    struct Out {
        const char* name;
        Track track;
        int channels;
        double peak;
    } outs[] = {
        {"town.wav", town, 2, 0.6},   {"night.wav", Night(), 2, 0.6}, {"fanfare.wav", Fanfare(), 2, 0.75},
        {"chime.wav", Chime(), 2, 0.5}, {"coin.wav", Coin(), 1, 0.25},  {"bird.wav", Bird(), 1, 0.4},
        {"step.wav", Step(), 1, 0.3},   {"brook.wav", Brook(), 1, 0.4}, {"bell.wav", Bell(), 1, 0.7},
    };
    for (const Out& o : outs) {
        if (!WriteWav(dir + "/" + o.name, o.track, o.channels, o.peak)) {
            fprintf(stderr, "demo_sounds: cannot write %s/%s\n", dir.c_str(), o.name);
            return 1;
        }
    }
    printf("demo_sounds: town.wav loops from frame %zu\n", loopStart);
    return 0;
}
