// The session script that tonerun plays: one engine call per line,
//
//   @<ms> <Call>(<args>)      e.g. @0 PlayB(0,bgm\ed01.wav,0,0,-1,1)
//   @<ms> end                 closes the render at that time
//   # comment
//
// Calls are the engine's exports without their leading "I" (the "I" may be
// written too) with the arguments in the export's order, written as the
// sound server's call log writes them: names unquoted, integers in decimal,
// floats in C syntax. An argument passed by pointer (effect positions and
// velocities) is a number or "-" for a null pointer. PlaySE and PlaySEB also
// take the log's form of an effect without position, "PlaySE(name,0,0,0,0,loop)"
// (those four zeros exactly): null position pointers and, as the log does not
// show it, scale 1.
//
// The whole script is parsed before anything runs, so a bad line is refused
// with its number and nothing is played.
#pragma once

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/text.h"

enum ScriptCallId {
    kCallInit, kCallRelease, kCallReInit, kCallReset, kCallTimeGetTime, kCallSetPlayer,
    kCallEnter, kCallLeave, kCallSetMem,
    kCallPlay, kCallPlayFade, kCallPlayFadeEx, kCallPlayB, kCallPlayFadeB, kCallPlayFadeBEx,
    kCallPlayStop, kCallFadeOut, kCallFadeOutEx, kCallVolFade, kCallSetBGMVol, kCallSetLoopPos,
    kCallGetPos,
    kCallPlaySE, kCallPlaySEB, kCallStopSE, kCallStopAllSE, kCallSetSEVol, kCallSetSEVolume,
    kCallSetSEPos, kCallSetListen,
    kCallMixOpen, kCallMixClose, kCallGetParam, kCallSetParam,
    kCallCount
};

// Argument kinds: i 32-bit integer, s sound name, p float by pointer (or
// null), f float by value.
struct ScriptCallSpec {
    const char* name;
    const char* kinds;
    const char* usage;  // argument names, for the error message
};

static const ScriptCallSpec kScriptCalls[kCallCount] = {
    {"Init", "", ""},
    {"Release", "", ""},
    {"ReInit", "", ""},
    {"Reset", "", ""},
    {"TimeGetTime", "", ""},
    {"SetPlayer", "", ""},
    {"Enter", "", ""},
    {"Leave", "", ""},
    {"SetMem", "ii", "bgm mode, effect mode"},
    {"Play", "isiiii", "slot, name, start, loop start, end, loop"},
    {"PlayFade", "isiiii", "slot, name, start, loop start, end, loop"},
    {"PlayFadeEx", "isiiiii", "slot, name, start, loop start, end, loop, fade ms"},
    {"PlayB", "isiiii", "slot, name, start, loop start, end, loop"},
    {"PlayFadeB", "isiiii", "slot, name, start, loop start, end, loop"},
    {"PlayFadeBEx", "isiiiii", "slot, name, start, loop start, end, loop, fade ms"},
    {"PlayStop", "i", "slot"},
    {"FadeOut", "i", "slot"},
    {"FadeOutEx", "ii", "slot, ms"},
    {"VolFade", "iii", "slot, level, ms"},
    {"SetBGMVol", "i", "level"},
    {"SetLoopPos", "iii", "slot, loop start, end"},
    {"GetPos", "i", "slot"},
    {"PlaySE", "spppiif", "name, x, y, z, kind, loop, scale"},
    {"PlaySEB", "spppiif", "name, x, y, z, kind, loop, scale"},
    {"StopSE", "i", "channel"},
    {"StopAllSE", "", ""},
    {"SetSEVol", "i", "level"},
    {"SetSEVolume", "ii", "channel, level"},
    {"SetSEPos", "ipppppp", "channel, x, y, z, vx, vy, vz"},
    {"SetListen", "ffffffffff", "rolloff, x, y, z, front x, y, z, top x, y, z"},
    {"MixOpen", "", ""},
    {"MixClose", "", ""},
    {"GetParam", "ii", "group, index"},
    {"SetParam", "iii", "group, index, value"},
};

constexpr int kScriptMaxArgs = 10;
// The server's text area holds 1024 bytes with the NUL: the longest name a
// game can pass.
constexpr size_t kScriptMaxName = 1023;
// The output is one WAV file, whose 32-bit lengths hold about 6.7 hours.
constexpr uint32_t kScriptMaxMs = 6u * 3600u * 1000u;

struct ScriptArg {
    int32_t i;
    float f;
    bool null;  // a pointer argument given as "-"
};

struct ScriptLine {
    int lineNumber;
    uint32_t ms;
    int call;             // ScriptCallId
    bool unpositioned;    // PlaySE/PlaySEB in the log's form without position
    bool hasWindow;       // Init(N): the window handle N as the server logs it
    int argCount;
    ScriptArg args[kScriptMaxArgs];
    std::string name;     // as written (UTF-8)
    std::string nameCp932;
};

