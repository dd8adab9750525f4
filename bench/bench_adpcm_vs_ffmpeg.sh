#!/usr/bin/env bash
# MS ADPCM decoding speed, ours against ffmpeg's, on the same file in one run.
# Usage: bench/bench_adpcm_vs_ffmpeg.sh BUILD_DIR [SECONDS_OF_AUDIO]
set -euo pipefail
build=${1:?build folder}
seconds=${2:-600}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# Plucked notes over a tone and a little noise: sox's encoder uses all predictors on it.
sox -n -r 44100 -b 16 -c 2 "$tmp/pcm.wav" synth "$seconds" pluck C3 pluck E4 sine 1500 \
    remix 1,3 2,3 gain -6 2>/dev/null
sox "$tmp/pcm.wav" -e ms-adpcm "$tmp/adpcm.wav"
bytes=$(stat -c %s "$tmp/adpcm.wav")

# ffmpeg: user CPU seconds of the decoder (its -benchmark line), single thread.
ff=$(ffmpeg -nostdin -hide_banner -benchmark -threads 1 -i "$tmp/adpcm.wav" -f s16le -y /dev/null 2>&1 |
     sed -n 's/.*utime=\([0-9.]*\)s.*/\1/p' | tail -1)
# ours: seconds per pass over the same data chunk.
ours_ms=$(TONE_BENCH_ADPCM="$tmp/adpcm.wav" "$build/bench/bench_adpcm_decode" \
          --benchmark_format=csv --benchmark_repetitions=3 --benchmark_report_aggregates_only=true 2>/dev/null |
          awk -F, '/_median/ {print $3}')
ours=$(awk -v ms="$ours_ms" 'BEGIN {printf "%.4f", ms / 1000}')
echo "file: ${seconds} s of stereo 44.1 kHz MS ADPCM, $bytes bytes"
echo "ffmpeg decode (utime, includes file reading and output): ${ff} s"
echo "ours (median of 3, decode only):                         ${ours} s"
awk -v a="$ff" -v b="$ours" 'BEGIN {printf "speed ratio ours/ffmpeg: %.2fx\n", a / b}'
