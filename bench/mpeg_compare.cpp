// Compares a 16-bit WAV decoded by tonempeg with a reference decoder's raw
// 32-bit float output (full scale 1.0) of the same file: finds the alignment,
// then reports the RMS and largest differences in 16-bit units, leaving out
// samples where the reference clips. Built and run by bench/mpeg_accuracy.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

static bool Load(const char* path, std::vector<uint8_t>* out) {
    FILE* f = fopen(path, "rb");
    if (!f) return false;
    uint8_t buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) out->insert(out->end(), buf, buf + n);
    fclose(f);
    return true;
}

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: mpeg_compare ours.wav reference.f32 [max_lag]\n");
        return 2;
    }
    std::vector<uint8_t> wav, raw;
    if (!Load(argv[1], &wav) || !Load(argv[2], &raw) || wav.size() < 44) {
        fprintf(stderr, "mpeg_compare: cannot read inputs\n");
        return 2;
    }
    int channels = wav[22] | wav[23] << 8;
    std::vector<float> ours((wav.size() - 44) / 2);
    for (size_t i = 0; i < ours.size(); i++) ours[i] = (float)(int16_t)(wav[44 + 2 * i] | wav[45 + 2 * i] << 8);
    std::vector<float> ref(raw.size() / 4);
    memcpy(ref.data(), raw.data(), ref.size() * 4);
    for (float& v : ref) v *= 32768.0f;
    long framesOurs = (long)ours.size() / channels, framesRef = (long)ref.size() / channels;
    long maxLag = argc > 3 ? atol(argv[3]) : 5000;

    // Alignment: the lag (ours[i + lag] ~ ref[i]) with the least squared
    // difference over a window in the middle of the reference.
    long window = 16384;
    long from = framesRef / 2 - window / 2;
    if (from < maxLag) from = maxLag < framesRef ? 0 : 0;
    if (from + window > framesRef) window = framesRef - from;
    long bestLag = 0;
    double best = -1;
    for (long lag = -maxLag; lag <= maxLag; lag++) {
        if (from + lag < 0 || from + window + lag > framesOurs) continue;
        double sum = 0;
        for (long i = from; i < from + window && (best < 0 || sum < best); i++)
            for (int c = 0; c < channels; c++) {
                double d = ours[(i + lag) * channels + c] - ref[i * channels + c];
                sum += d * d;
            }
        if (best < 0 || sum < best) best = sum, bestLag = lag;
    }

    double sum = 0, maxDiff = 0, energy = 0;
    long count = 0, over2 = 0, clipped = 0;
    for (long i = 0; i < framesRef; i++) {
        long j = i + bestLag;
        if (j < 0 || j >= framesOurs) continue;
        for (int c = 0; c < channels; c++) {
            double r = ref[i * channels + c], o = ours[j * channels + c];
            if (r >= 32767.0 || r <= -32768.0) {
                clipped++;
                continue;
            }
            double d = o - r;
            sum += d * d;
            energy += r * r;
            if (fabs(d) > maxDiff) maxDiff = fabs(d);
            if (fabs(d) > 2.0) over2++;
            count++;
        }
    }
    double rms = count ? sqrt(sum / count) : 0;
    printf("lag=%ld samples=%ld rms=%.3f max=%.3f over2=%ld clipped=%ld signal_rms=%.1f\n", bestLag, count, rms,
           maxDiff, over2, clipped, count ? sqrt(energy / count) : 0.0);
    return (count > 0 && rms <= 1.0 && maxDiff <= 2.0) ? 0 : 1;
}
