#!/usr/bin/env python3
"""Writes a valid MPEG-1 Layer I stream for decoder tests: each subband below
a bound carries a slow sinusoid, quantised with an allocation that varies by
subband and frame, so every allocation from 2 to 15 bits and many scale
factors occur. The top subbands stay empty.

usage: mpeg_make_layer1.py OUT FRAMES RATE_INDEX BITRATE_INDEX MODE [crc] [ext=N]
  RATE_INDEX 0 44.1, 1 48, 2 32 kHz; MODE 0 stereo, 1 joint, 2 dual, 3 mono
"""
import math
import sys

RATES = [44100, 48000, 32000]
BITRATES = [0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448]


class Bits:
    def __init__(self):
        self.bits = []

    def put(self, value, n):
        for i in range(n - 1, -1, -1):
            self.bits.append((value >> i) & 1)

    def bytes(self):
        out = bytearray()
        for i in range(0, len(self.bits), 8):
            chunk = self.bits[i:i + 8] + [0] * (8 - len(self.bits[i:i + 8]))
            out.append(int("".join(map(str, chunk)), 2))
        return out


def crc16(bits):
    crc = 0xFFFF
    for b in bits:
        top = (crc >> 15) & 1
        crc = (crc << 1) & 0xFFFF
        if top ^ b:
            crc ^= 0x8005
    return crc


def main():
    out, frames, rate_index, bitrate_index, mode = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4]), int(sys.argv[5])
    crc = "crc" in sys.argv[6:]
    ext = 0
    for a in sys.argv[6:]:
        if a.startswith("ext="):
            ext = int(a[4:])
    channels = 1 if mode == 3 else 2
    bound = 4 * (ext + 1) if mode == 1 else 32
    rate = RATES[rate_index]
    size = (12 * BITRATES[bitrate_index] * 1000 // rate) * 4
    used_subbands = 20
    stream = bytearray()
    t = 0
    for f in range(frames):
        # Allocation per subband and channel (joint: shared above the bound).
        alloc = [[0] * 32 for _ in range(channels)]
        for ch in range(channels):
            for sb in range(used_subbands):
                alloc[ch][sb] = 1 + (sb * 3 + f + ch * 5) % 14  # 2..15 bits
        for sb in range(bound, 32):
            if channels == 2:
                alloc[1][sb] = alloc[0][sb]
        # Budget: drop allocations from the top until the frame fits.
        def cost():
            bits = 32 + (16 if crc else 0)
            for sb in range(32):
                for ch in range(channels):
                    if sb >= bound and ch == 1:
                        continue
                    bits += 4
            for sb in range(32):
                for ch in range(channels):
                    if alloc[ch][sb]:
                        bits += 6
                        if not (sb >= bound and ch == 1):
                            bits += 12 * (alloc[ch][sb] + 1)
            return bits
        while cost() > size * 8:
            for sb in range(31, -1, -1):
                if any(alloc[ch][sb] for ch in range(channels)):
                    for ch in range(channels):
                        alloc[ch][sb] = max(0, alloc[ch][sb] - 1) if alloc[ch][sb] > 1 else 0
                    break
        # Subband samples: a sinusoid per subband and channel.
        samples = [[[0.0] * 12 for _ in range(32)] for _ in range(channels)]
        for ch in range(channels):
            for sb in range(used_subbands):
                amp = 0.15 / (1 + sb) * (1.0 + 0.5 * math.sin(0.05 * f + ch))
                for s in range(12):
                    n = t + s
                    samples[ch][sb][s] = amp * math.sin(2 * math.pi * (0.013 + 0.004 * sb + 0.002 * ch) * n + sb)
        if channels == 2:
            for sb in range(bound, 32):
                samples[1][sb] = list(samples[0][sb])
        t += 12
        # Scale factors: the smallest 2^(1 - i/3) that holds the peak.
        scf = [[0] * 32 for _ in range(channels)]
        for ch in range(channels):
            for sb in range(32):
                peak = max(abs(v) for v in samples[ch][sb])
                i = 62
                while i > 0 and 2.0 ** (1 - i / 3) < peak:
                    i -= 1
                scf[ch][sb] = i
        b = Bits()
        b.put(0xFFF, 12)
        b.put(1, 1)  # MPEG-1
        b.put(3, 2)  # Layer I
        b.put(0 if crc else 1, 1)
        b.put(bitrate_index, 4)
        b.put(rate_index, 2)
        b.put(0, 1)  # padding
        b.put(0, 1)
        b.put(mode, 2)
        b.put(ext, 2)
        b.put(0, 1)
        b.put(1, 1)
        b.put(0, 2)
        crc_at = len(b.bits)
        if crc:
            b.put(0, 16)
        alloc_start = len(b.bits)
        for sb in range(32):
            for ch in range(channels):
                if sb >= bound and ch == 1:
                    continue
                b.put(alloc[ch][sb], 4)
        alloc_end = len(b.bits)
        for sb in range(32):
            for ch in range(channels):
                if alloc[ch][sb]:
                    b.put(scf[ch][sb], 6)
        for s in range(12):
            for sb in range(32):
                for ch in range(channels):
                    if sb >= bound and ch == 1:
                        continue
                    nb = alloc[ch][sb] + 1
                    if nb == 1:
                        continue
                    levels = (1 << nb) - 1
                    x = samples[ch][sb][s] / (2.0 ** (1 - scf[ch][sb] / 3))
                    v = int(round((x * levels + levels - 1) / 2))
                    v = max(0, min(levels - 1, v))
                    b.put(v, nb)
        if crc:
            value = crc16(b.bits[16:32] + b.bits[alloc_start:alloc_end])
            for i in range(16):
                b.bits[crc_at + i] = (value >> (15 - i)) & 1
        data = b.bytes()
        data += bytes(size - len(data))
        stream += data
    with open(out, "wb") as f:
        f.write(stream)


if __name__ == "__main__":
    main()
