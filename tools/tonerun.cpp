// tonerun: plays a session script of engine calls on the virtual clock and
// writes everything the sound device rendered as a 44100 Hz stereo WAV file.
// Each call's result is printed as it is made. With --play, the written mix
// is then played through the system's sound device in real time.
//
// Time: the script's @0 is the first output frame. The virtual tick count
// starts at kClockStart, not 0, so that queued effects are not taken for
// stale ones in the first second. Calls at a time run after the sound up to
// that time has been rendered and the ticks due by then have run.
#include <CLI/CLI.hpp>

#include <sys/stat.h>

#include "include/tonecore.h"
#include "platform/audio/audio_output.h"
#include "platform/audio/dsound.h"
#include "platform/clock.h"
#include "platform/timer.h"
#include "tools/tonerun_script.h"
#include "tools/tool_support.h"

static const char* kTool = "tonerun";

constexpr DWORD kClockStart = 100000;
// A script without "end" renders this long after its last call.
constexpr uint32_t kTailMs = 2000;
// The window handle handed to Init(): any non-null value will do.
static HWND const kWindow = reinterpret_cast<HWND>(0x7001);

// The call as the server's log would write it (%d, %f, names unquoted; "-"
// for a null pointer).
static std::string FormatCall(const ScriptLine& line) {
    const ScriptCallSpec& spec = kScriptCalls[line.call];
    std::string text = std::string(spec.name) + "(";
    char piece[64];
    if (line.hasWindow) {
        snprintf(piece, sizeof piece, "%d", line.args[0].i);
        return text + piece + ")";
    }
    for (int k = 0; k < line.argCount; k++) {
        if (line.unpositioned && k == 6) break;  // the log's short form has no scale
        if (k) text += ",";
        const ScriptArg& a = line.args[k];
        switch (spec.kinds[k]) {
        case 'i': snprintf(piece, sizeof piece, "%d", a.i); break;
        case 'f': snprintf(piece, sizeof piece, "%f", (double)a.f); break;
        case 'p':
            if (line.unpositioned) snprintf(piece, sizeof piece, "0");
            else if (a.null) snprintf(piece, sizeof piece, "-");
            else snprintf(piece, sizeof piece, "%f", (double)a.f);
            break;
        case 's': text += line.name; continue;
        }
        text += piece;
    }
    return text + ")";
}

static const float* Ptr(const ScriptLine& line, int k) { return line.args[k].null ? nullptr : &line.args[k].f; }

