/* tonecore: the sound engine's public interface.
 *
 * Every function returns a 32-bit signed result unless noted: 1 done, 0 refused
 * or failed; queued functions return -1 for "taken". Levels run from 0 (full
 * volume) to 10000 (silence). Slots are BGM slots 0 and 1. Names are
 * NUL-terminated code page 932 text of at most 255 characters.
 */
#ifndef TONECORE_H
#define TONECORE_H

#include <stdint.h>

#if defined(_WIN32)
#define TONE_API __declspec(dllexport)
#define TONE_CALL __cdecl
#else
#define TONE_API __attribute__((visibility("default")))
#define TONE_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Life cycle and status. */
TONE_API int32_t TONE_CALL IInit(void* window);
TONE_API int32_t TONE_CALL IRelease(void);
TONE_API int32_t TONE_CALL IReInit(void);
TONE_API int32_t TONE_CALL IReset(void);
TONE_API uint32_t TONE_CALL ITimeGetTime(void);
TONE_API int32_t TONE_CALL ISetPlayer(void);
TONE_API int32_t TONE_CALL IEnter(void);
TONE_API int32_t TONE_CALL ILeave(void);
TONE_API int32_t TONE_CALL ISetMem(int32_t bgmMode, int32_t effectMode);

/* Music. Frames are sample frames; an end frame below 0 means "to the end". */
TONE_API int32_t TONE_CALL IPlay(int32_t slot, const char* name, int32_t startFrame,
                                 int32_t loopStartFrame, int32_t endFrame, int32_t loop);
TONE_API int32_t TONE_CALL IPlayFade(int32_t slot, const char* name, int32_t startFrame,
                                     int32_t loopStartFrame, int32_t endFrame, int32_t loop);
TONE_API int32_t TONE_CALL IPlayFadeEx(int32_t slot, const char* name, int32_t startFrame,
                                       int32_t loopStartFrame, int32_t endFrame, int32_t loop,
                                       int32_t fadeMs);
TONE_API int32_t TONE_CALL IPlayB(int32_t slot, const char* name, int32_t startFrame,
                                  int32_t loopStartFrame, int32_t endFrame, int32_t loop);
TONE_API int32_t TONE_CALL IPlayFadeB(int32_t slot, const char* name, int32_t startFrame,
                                      int32_t loopStartFrame, int32_t endFrame, int32_t loop);
TONE_API int32_t TONE_CALL IPlayFadeBEx(int32_t slot, const char* name, int32_t startFrame,
                                        int32_t loopStartFrame, int32_t endFrame, int32_t loop,
                                        int32_t fadeMs);
TONE_API int32_t TONE_CALL IPlayStop(int32_t slot);
TONE_API int32_t TONE_CALL IFadeOut(int32_t slot);
TONE_API int32_t TONE_CALL IFadeOutEx(int32_t slot, int32_t ms);
TONE_API int32_t TONE_CALL IVolFade(int32_t slot, int32_t level, int32_t ms);
TONE_API int32_t TONE_CALL ISetBGMVol(int32_t level);
TONE_API void TONE_CALL ISetLoopPos(int32_t slot, int32_t loopStartFrame, int32_t endFrame);
TONE_API int32_t TONE_CALL IGetPos(int32_t slot);

/* Effects. kind: 0 plain, 1 hardware 3D, 2 software 3D. */
TONE_API int32_t TONE_CALL IPlaySE(const char* name, const float* x, const float* y,
                                   const float* z, int32_t kind, int32_t loop, float scale);
TONE_API int32_t TONE_CALL IPlaySEB(const char* name, const float* x, const float* y,
                                    const float* z, int32_t kind, int32_t loop, float scale);
TONE_API int32_t TONE_CALL IStopSE(int32_t channel);
TONE_API int32_t TONE_CALL IStopAllSE(void);
TONE_API int32_t TONE_CALL ISetSEVol(int32_t level);
TONE_API int32_t TONE_CALL ISetSEVolume(int32_t channel, int32_t level);
TONE_API int32_t TONE_CALL ISetSEPos(int32_t channel, const float* x, const float* y,
                                     const float* z, const float* vx, const float* vy,
                                     const float* vz);
TONE_API int32_t TONE_CALL ISetListen(float rolloff, float px, float py, float pz, float fx,
                                      float fy, float fz, float tx, float ty, float tz);

/* The sound card's mixer. */
TONE_API int32_t TONE_CALL MixOpen(void);
TONE_API int32_t TONE_CALL MixClose(void);
TONE_API int32_t TONE_CALL GetParam(int32_t group, int32_t index);
TONE_API int32_t TONE_CALL SetParam(int32_t group, int32_t index, int32_t value);

#ifdef __cplusplus
}
#endif

#endif
