// Where the device's mix goes, and the mixer's entry points for the clock and
// the output backends.
//
// The mixer renders 44100 Hz stereo 16-bit frames from every playing
// secondary buffer. In real mode the open backend pulls frames as the sound
// card (or a sink thread keeping wall-clock time) wants them; in virtual mode
// Clock_Advance renders exactly the frames that its milliseconds cover
// (frame counts carried exactly, 44.1 frames per millisecond) and hands them
// to the backend.
#pragma once

#include <cstddef>
#include <cstdint>
#include "platform/win_types.h"

constexpr DWORD kOutputRate = 44100;

// spec: "sdl", "null", "wav:PATH", or null to read TONE_AUDIO (default "sdl",
// falling back to "null" with one warning on stderr when no sound device can be
// opened). Returns false, with nothing opened, for an unknown spec or a WAV
// file that cannot be created. Opening while open closes the old output first.
bool AudioOutput_Open(const char* spec);
// Stops the output; a WAV file gets its final lengths written.
void AudioOutput_Close();
// "sdl", "null", "wav", or "" when closed.
const char* AudioOutput_Name();

// Tests: keep a copy of every rendered frame (interleaved L, R) from now on.
void AudioOutput_StartCapture();
// The frames captured so far; the capture goes on. The pointer holds until
// the next frame is captured or the capture restarts: with an output thread
// running (real mode), stop the capture before reading it.
const int16_t* AudioOutput_Captured(size_t* frames);
void AudioOutput_StopCapture();

// Renders frames of output into out (interleaved stereo), advancing every
// playing buffer's cursor by what it contributed. Used by the backends.
void AudioMixer_Render(int16_t* out, size_t frames);
// Virtual mode: renders up to the frame that corresponds to nowMs.
void AudioMixer_RenderUntil(DWORD nowMs);
