// tonecat: opens NAME exactly as the engine does (the folder's archive, the
// kind by the last character) and writes the canonical stream it serves as a
// WAV file: the source's 44-byte header, with the RIFF and data lengths set
// to what was written, and the PCM read in one-second pieces as the BGM
// refill reads it, up to the stream's end.
#include <CLI/CLI.hpp>

#include "sources/sound_source.h"
#include "tools/tool_support.h"

static const char* kTool = "tonecat";

int main(int argc, char** argv) {
    CLI::App app{"Writes the canonical stream of a sound, opened as the engine opens it, as a WAV file."};
    std::string name, out;
    int64_t start = kWavHeaderBytes;
    int64_t limit = -1;
    app.add_option("name", name, "sound name as the engine gets it (e.g. se\\door.wav), relative to the current folder")
        ->required();
    app.add_option("-o,--output", out, "WAV file to write")->required();
    app.add_option("--start", start, "canonical position to start at (44 = first PCM byte)")
        ->check(CLI::Range((int64_t)kWavHeaderBytes, (int64_t)0xFFFFFFFF));
    app.add_option("--bytes", limit, "PCM bytes to read at most")->check(CLI::Range((int64_t)0, (int64_t)0x7FFFFFFF));
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) return app.exit(e);
        return ToolFail(kTool, e.what());
    }

    char text[1024];
    if (!Text_Utf8ToCp932(name.c_str(), text, sizeof text))
        return ToolFail(kTool, name + ": not representable in the system's code page");
    SoundSource source;
    memset(&source, 0, sizeof source);
    source.Reset();
    if (!source.PrepareCodecs(0)) return ToolFail(kTool, "cannot allocate the codec buffers");
    if (!source.Open(text)) {
        source.Destroy();
        return ToolFail(kTool, name + ": cannot open (missing, not in its folder's archive, or refused by its kind)");
    }
    WavHeader header;
    memset(&header, 0, sizeof header);
    source.Seek(0);
    if (!source.Read(&header, kWavHeaderBytes)) {
        source.Close();
        source.Destroy();
        return ToolFail(kTool, name + ": the source serves no header");
    }

    uint32_t piece = header.bytesPerSec >= 4 && header.bytesPerSec <= 0x1000000 ? header.bytesPerSec : 176400;
    std::vector<uint8_t> pcm;
    std::vector<uint8_t> buffer(piece);
    // totalSize is the canonical stream's length, header included, except
    // for PCM WAV, whose totalSize counts the PCM bytes alone. A source that
    // runs out earlier shows it by delivering less.
    uint64_t end = source.totalSize;
    if (source.isPcmWave) end += kWavHeaderBytes;
    if (limit >= 0 && (uint64_t)start + (uint64_t)limit < end) end = (uint64_t)start + limit;
    source.Seek((uint32_t)start);
    uint32_t pos = (uint32_t)start;
    while (pos < end) {
        uint32_t want = (uint32_t)std::min<uint64_t>(piece, end - pos);
        int32_t ok = source.Read(buffer.data(), want);
        // What was delivered shows in the position, also after a failed read.
        uint32_t now = source.Tell();
        uint32_t got = now > pos ? std::min(now - pos, want) : 0;
        pcm.insert(pcm.end(), buffer.begin(), buffer.begin() + got);
        pos += got;
        if (!ok || got == 0) break;
    }
    source.Close();
    source.Destroy();

    uint32_t data = (uint32_t)pcm.size();
    if (data & 1) pcm.push_back(0);  // RIFF pads odd chunks; the pad is not data
    header.riffLength = 36 + (uint32_t)pcm.size();
    header.dataLength = data;
    std::vector<uint8_t> file((uint8_t*)&header, (uint8_t*)&header + kWavHeaderBytes);
    file.insert(file.end(), pcm.begin(), pcm.end());
    if (!WriteFileAtomic(out, file)) return ToolFail(kTool, out + ": cannot write");
    return 0;
}