// Makes one call. Returns false for a call without a result (SetLoopPos).
static bool Call(const ScriptLine& l, int64_t* result) {
    const ScriptArg* a = l.args;
    const char* name = l.nameCp932.c_str();
    switch (l.call) {
    case kCallInit: *result = IInit(l.hasWindow ? reinterpret_cast<void*>((intptr_t)a[0].i) : kWindow); break;
    case kCallRelease: *result = IRelease(); break;
    case kCallReInit: *result = IReInit(); break;
    case kCallReset: *result = IReset(); break;
    case kCallTimeGetTime: *result = ITimeGetTime(); break;
    case kCallSetPlayer: *result = ISetPlayer(); break;
    case kCallEnter: *result = IEnter(); break;
    case kCallLeave: *result = ILeave(); break;
    case kCallSetMem: *result = ISetMem(a[0].i, a[1].i); break;
    case kCallPlay: *result = IPlay(a[0].i, name, a[2].i, a[3].i, a[4].i, a[5].i); break;
    case kCallPlayFade: *result = IPlayFade(a[0].i, name, a[2].i, a[3].i, a[4].i, a[5].i); break;
    case kCallPlayFadeEx: *result = IPlayFadeEx(a[0].i, name, a[2].i, a[3].i, a[4].i, a[5].i, a[6].i); break;
    case kCallPlayB: *result = IPlayB(a[0].i, name, a[2].i, a[3].i, a[4].i, a[5].i); break;
    case kCallPlayFadeB: *result = IPlayFadeB(a[0].i, name, a[2].i, a[3].i, a[4].i, a[5].i); break;
    case kCallPlayFadeBEx: *result = IPlayFadeBEx(a[0].i, name, a[2].i, a[3].i, a[4].i, a[5].i, a[6].i); break;
    case kCallPlayStop: *result = IPlayStop(a[0].i); break;
    case kCallFadeOut: *result = IFadeOut(a[0].i); break;
    case kCallFadeOutEx: *result = IFadeOutEx(a[0].i, a[1].i); break;
    case kCallVolFade: *result = IVolFade(a[0].i, a[1].i, a[2].i); break;
    case kCallSetBGMVol: *result = ISetBGMVol(a[0].i); break;
    case kCallSetLoopPos: ISetLoopPos(a[0].i, a[1].i, a[2].i); return false;
    case kCallGetPos: *result = IGetPos(a[0].i); break;
    case kCallPlaySE:
        *result = IPlaySE(name, Ptr(l, 1), Ptr(l, 2), Ptr(l, 3), a[4].i, a[5].i, a[6].f);
        break;
    case kCallPlaySEB:
        *result = IPlaySEB(name, Ptr(l, 1), Ptr(l, 2), Ptr(l, 3), a[4].i, a[5].i, a[6].f);
        break;
    case kCallStopSE: *result = IStopSE(a[0].i); break;
    case kCallStopAllSE: *result = IStopAllSE(); break;
    case kCallSetSEVol: *result = ISetSEVol(a[0].i); break;
    case kCallSetSEVolume: *result = ISetSEVolume(a[0].i, a[1].i); break;
    case kCallSetSEPos:
        *result = ISetSEPos(a[0].i, Ptr(l, 1), Ptr(l, 2), Ptr(l, 3), Ptr(l, 4), Ptr(l, 5), Ptr(l, 6));
        break;
    case kCallSetListen:
        *result = ISetListen(a[0].f, a[1].f, a[2].f, a[3].f, a[4].f, a[5].f, a[6].f, a[7].f, a[8].f, a[9].f);
        break;
    case kCallMixOpen: *result = MixOpen(); break;
    case kCallMixClose: *result = MixClose(); break;
    case kCallGetParam: *result = GetParam(a[0].i, a[1].i); break;
    case kCallSetParam: *result = SetParam(a[0].i, a[1].i, a[2].i); break;
    default: return false;
    }
    return true;
}

static uint64_t FileSize(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? (uint64_t)st.st_size : 0;
}

// Runs the script into the WAV file out (written under a temporary name and
// renamed when complete).
static int RunScript(const Script& script, const std::string& out) {
    uint32_t endMs = script.hasEnd ? script.endMs : (script.lines.empty() ? 0 : script.lines.back().ms) + kTailMs;
    std::string temp = out + ".partial";
    Clock_UseVirtual(kClockStart);
    if (!AudioOutput_Open(("wav:" + temp).c_str())) return ToolFail(kTool, out + ": cannot create");

    // While the script holds the BGM lock (Enter), the tick would wait for it
    // on its own thread; here it shares ours, so it is held back instead.
    int entered = 0;
    uint32_t now = 0;
    for (const ScriptLine& line : script.lines) {
        Clock_Advance(line.ms - now);
        now = line.ms;
        int64_t result = 0;
        bool hasResult = Call(line, &result);
        if (line.call == kCallEnter && result == 1) entered++;
        if (line.call == kCallLeave && result == 1 && entered > 0) entered--;
        if (line.call == kCallRelease) entered = 0;
        Timer_SetStalled(entered > 0);
        std::string text = "@" + std::to_string(line.ms) + " " + FormatCall(line);
        if (hasResult) text += " = " + std::to_string(result);
        printf("%s\n", text.c_str());
    }
    Clock_Advance(endMs - now);
    fflush(stdout);
    while (entered-- > 0) ILeave();
    Timer_SetStalled(false);
    IRelease();
    AudioOutput_Close();

    uint64_t frames = (uint64_t)endMs * kOutputRate / 1000;
    if (FileSize(temp) != 44 + frames * 4 || rename(temp.c_str(), out.c_str()) != 0) {
        remove(temp.c_str());
        return ToolFail(kTool, out + ": cannot write");
    }
    return 0;
}

