// The Windows scalar types, results and records the system's code is written
// against. Numeric values are the platform's own, so that a test can assert
// the exact flags and codes the engine passes.
#pragma once

#include <cstddef>
#include <cstdint>

typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef uint16_t WORD;
typedef uint8_t BYTE;
typedef int32_t BOOL;
typedef uint32_t UINT;
typedef int32_t HRESULT;
typedef uint32_t MMRESULT;
typedef uintptr_t DWORD_PTR;
typedef float D3DVALUE;
typedef void* HWND;  // an opaque window handle, pointer-sized

struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
typedef const GUID& REFIID;
typedef const GUID& REFGUID;

inline bool IsEqualGUID(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; i++)
        if (a.Data4[i] != b.Data4[i]) return false;
    return true;
}

constexpr GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOINTERFACE = (HRESULT)0x80004002u;
constexpr HRESULT E_POINTER = (HRESULT)0x80004003u;
constexpr HRESULT E_FAIL = (HRESULT)0x80004005u;
constexpr HRESULT E_OUTOFMEMORY = (HRESULT)0x8007000Eu;
constexpr HRESULT E_INVALIDARG = (HRESULT)0x80070057u;

inline bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
inline bool FAILED(HRESULT hr) { return hr < 0; }

#pragma pack(push, 1)
// The 18-byte wave format record (tag, channels, rate, bytes/s, block align,
// bits, extra size); extra bytes of a codec format follow it directly.
struct WAVEFORMATEX {
    WORD wFormatTag;
    WORD nChannels;
    DWORD nSamplesPerSec;
    DWORD nAvgBytesPerSec;
    WORD nBlockAlign;
    WORD wBitsPerSample;
    WORD cbSize;
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == 18);

constexpr WORD WAVE_FORMAT_PCM = 1;
constexpr WORD WAVE_FORMAT_ADPCM = 2;
