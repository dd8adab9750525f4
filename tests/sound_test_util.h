// Helpers of the sound data tests: a scratch folder that is also the current
// directory, files written from byte vectors, deterministic test audio, and
// running the tools and oracles.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "sources/le_bytes.h"
#include "sources/wav_header.h"

typedef std::vector<uint8_t> Bytes;

struct ScratchDir {
    std::string path;
    std::string previous;
    ScratchDir() {
        char tmpl[] = "/tmp/tone_sources_XXXXXX";
        path = mkdtemp(tmpl);
        previous = std::filesystem::current_path();
        std::filesystem::current_path(path);
    }
    ~ScratchDir() {
        std::filesystem::current_path(previous);
        std::filesystem::remove_all(path);
    }
};

inline void WriteBytes(const std::string& path, const Bytes& bytes) {
    std::filesystem::path p(path);
    if (p.has_parent_path()) std::filesystem::create_directories(p.parent_path());
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    if (!bytes.empty()) fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
}

inline Bytes ReadBytes(const std::string& path) {
    Bytes out;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return out;
    uint8_t chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) out.insert(out.end(), chunk, chunk + n);
    fclose(f);
    return out;
}

inline Bytes Pattern(size_t n, uint32_t seed) {
    Bytes b(n);
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < n; i++) {
        x = x * 1664525u + 1013904223u;
        b[i] = (uint8_t)(x >> 24);
    }
    return b;
}

// Stereo music-like material: two detuned tones with decaying plucks and a
// little noise, so that ADPCM blocks meet both tones and transients.
inline std::vector<int16_t> TestMusic(uint32_t frames, uint32_t seed = 1) {
    std::vector<int16_t> pcm(2 * (size_t)frames);
    uint32_t x = seed;
    for (uint32_t i = 0; i < frames; i++) {
        double t = i / 44100.0;
        double env = std::exp(-3.0 * std::fmod(t, 0.7));
        x = x * 1664525u + 1013904223u;
        double noise = ((int32_t)(x >> 16) - 32768) / 32768.0;
        double l = 9000 * env * std::sin(2 * M_PI * 220 * t) + 4000 * std::sin(2 * M_PI * 1375 * t) + 500 * noise;
        double r = 8000 * env * std::sin(2 * M_PI * 330 * t + 1) + 3000 * std::sin(2 * M_PI * 2750 * t) + 500 * noise;
        pcm[2 * i] = (int16_t)l;
        pcm[2 * i + 1] = (int16_t)r;
    }
    return pcm;
}

inline Bytes PcmWavImage(const std::vector<int16_t>& pcm, uint16_t channels, uint32_t rate) {
    uint32_t data = (uint32_t)(pcm.size() * 2);
    WavHeader h = WavHeader_Make(channels, rate, 16, data);
    Bytes out(sizeof h + data);
    memcpy(out.data(), &h, sizeof h);
    if (data) memcpy(out.data() + sizeof h, pcm.data(), data);
    return out;
}

inline std::vector<int16_t> Samples(const Bytes& b, size_t from = 0) {
    std::vector<int16_t> s((b.size() - from) / 2);
    memcpy(s.data(), b.data() + from, s.size() * 2);
    return s;
}

inline std::string ToolPath(const char* tool) { return std::string(TONE_BUILD_DIR) + "/tools/" + tool; }

// Runs a shell command; returns its exit status and what it wrote to stdout
// and stderr together.
inline int RunCommand(const std::string& command, std::string* output = nullptr) {
    FILE* p = popen((command + " 2>&1").c_str(), "r");
    if (!p) return -1;
    std::string text;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
    int status = pclose(p);
    if (output) *output = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Signal-to-noise ratio in dB of decoded against reference over n samples.
inline double SnrDb(const int16_t* reference, const int16_t* decoded, size_t n) {
    double signal = 0, noise = 0;
    for (size_t i = 0; i < n; i++) {
        signal += (double)reference[i] * reference[i];
        double e = (double)reference[i] - decoded[i];
        noise += e * e;
    }
    return 10 * std::log10(signal / (noise > 0 ? noise : 1e-9));
}
