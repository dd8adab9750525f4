// The debugger output channel. Text goes to stderr when TONE_DEBUG is set in
// the environment, and to the capture buffer while a capture is on.
#pragma once

#include <string>

void OutputDebugStringA(const char* text);

void DebugOutput_StartCapture();
// Returns what was written since the capture started and ends the capture.
std::string DebugOutput_StopCapture();
