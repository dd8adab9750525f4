// tonempeg: decodes a raw MPEG audio file frame by frame to a WAV file at the
// stream's own sampling rate and channel count, for comparison with other
// decoders. Frames that do not decode are skipped by searching for the next
// sync, as the engine's MPEG audio source does.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "decoders/mpeg_audio.h"

namespace {

bool ReadFile(const std::string& path, std::vector<uint8_t>* data) {
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return false;
    uint8_t chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) data->insert(data->end(), chunk, chunk + n);
    fclose(f);
    return true;
}

void Put32(std::vector<uint8_t>* v, uint32_t x) {
    for (int i = 0; i < 4; i++) v->push_back((uint8_t)(x >> (8 * i)));
}
void Put16(std::vector<uint8_t>* v, uint32_t x) {
    for (int i = 0; i < 2; i++) v->push_back((uint8_t)(x >> (8 * i)));
}

std::vector<uint8_t> WavHeader(const MpegStreamInfo& info, uint32_t dataBytes) {
    std::vector<uint8_t> wav;
    const char* riff = "RIFF";
    wav.insert(wav.end(), riff, riff + 4);
    Put32(&wav, dataBytes == 0xFFFFFFFFu ? dataBytes : 36 + dataBytes);
    const char* fmt = "WAVEfmt ";
    wav.insert(wav.end(), fmt, fmt + 8);
    Put32(&wav, 16);
    Put16(&wav, 1);
    Put16(&wav, (uint32_t)info.channels);
    Put32(&wav, (uint32_t)info.sampleRate);
    int32_t align = info.channels * info.bitsPerSample / 8;
    Put32(&wav, (uint32_t)(info.sampleRate * align));
    Put16(&wav, (uint32_t)align);
    Put16(&wav, (uint32_t)info.bitsPerSample);
    const char* dataTag = "data";
    wav.insert(wav.end(), dataTag, dataTag + 4);
    Put32(&wav, dataBytes);
    return wav;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Decode a raw MPEG audio file (Layer I, II or III) to WAV"};
    std::string input, output;
    int reduction = 0, conversion = 0, limit = 24000, frames = -1;
    bool eightBit = false;
    app.add_option("input", input, "MPEG audio file")->required();
    app.add_option("-o,--output", output, "WAV file to write, - for standard output")->required();
    app.add_option("-r,--reduction", reduction, "0 full, 1 half, 2 quarter rate")->check(CLI::Range(0, 2));
    app.add_option("-c,--channels", conversion, "0 keep, 1 sum, 2 first, 3 second channel")->check(CLI::Range(0, 3));
    app.add_option("-l,--limit", limit, "highest frequency to decode, in Hz")->check(CLI::Range(0, 1000000));
    app.add_option("-n,--frames", frames, "decode at most this many frames");
    app.add_flag("-8,--eight-bit", eightBit, "8-bit output");
    CLI11_PARSE(app, argc, argv);

    std::vector<uint8_t> data;
    if (!ReadFile(input, &data) || data.empty()) {
        fprintf(stderr, "tonempeg: cannot read %s\n", input.c_str());
        return 1;
    }
    MpegDecoder* decoder = new MpegDecoder();
    decoder->Init();
    MpegOptions options{reduction, conversion | (eightBit ? kMpegConvert8Bit : 0), limit};
    decoder->SetOptions(&options);

    int32_t length = (int32_t)data.size();
    // Pad so that a short last stretch still reads as a stream start.
    data.resize(data.size() + 512, 0);
    int32_t offset = 0;
    MpegStreamInfo info;
    for (;;) {
        int32_t found = 0;
        if (offset >= length || !decoder->FindSync(data.data() + offset, length - offset, &found)) {
            fprintf(stderr, "tonempeg: no MPEG audio frame in %s\n", input.c_str());
            return 1;
        }
        offset += found;
        if (decoder->ReadStreamInfo(data.data() + offset, length - offset + 512, &info) &&
            decoder->StartDecoding(data.data() + offset, length - offset + 512))
            break;
        offset++;
    }

    // Frames stream to the output; a file is written under a temporary name
    // and renamed once complete, standard output ("-") gets open-ended sizes.
    bool toStdout = output == "-";
    std::string partial = output + ".part";
    FILE* f = toStdout ? stdout : fopen(partial.c_str(), "wb");
    if (!f) {
        fprintf(stderr, "tonempeg: cannot write %s\n", output.c_str());
        return 1;
    }
    static char buffer[1 << 16];
    setvbuf(f, buffer, _IOFBF, sizeof buffer);
    std::vector<uint8_t> header = WavHeader(info, 0xFFFFFFFFu);
    bool ok = fwrite(header.data(), 1, header.size(), f) == header.size();
    std::vector<uint8_t> frame(info.outputSize);
    uint32_t written = 0;
    int32_t decoded = 0;
    while (ok && offset < length && (frames < 0 || decoded < frames)) {
        MpegFrameRequest request{};
        request.input = data.data() + offset;
        request.inputSize = length - offset;
        request.output = frame.data();
        // A Layer III frame whose main data is not yet held writes nothing: silence.
        memset(frame.data(), info.bitsPerSample == 8 ? 0x80 : 0, frame.size());
        if (!decoder->DecodeFrame(&request)) {
            int32_t found = 0;
            if (!decoder->FindSync(data.data() + offset + 1, length - offset - 1, &found)) break;
            offset += 1 + found;
            continue;
        }
        offset += request.inputSize;
        ok = fwrite(frame.data(), 1, request.outputSize, f) == (size_t)request.outputSize;
        written += (uint32_t)request.outputSize;
        decoded++;
    }
    if (!toStdout) {
        header = WavHeader(info, written);
        ok = ok && fseek(f, 0, SEEK_SET) == 0 && fwrite(header.data(), 1, header.size(), f) == header.size();
        ok = (fclose(f) == 0) && ok;
        ok = ok && rename(partial.c_str(), output.c_str()) == 0;
        if (!ok) remove(partial.c_str());
    } else {
        ok = fflush(f) == 0 && ok;
    }
    if (!ok) {
        fprintf(stderr, "tonempeg: cannot write %s\n", output.c_str());
        return 1;
    }
    delete decoder;
    return 0;
}
