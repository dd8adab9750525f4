// The effect cipher and the name signature.
#include "sound_test_util.h"
#include "sources/sound_cipher.h"

static int32_t Decipher(Bytes& b, const char* name, int32_t sum, int32_t xr) {
    std::string n = name;
    return DecipherSound(b.data(), (int32_t)b.size(), n.data(), sum, xr);
}

TEST(Cipher, RoundTripsUnderItsOwnNameOnly) {
    Bytes plain = Pattern(5000, 11);
    int32_t sum, xr;
    Cipher_CheckValues(plain.data(), (int32_t)plain.size(), &sum, &xr);
    EXPECT_EQ(xr >> 8, 0xDE);  // upper bits 0, bits 8-15 always 0xDE
    Bytes sealed = plain;
    Decipher(sealed, "Door_Open", 0, 0);
    EXPECT_NE(sealed, plain);

    // The same routine applied twice restores the bytes, whatever the check says.
    Bytes twice = sealed;
    Decipher(twice, "x", 0, 0);
    Decipher(twice, "x", 0, 0);
    EXPECT_EQ(twice, sealed);

    struct Case {
        const char* name;
        int32_t ok;
    } cases[] = {
        {"Door_Open", 1},
        {"DOOR_OPEN", 1},   // case does not matter
        {"door_ope", 1},    // nor anything after 8 characters
        {"door_opeXYZ", 1},
        {"Door_Opn", 0},
        {"door", 0},
        {"", 0},
    };
    for (const Case& c : cases) {
        Bytes b = sealed;
        EXPECT_EQ(Decipher(b, c.name, sum, xr), c.ok) << c.name;
        if (c.ok) {
            EXPECT_EQ(b, plain) << c.name;
        }
    }
}

TEST(Cipher, ShortNamesPadTheKeyWithZerosAndNamesAreUpperCased) {
    // Under a zero key byte the key k is 0 and a zero byte deciphers to 0xFF:
    // table bytes 10-15 are zero for a two-character name.
    Bytes zeros(16, 0);
    std::string name = "ab";
    DecipherSound(zeros.data(), 16, name.data(), 0, 0);
    EXPECT_EQ(name, "AB");
    for (int i = 10; i < 16; i++) EXPECT_EQ(zeros[i], 0xFF) << i;
    // Byte 8: a = ('W' + 0), key 'A'.
    EXPECT_EQ(zeros[8], (uint8_t)~(uint8_t)('W' * 'A'));

    Bytes none;
    std::string n = "x";
    EXPECT_EQ(DecipherSound(none.data(), 0, n.data(), 0, kCipherXorStart), 1);
    EXPECT_EQ(DecipherSound(none.data(), -5, n.data(), 0, kCipherXorStart), 1);
}

TEST(Cipher, BaseNames) {
    struct Case {
        const char* name;
        const char* base;
    } cases[] = {
        {"se\\door.wam", "door"}, {"a\\b\\ed01.old.dc2", "ed01.old"}, {"noext", "noext"},
        {"se\\", ""},             {".wam", ""},                       {"se\\x.", "x"},
    };
    for (const Case& c : cases) {
        char base[64];
        ASSERT_EQ(SoundName_BaseName(c.name, base, sizeof base), 1);
        EXPECT_STREQ(base, c.base) << c.name;
    }
    char small[4];
    EXPECT_EQ(SoundName_BaseName("se\\door.wam", small, sizeof small), 0);
}

TEST(NameSignature, TableIsFixed) {
    // Signed files in the field carry these values: they must never change.
    struct Case {
        const char* name;
        int32_t sum, xr;
    } cases[] = {{"ed01", 1, -114}, {"TITLE_BGM", -143, -108}, {"title_bg", -143, -108}};
    for (const Case& c : cases) {
        std::string n = c.name;
        int32_t sum, xr;
        NameSignature_Values(n.data(), &sum, &xr);
        EXPECT_EQ(sum, c.sum) << c.name;
        EXPECT_EQ(xr, c.xr) << c.name;
        n = c.name;
        EXPECT_EQ(CheckNameSignature(n.data(), c.sum, c.xr), 1);
        n = c.name;
        EXPECT_EQ(CheckNameSignature(n.data(), c.sum + 1, c.xr), 0);
        n = c.name;
        EXPECT_EQ(CheckNameSignature(n.data(), c.sum, c.xr ^ 1), 0);
    }
    // Every character of the first eight counts.
    const char* base = "abcdefgh";
    std::string ref = base;
    int32_t s0, x0;
    NameSignature_Values(ref.data(), &s0, &x0);
    for (int i = 0; i < 8; i++) {
        std::string n = base;
        n[i] = 'z';
        int32_t s, x;
        NameSignature_Values(n.data(), &s, &x);
        EXPECT_TRUE(s != s0 || x != x0) << i;
    }
}