struct Script {
    std::vector<ScriptLine> lines;
    bool hasEnd = false;
    uint32_t endMs = 0;
};

inline std::string ScriptTrim(const std::string& s) {
    size_t a = s.find_first_not_of(" \t");
    if (a == std::string::npos) return "";
    size_t b = s.find_last_not_of(" \t");
    return s.substr(a, b - a + 1);
}

inline bool ScriptParseInt(const std::string& text, int32_t* out) {
    std::string t = ScriptTrim(text);
    if (t.empty()) return false;
    errno = 0;
    char* end = nullptr;
    long long v = strtoll(t.c_str(), &end, 10);
    if (errno || *end || v < INT32_MIN || v > INT32_MAX) return false;
    *out = (int32_t)v;
    return true;
}

// C float syntax, with an optional f suffix after a digit or a point.
inline bool ScriptParseFloat(const std::string& text, float* out) {
    std::string t = ScriptTrim(text);
    bool hex = t.find_first_of("xX") != std::string::npos;
    if (t.size() > 1 && !hex && (t.back() == 'f' || t.back() == 'F') &&
        (isdigit((unsigned char)t[t.size() - 2]) || t[t.size() - 2] == '.'))
        t.pop_back();
    if (t.empty()) return false;
    errno = 0;
    char* end = nullptr;
    float v = strtof(t.c_str(), &end);
    if (*end || (errno == ERANGE && std::isinf(v))) return false;
    *out = v;
    return true;
}

// The mixer exports have no leading "I"; every other call may be written
// with it.
inline bool ScriptIsMixerCall(int c) {
    return c == kCallMixOpen || c == kCallMixClose || c == kCallGetParam || c == kCallSetParam;
}

inline int ScriptFindCall(const std::string& name) {
    for (int c = 0; c < kCallCount; c++)
        if (name == kScriptCalls[c].name) return c;
    if (name.size() > 1 && name[0] == 'I')
        for (int c = 0; c < kCallCount; c++)
            if (!ScriptIsMixerCall(c) && name.compare(1, std::string::npos, kScriptCalls[c].name) == 0) return c;
    return -1;
}

// Splits inner into the arguments of kinds. The one name argument may hold
// commas: the arguments before it end at the first commas, those after it
// start at the last ones.
inline bool ScriptSplit(const std::string& inner, const char* kinds, std::vector<std::string>* parts) {
    parts->clear();
    size_t n = strlen(kinds);
    if (n == 0) return ScriptTrim(inner).empty();
    const char* s = strchr(kinds, 's');
    if (!s) {
        size_t at = 0;
        for (;;) {
            size_t comma = inner.find(',', at);
            parts->push_back(inner.substr(at, comma == std::string::npos ? std::string::npos : comma - at));
            if (comma == std::string::npos) break;
            at = comma + 1;
        }
        return parts->size() == n;
    }
    size_t before = (size_t)(s - kinds), after = n - before - 1;
    size_t at = 0;
    for (size_t k = 0; k < before; k++) {
        size_t comma = inner.find(',', at);
        if (comma == std::string::npos) return false;
        parts->push_back(inner.substr(at, comma - at));
        at = comma + 1;
    }
    std::vector<std::string> tail;
    size_t stop = inner.size();
    for (size_t k = 0; k < after; k++) {
        size_t comma = stop == 0 ? std::string::npos : inner.rfind(',', stop - 1);
        if (comma == std::string::npos || comma < at) return false;
        tail.insert(tail.begin(), inner.substr(comma + 1, stop - comma - 1));
        stop = comma;
    }
    parts->push_back(inner.substr(at, stop - at));
    parts->insert(parts->end(), tail.begin(), tail.end());
    return true;
}

// Reads the arguments of one call into line; an error text, empty when fine.
inline std::string ScriptReadArgs(const std::string& inner, const char* kinds, ScriptLine* line) {
    std::vector<std::string> parts;
    if (!ScriptSplit(inner, kinds, &parts)) return "wrong number of arguments";
    line->argCount = (int)parts.size();
    for (size_t k = 0; k < parts.size(); k++) {
        ScriptArg& a = line->args[k];
        a = ScriptArg{0, 0.0f, false};
        const std::string& text = parts[k];
        switch (kinds[k]) {
        case 'i':
            if (!ScriptParseInt(text, &a.i)) return "argument " + std::to_string(k + 1) + " is not a 32-bit integer: '" + ScriptTrim(text) + "'";
            break;
        case 'f':
            if (!ScriptParseFloat(text, &a.f)) return "argument " + std::to_string(k + 1) + " is not a float: '" + ScriptTrim(text) + "'";
            break;
        case 'p':
            if (ScriptTrim(text) == "-") {
                a.null = true;
            } else if (!ScriptParseFloat(text, &a.f)) {
                return "argument " + std::to_string(k + 1) + " is neither a float nor '-': '" + ScriptTrim(text) + "'";
            }
            break;
        case 's': {
            line->name = ScriptTrim(text);
            if (line->name.empty()) return "empty sound name";
            char cp932[kScriptMaxName + 1];
            if (line->name.size() > kScriptMaxName) return "sound name longer than " + std::to_string(kScriptMaxName) + " bytes";
            if (!Text_Utf8ToCp932(line->name.c_str(), cp932, sizeof cp932))
                return "sound name not representable in code page 932 (or too long)";
            line->nameCp932 = cp932;
            break;
        }
        }
    }
    return "";
}

