#include "platform/text.h"

#include <iconv.h>

#include <cstring>

static bool IsAscii(const char* s) {
    for (; *s; s++)
        if ((unsigned char)*s >= 0x80) return false;
    return true;
}

// One descriptor per call: iconv state is not shareable between threads, and
// names are converted only when a file is opened.
static int Convert(const char* to, const char* from, const char* in, char* out, size_t outSize) {
    if (outSize == 0) return 0;
    out[0] = 0;
    size_t inLen = strlen(in);
    if (IsAscii(in)) {
        if (inLen + 1 > outSize) return 0;
        memcpy(out, in, inLen + 1);
        return 1;
    }
    iconv_t cd = iconv_open(to, from);
    if (cd == (iconv_t)-1) return 0;
    char* src = const_cast<char*>(in);
    char* dst = out;
    size_t dstLeft = outSize - 1;
    size_t r = iconv(cd, &src, &inLen, &dst, &dstLeft);
    if (r != (size_t)-1) r = iconv(cd, nullptr, nullptr, &dst, &dstLeft);
    iconv_close(cd);
    if (r == (size_t)-1 || inLen != 0) {
        out[0] = 0;
        return 0;
    }
    *dst = 0;
    return 1;
}

int Text_Cp932ToUtf8(const char* in, char* out, size_t outSize) {
    return Convert("UTF-8", "CP932", in, out, outSize);
}

int Text_Utf8ToCp932(const char* in, char* out, size_t outSize) {
    return Convert("CP932", "UTF-8", in, out, outSize);
}