// Plays a 16-bit PCM WAV file through the sound device in real time. Returns
// false, with the reason, when there is no device to play on.
static bool PlayWave(const std::string& path, std::string* why) {
    std::vector<uint8_t> image;
    PcmWave wave;
    if (!ReadWholeFile(path, &image)) return *why = path + ": cannot read", false;
    std::string error = ParseWave(image, &wave);
    if (!error.empty()) return *why = path + ": " + error, false;
    if (wave.formatTag != WAVE_FORMAT_PCM || wave.bitsPerSample != 16 || wave.channels < 1 || wave.channels > 2)
        return *why = path + ": not 16-bit PCM", false;
    size_t block = (size_t)wave.channels * 2;
    wave.data.resize(wave.data.size() / block * block);
    if (wave.data.size() < DSBSIZE_MIN || wave.data.size() > DSBSIZE_MAX) return *why = path + ": no sound to play", false;

    Clock_UseReal();
    if (!AudioOutput_Open("sdl") || strcmp(AudioOutput_Name(), "sdl") != 0) {
        AudioOutput_Close();
        return *why = "no sound device", false;
    }
    IDirectSound8* device = nullptr;
    if (DirectSoundCreate8(nullptr, &device, nullptr) != DS_OK) {
        AudioOutput_Close();
        return *why = "no sound device", false;
    }
    device->SetCooperativeLevel(kWindow, DSSCL_PRIORITY);
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = (WORD)wave.channels;
    format.nSamplesPerSec = (DWORD)wave.samplesPerSec;
    format.nBlockAlign = (WORD)block;
    format.nAvgBytesPerSec = format.nSamplesPerSec * format.nBlockAlign;
    format.wBitsPerSample = 16;
    DSBUFFERDESC desc{};
    desc.dwSize = sizeof desc;
    desc.dwFlags = DSBCAPS_GETCURRENTPOSITION2 | DSBCAPS_GLOBALFOCUS;
    desc.dwBufferBytes = (DWORD)wave.data.size();
    desc.lpwfxFormat = &format;
    IDirectSoundBuffer* buffer = nullptr;
    bool played = false;
    if (device->CreateSoundBuffer(&desc, &buffer, nullptr) == DS_OK) {
        void* p1 = nullptr;
        void* p2 = nullptr;
        DWORD n1 = 0, n2 = 0;
        if (buffer->Lock(0, desc.dwBufferBytes, &p1, &n1, &p2, &n2, 0) == DS_OK) {
            memcpy(p1, wave.data.data(), n1);
            if (p2) memcpy(p2, wave.data.data() + n1, n2);
            buffer->Unlock(p1, n1, p2, n2);
            played = buffer->Play(0, 0, 0) == DS_OK;
            DWORD status = DSBSTATUS_PLAYING;
            while (played && buffer->GetStatus(&status) == DS_OK && (status & DSBSTATUS_PLAYING)) Sleep(50);
        }
        buffer->Release();
    }
    device->Release();
    AudioOutput_Close();
    if (!played) *why = "the sound device refused the buffer";
    return played;
}

int main(int argc, char** argv) {
    CLI::App app{
        "Runs a script of engine calls on the virtual clock and writes the mix as a 44100 Hz stereo WAV file.\n"
        "A line is '@<ms> <Call>(<args>)', e.g. '@0 PlayB(0,bgm\\ed01.wav,0,0,-1,1)', or '@<ms> end';\n"
        "'#' starts a comment line. Calls are the exports without their leading I, arguments in their order;\n"
        "pointer arguments (effect positions) are a float or '-' for null. Init() gets a window from tonerun.\n"
        "Without 'end' the render stops 2000 ms after the last call. Sound names resolve against the\n"
        "current folder."};
    std::string scriptPath, out;
    bool play = false;
    app.add_option("script", scriptPath, "the session script")->required();
    app.add_option("-o,--output", out, "WAV file to write")->required();
    app.add_flag("--play", play, "then play the WAV file through the sound device in real time");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) return app.exit(e);
        return ToolFail(kTool, e.what());
    }

    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(scriptPath, &bytes)) return ToolFail(kTool, scriptPath + ": cannot read");
    Script script;
    std::string error;
    if (!Script_Parse(std::string(bytes.begin(), bytes.end()), &script, &error))
        return ToolFail(kTool, scriptPath + ": " + error);

    int status = RunScript(script, out);
    if (status != 0 || !play) return status;
    if (!PlayWave(out, &error)) {
        fprintf(stderr, "%s: %s; not played (the mix is in %s)\n", kTool, error.c_str(), out.c_str());
    }
    return 0;
}