// Parses one non-comment line; an error text, empty when fine. isEnd is set
// for "@<ms> end".
inline std::string ScriptParseLine(const std::string& text, ScriptLine* line, bool* isEnd) {
    *isEnd = false;
    if (text[0] != '@') return "a line starts with @<ms>";
    size_t at = 1;
    uint64_t ms = 0;
    if (at >= text.size() || !isdigit((unsigned char)text[at])) return "a line starts with @<ms>";
    while (at < text.size() && isdigit((unsigned char)text[at])) {
        ms = ms * 10 + (uint64_t)(text[at++] - '0');
        if (ms > kScriptMaxMs) return "time beyond " + std::to_string(kScriptMaxMs) + " ms (6 hours, the WAV output's limit)";
    }
    if (at >= text.size() || (text[at] != ' ' && text[at] != '\t')) return "expected a space after @<ms>";
    line->ms = (uint32_t)ms;
    std::string rest = ScriptTrim(text.substr(at));
    if (rest == "end") {
        *isEnd = true;
        return "";
    }
    size_t open = rest.find('(');
    if (open == std::string::npos || rest.back() != ')') return "expected <Call>(<args>) or end";
    std::string callName = ScriptTrim(rest.substr(0, open));
    std::string inner = rest.substr(open + 1, rest.size() - open - 2);
    line->call = ScriptFindCall(callName);
    if (line->call < 0) return "unknown call '" + callName + "'";
    const ScriptCallSpec& spec = kScriptCalls[line->call];
    line->unpositioned = false;
    line->hasWindow = false;
    line->argCount = 0;
    if (line->call == kCallInit && !ScriptTrim(inner).empty()) {
        // The server logs Init with the game's window handle.
        std::string error = ScriptReadArgs(inner, "i", line);
        if (!error.empty()) return "Init takes no argument or a window handle: " + error;
        line->hasWindow = true;
        return "";
    }
    std::string error = ScriptReadArgs(inner, spec.kinds, line);
    if (!error.empty() && (line->call == kCallPlaySE || line->call == kCallPlaySEB)) {
        // The log's form of an effect without position, exactly as the
        // server writes it: name,0,0,0,0,loop.
        std::vector<std::string> parts;
        bool logForm = ScriptSplit(inner, "spppii", &parts);
        for (int k = 1; logForm && k <= 4; k++) logForm = ScriptTrim(parts[k]) == "0";
        if (logForm && ScriptReadArgs(inner, "spppii", line).empty()) {
            line->unpositioned = true;
            line->argCount = 7;
            for (int k = 1; k <= 3; k++) line->args[k].null = true;
            line->args[6] = ScriptArg{0, 1.0f, false};
            return "";
        }
    }
    if (!error.empty()) {
        if (error == "wrong number of arguments")
            return spec.usage[0] ? callName + " takes (" + spec.usage + ")" : callName + " takes no arguments";
        return callName + ": " + error;
    }
    return "";
}

// Parses a whole script; on failure returns false with "line N: reason".
inline bool Script_Parse(const std::string& text, Script* script, std::string* error) {
    script->lines.clear();
    script->hasEnd = false;
    script->endMs = 0;
    uint32_t last = 0;
    int number = 0;
    size_t at = 0;
    while (at < text.size()) {
        size_t nl = text.find('\n', at);
        std::string raw = text.substr(at, nl == std::string::npos ? std::string::npos : nl - at);
        at = nl == std::string::npos ? text.size() : nl + 1;
        number++;
        if (!raw.empty() && raw.back() == '\r') raw.pop_back();
        if (raw.find('\0') != std::string::npos) {
            *error = "line " + std::to_string(number) + ": NUL byte in the line";
            return false;
        }
        std::string line = ScriptTrim(raw);
        if (line.empty() || line[0] == '#') continue;
        ScriptLine parsed{};
        parsed.lineNumber = number;
        bool isEnd = false;
        std::string why = ScriptParseLine(line, &parsed, &isEnd);
        if (why.empty() && script->hasEnd) why = "nothing may follow end";
        if (why.empty() && parsed.ms < last)
            why = "time " + std::to_string(parsed.ms) + " ms is before the previous line's " + std::to_string(last) + " ms";
        if (!why.empty()) {
            *error = "line " + std::to_string(number) + ": " + why;
            return false;
        }
        last = parsed.ms;
        if (isEnd) {
            script->hasEnd = true;
            script->endMs = parsed.ms;
        } else {
            script->lines.push_back(parsed);
        }
    }
    return true;
}
