// toneenc: encodes 44.1 kHz 16-bit stereo WAV into the block ADPCM (".dec")
// and ADPCM stream file kinds, through the codec manager's encoder.
#include <CLI/CLI.hpp>

#include "platform/codec/acm.h"
#include "platform/codec/msadpcm.h"
#include "sources/sound_source.h"
#include "tools/tool_support.h"

static const char* kTool = "toneenc";

constexpr uint32_t kFrameBytes = 4;
constexpr uint32_t kBlockFrames = kAdpcmBlockPcmBytes / kFrameBytes;  // 20360
constexpr uint32_t kLeadInFrames = kStreamLeadInBytes / kFrameBytes;  // 1456

// Encodes frames of interleaved stereo PCM into whole ADPCM blocks (the last
// one padded) and appends them to out. Returns false when the codec refuses.
static bool EncodeFrames(const int16_t* pcm, uint32_t frames, std::vector<uint8_t>* out) {
    WAVEFORMATEX pcmFormat = {WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
    ADPCMWAVEFORMAT adpcm;
    memset(&adpcm, 0, sizeof adpcm);
    adpcm.wfx.wFormatTag = WAVE_FORMAT_ADPCM;
    if (acmFormatSuggest(nullptr, &pcmFormat, &adpcm.wfx, sizeof adpcm, ACM_FORMATSUGGESTF_WFORMATTAG))
        return false;
    HACMSTREAM stream;
    if (acmStreamOpen(&stream, nullptr, &pcmFormat, &adpcm.wfx, nullptr, 0, 0, ACM_STREAMOPENF_NONREALTIME))
        return false;
    uint32_t spb = adpcm.wSamplesPerBlock;
    uint32_t blocks = (frames + spb - 1) / spb;
    std::vector<uint8_t> dst((size_t)blocks * adpcm.wfx.nBlockAlign);
    ACMSTREAMHEADER h;
    memset(&h, 0, sizeof h);
    h.cbStruct = sizeof h;
    h.pbSrc = (BYTE*)pcm;
    h.cbSrcLength = frames * kFrameBytes;
    h.pbDst = dst.data();
    h.cbDstLength = (DWORD)dst.size();
    bool ok = acmStreamPrepareHeader(stream, &h, 0) == MMSYSERR_NOERROR &&
              acmStreamConvert(stream, &h, ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_END) ==
                  MMSYSERR_NOERROR &&
              h.cbSrcLengthUsed == h.cbSrcLength;
    acmStreamUnprepareHeader(stream, &h, 0);
    acmStreamClose(stream, 0);
    if (ok) out->insert(out->end(), dst.begin(), dst.begin() + h.cbDstLengthUsed);
    return ok;
}

static void Append32(std::vector<uint8_t>* out, uint32_t v) {
    uint8_t b[4];
    PutLe32(b, v);
    out->insert(out->end(), b, b + 4);
}

int main(int argc, char** argv) {
    CLI::App app{"Encodes 44.1 kHz 16-bit stereo WAV into the engine's ADPCM file kinds."};
    app.require_subcommand(1);
    std::string in, out;
    CLI::App* block = app.add_subcommand("block", "Block ADPCM (.dec): independently decodable blocks");
    CLI::App* stream = app.add_subcommand("stream", "ADPCM stream: length-prefixed blocks with a lead-in");
    for (CLI::App* sub : {block, stream}) {
        sub->add_option("in", in, "44.1 kHz 16-bit stereo PCM WAV")->required()->check(CLI::ExistingFile);
        sub->add_option("out", out, "file to write")->required();
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) return app.exit(e);
        return ToolFail(kTool, e.what());
    }

    std::vector<uint8_t> image;
    if (!ReadWholeFile(in, &image)) return ToolFail(kTool, in + ": cannot read");
    PcmWave wave;
    std::string err = ParseWave(image, &wave);
    if (!err.empty()) return ToolFail(kTool, in + ": " + err);
    if (wave.formatTag != 1 || wave.channels != 2 || wave.samplesPerSec != 44100 || wave.bitsPerSample != 16)
        return ToolFail(kTool, in + ": need 44100 Hz 16-bit stereo PCM (have " + std::to_string(wave.samplesPerSec) +
                                   " Hz, " + std::to_string(wave.bitsPerSample) + "-bit, " +
                                   std::to_string(wave.channels) + " channels, format " +
                                   std::to_string(wave.formatTag) + ")");
    uint32_t frames = (uint32_t)(wave.data.size() / kFrameBytes);
    if (frames == 0) return ToolFail(kTool, in + ": no audio");
    std::vector<int16_t> pcm(frames * 2);
    memcpy(pcm.data(), wave.data.data(), (size_t)frames * kFrameBytes);

    WavHeader header = WavHeader_Make(2, 44100, 16, frames * kFrameBytes);
    std::vector<uint8_t> file((uint8_t*)&header, (uint8_t*)&header + kWavHeaderBytes);
    std::vector<uint8_t> data;
    for (uint32_t first = 0; first < frames; first += kBlockFrames) {
        uint32_t count = std::min(kBlockFrames, frames - first);
        data.clear();
        if (block->parsed()) {
            if (!EncodeFrames(pcm.data() + 2 * first, count, &data)) return ToolFail(kTool, "the encoder refused");
            Append32(&file, (uint32_t)data.size());
            Append32(&file, count * kFrameBytes);
        } else {
            // The reader drops the first 5824 decoded bytes of every block: lead
            // each block in with the audio just before it, so the encoder's step
            // has settled where the block's audio begins. Before the first
            // block, the opening audio mirrored serves the same end.
            std::vector<int16_t> lead(2 * (kLeadInFrames + count), 0);
            for (uint32_t i = 0; i < kLeadInFrames; i++) {
                int64_t src = (int64_t)first - kLeadInFrames + i;
                if (src < 0) src = std::min<int64_t>(-src - 1, frames - 1);
                lead[2 * i] = pcm[2 * src];
                lead[2 * i + 1] = pcm[2 * src + 1];
            }
            memcpy(lead.data() + 2 * kLeadInFrames, pcm.data() + 2 * first, (size_t)count * kFrameBytes);
            if (!EncodeFrames(lead.data(), kLeadInFrames + count, &data))
                return ToolFail(kTool, "the encoder refused");
            Append32(&file, (uint32_t)data.size());
        }
        file.insert(file.end(), data.begin(), data.end());
    }
    if (!WriteFileAtomic(out, file)) return ToolFail(kTool, out + ": cannot write");
    return 0;
}
