// Code page 932 text. The system's names and texts are CP932 bytes; host
// file names and terminals use UTF-8. Conversion goes through iconv.
#pragma once

#include <cstddef>

// Converts NUL-terminated in into out (outSize bytes, NUL included).
// Returns 1 on success; 0 when in is not valid in its code page or out is too
// small (out then holds an empty string). Pure ASCII is copied unchanged.
int Text_Cp932ToUtf8(const char* in, char* out, size_t outSize);
int Text_Utf8ToCp932(const char* in, char* out, size_t outSize);
