// toneseal: enciphers effect files and signs block ADPCM files under the base
// name of the file they are written to, and verifies both.
#include <CLI/CLI.hpp>

#include "sources/sound_source.h"
#include "tools/tool_support.h"

static const char* kTool = "toneseal";

static char LastChar(const std::string& path) { return path.empty() ? 0 : path.back(); }

static int Encipher(const std::string& in, const std::string& out) {
    char c = LastChar(out);
    if (c != 'm' && c != 'M') return ToolFail(kTool, out + ": an enciphered file's name must end in 'm'");
    std::vector<uint8_t> image;
    if (!ReadWholeFile(in, &image)) return ToolFail(kTool, in + ": cannot read");
    PcmWave wave;
    std::string err = ParseWave(image, &wave);
    if (!err.empty()) return ToolFail(kTool, in + ": " + err);
    if (wave.formatTag != 1) return ToolFail(kTool, in + ": not PCM");
    if (image.size() > 0x7FFFFFFF - kCipherTrailerBytes) return ToolFail(kTool, in + ": too large");
    std::string base;
    if (!BaseNameOf(out, &base)) return ToolFail(kTool, out + ": name is not valid text");
    int32_t sum, xr;
    int32_t length = (int32_t)image.size();
    Cipher_CheckValues(image.data(), length, &sum, &xr);
    DecipherSound(image.data(), length, base.data(), 0, 0);  // the transform is its own inverse
    uint8_t trailer[kCipherTrailerBytes] = {};
    PutLe32(trailer + 4, (uint32_t)sum);
    PutLe32(trailer + 8, (uint32_t)xr);
    image.insert(image.end(), trailer, trailer + kCipherTrailerBytes);
    if (!WriteFileAtomic(out, image)) return ToolFail(kTool, out + ": cannot write");
    return 0;
}

static int Sign(const std::string& in, const std::string& out) {
    if (LastChar(out) != '2') return ToolFail(kTool, out + ": a signed file's name must end in '2'");
    std::vector<uint8_t> image;
    if (!ReadWholeFile(in, &image)) return ToolFail(kTool, in + ": cannot read");
    if (image.size() < kWavHeaderBytes + 8 || memcmp(image.data(), "RIFF", 4) != 0)
        return ToolFail(kTool, in + ": not a block ADPCM file");
    int32_t first = Le32(image.data() + kWavHeaderBytes);
    if (first <= 0 || first > (int32_t)kCodecSrcBytes) return ToolFail(kTool, in + ": not a block ADPCM file");
    std::string base;
    if (!BaseNameOf(out, &base)) return ToolFail(kTool, out + ": name is not valid text");
    int32_t sum, xr;
    NameSignature_Values(base.data(), &sum, &xr);
    uint8_t head[kSignedHeaderBytes] = {};
    PutLe32(head, (uint32_t)sum);
    PutLe32(head + 4, (uint32_t)xr);
    PutLe32(head + 12, (uint32_t)(0 ^ xr));  // the image follows the header directly
    image.insert(image.begin(), head, head + kSignedHeaderBytes);
    if (!WriteFileAtomic(out, image)) return ToolFail(kTool, out + ": cannot write");
    return 0;
}

static int Verify(const std::string& path) {
    std::vector<uint8_t> image;
    if (!ReadWholeFile(path, &image)) return ToolFail(kTool, path + ": cannot read");
    std::string base;
    if (!BaseNameOf(path, &base)) return ToolFail(kTool, path + ": name is not valid text");
    char c = LastChar(path);
    if (c == 'm' || c == 'M') {
        if (image.size() < (size_t)kCipherTrailerBytes || image.size() > 0x7FFFFFFF)
            return ToolFail(kTool, path + ": too short for an enciphered file");
        int32_t length = (int32_t)image.size() - kCipherTrailerBytes;
        const uint8_t* trailer = image.data() + length;
        if (!DecipherSound(image.data(), length, base.data(), Le32(trailer + 4), Le32(trailer + 8)))
            return ToolFail(kTool, path + ": cipher check failed");
        printf("%s: cipher check passed\n", path.c_str());
        return 0;
    }
    if (c == '2') {
        if (image.size() < (size_t)kSignedHeaderBytes) return ToolFail(kTool, path + ": too short for a signed file");
        if (!CheckNameSignature(base.data(), Le32(image.data()), Le32(image.data() + 4)))
            return ToolFail(kTool, path + ": name signature does not match");
        printf("%s: name signature matches\n", path.c_str());
        return 0;
    }
    return ToolFail(kTool, path + ": neither enciphered (name ends in 'm') nor signed (ends in '2')");
}

int main(int argc, char** argv) {
    CLI::App app{"Enciphers effect files and signs block ADPCM files under their base name; verifies both."};
    app.require_subcommand(1);
    std::string in, out;
    CLI::App* encipher = app.add_subcommand("encipher", "Encipher a PCM WAV file for the name OUT");
    encipher->add_option("in", in, "PCM WAV file")->required()->check(CLI::ExistingFile);
    encipher->add_option("out", out, "enciphered file (name ends in 'm')")->required();
    CLI::App* sign = app.add_subcommand("sign", "Sign a block ADPCM file for the name OUT");
    sign->add_option("in", in, "block ADPCM file")->required()->check(CLI::ExistingFile);
    sign->add_option("out", out, "signed file (name ends in '2')")->required();
    CLI::App* verify = app.add_subcommand("verify", "Check an enciphered or signed file against its name");
    verify->add_option("file", in, "file to check")->required()->check(CLI::ExistingFile);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) return app.exit(e);
        return ToolFail(kTool, e.what());
    }
    if (encipher->parsed()) return Encipher(in, out);
    if (sign->parsed()) return Sign(in, out);
    return Verify(in);
}
