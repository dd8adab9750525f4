// The two checks that tie a sound file to its own base name: the cipher of
// enciphered effect files (last character 'm'), with its 12-byte trailer of
// plain-byte sum and XOR, and the name signature in the 16-byte header of
// signed block ADPCM files (last character '2').
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int32_t kCipherTrailerBytes = 12;
constexpr int32_t kCipherXorStart = 0xDE2F;
constexpr int32_t kSignedHeaderBytes = 16;
constexpr int kSignatureBytes = 32;

// The base name of a sound name: the text after the last backslash, cut
// before the last dot (taken whole without a dot). Not upper-cased. Returns 0
// when it does not fit in out.
int SoundName_BaseName(const char* name, char* out, size_t outSize);

// Deciphers buffer in place (the same call enciphers: the transform is its own
// inverse) under name, which is upper-cased in place. Returns 1 when the sum
// and XOR of the resulting bytes equal the expected values.
int32_t DecipherSound(uint8_t* buffer, int32_t length, char* name, int32_t expectedSum,
                      int32_t expectedXor);
// The sum and XOR check values of plain bytes, as the trailer carries them.
void Cipher_CheckValues(const uint8_t* plain, int32_t length, int32_t* sum, int32_t* xr);

// Returns 1 when the signature of name (upper-cased in place) has this sum
// and XOR.
int32_t CheckNameSignature(char* name, int32_t signatureSum, int32_t signatureXor);
// The sum and XOR of name's signature block (name upper-cased in place), as a
// signed header carries them.
void NameSignature_Values(char* name, int32_t* signatureSum, int32_t* signatureXor);
