// The software audio device as the engine calls it: reference counts,
// description checks, Lock regions, cursors and status, hardware voices, lost
// buffers and forced failures. Runs on the virtual clock.
#include "test_audio_helpers.h"

using AudioDevice = AudioRig;

TEST_F(AudioDevice, ReferenceCountsAreSharedAcrossInterfacesAndReleaseReportsWhatIsLeft) {
    IDirectSoundBuffer* b = Make(DSBCAPS_LOCDEFER | DSBCAPS_CTRL3D | DSBCAPS_MUTE3DATMAXDISTANCE, Pcm(22050, 1, 16), 4410);
    ASSERT_NE(b, nullptr);
    IDirectSoundBuffer8* b8 = nullptr;
    IDirectSound3DBuffer* b3 = nullptr;
    ASSERT_EQ(b->QueryInterface(IID_IDirectSoundBuffer8, (void**)&b8), DS_OK);
    ASSERT_EQ(b8->QueryInterface(IID_IDirectSound3DBuffer, (void**)&b3), DS_OK);
    EXPECT_EQ((void*)b8, (void*)b);  // one object behind buffer and buffer-8
    void* none = (void*)1;
    EXPECT_EQ(b->QueryInterface(IID_IDirectSound3DListener, &none), DSERR_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
    DsBufferInfo info;
    ASSERT_TRUE(DsInspect_Of(b, &info));
    EXPECT_EQ(info.refs, 3u);
    EXPECT_EQ(b->Release(), 2u);  // the engine drops the first reference
    EXPECT_EQ(b3->Release(), 1u);
    EXPECT_EQ(b8->Release(), 0u);
    EXPECT_EQ(DsInspect_BufferCount(), 1);  // the primary only

    // The primary is one object per device; its listener shares its count.
    IDirectSoundBuffer* again = nullptr;
    DSBUFFERDESC pd = Desc(DSBCAPS_PRIMARYBUFFER | DSBCAPS_CTRL3D, 0, nullptr);
    ASSERT_EQ(ds->CreateSoundBuffer(&pd, &again, nullptr), DS_OK);
    EXPECT_EQ(again, primary);
    EXPECT_EQ(again->Release(), 2u);  // primary + listener remain

    // A buffer without 3D control has no 3D interface; the primary has no buffer-8.
    IDirectSoundBuffer* plain = Make(DSBCAPS_CTRLVOLUME, Pcm(44100, 2, 16), 400);
    EXPECT_EQ(plain->QueryInterface(IID_IDirectSound3DBuffer, (void**)&b3), DSERR_NOINTERFACE);
    EXPECT_EQ(primary->QueryInterface(IID_IDirectSoundBuffer8, (void**)&b8), DSERR_NOINTERFACE);
    EXPECT_EQ(plain->Release(), 0u);

    EXPECT_EQ(ds->AddRef(), 2u);
    EXPECT_EQ(ds->Release(), 1u);
}

// Releasing the device with buffers still held leaves them as dead objects:
// every call fails, nothing of them is mixed, and their own Release still works.
TEST_F(AudioDevice, BuffersOutlivingTheirDeviceFailEveryCallAndAreNotMixed) {
    std::vector<int16_t> tone = Sine(441, 44100, 4410, 2);
    IDirectSoundBuffer* b = MakeFilled(DSBCAPS_CTRLVOLUME, 44100, 2, tone);
    ASSERT_EQ(b->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    IDirectSoundBuffer* locked = Make(DSBCAPS_CTRLVOLUME, Pcm(44100, 2, 16), 400);
    void* staging = nullptr;
    DWORD stagingBytes = 0;
    ASSERT_EQ(locked->Lock(0, 400, &staging, &stagingBytes, nullptr, nullptr, 0), DS_OK);
    listener->Release();
    listener = nullptr;
    EXPECT_EQ(primary->Release(), 0u);
    primary = nullptr;
    EXPECT_EQ(ds->Release(), 0u);  // the count the engine writes to the debugger output
    ds = nullptr;
    EXPECT_EQ(DsInspect_DeviceCount(), 0);

    DWORD status = 99, play = 99;
    void *p1, *p2;
    DWORD n1, n2;
    EXPECT_EQ(b->GetStatus(&status), DSERR_NODRIVER);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(b->GetCurrentPosition(&play, nullptr), DSERR_NODRIVER);
    EXPECT_EQ(b->Lock(0, 4, &p1, &n1, &p2, &n2, 0), DSERR_NODRIVER);
    EXPECT_EQ(b->Play(0, 0, 0), DSERR_NODRIVER);
    EXPECT_EQ(b->SetVolume(-100), DSERR_NODRIVER);
    // A region locked before the device went stays writable until the buffer's release.
    std::memset(staging, 0x55, stagingBytes);
    EXPECT_EQ(locked->Unlock(staging, stagingBytes, nullptr, 0), DSERR_NODRIVER);
    EXPECT_EQ(locked->Release(), 0u);

    AudioOutput_StartCapture();
    Clock_Advance(20);
    std::vector<int16_t> out = Captured();
    ASSERT_EQ(out.size(), 882u * 2);
    EXPECT_EQ(Rms(out.data(), 0, 882, 0), 0.0);
    EXPECT_EQ(b->AddRef(), 2u);
    EXPECT_EQ(b->Release(), 1u);
    EXPECT_EQ(b->Release(), 0u);

    // A new device starts clean.
    ASSERT_EQ(DirectSoundCreate8(nullptr, &ds, nullptr), DS_OK);
    EXPECT_EQ(DsInspect_BufferCount(), 0);
}

TEST_F(AudioDevice, CooperativeLevelAndPrimaryFormat) {
    EXPECT_EQ(ds->SetCooperativeLevel(nullptr, DSSCL_EXCLUSIVE), DSERR_INVALIDPARAM);
    EXPECT_EQ(ds->SetCooperativeLevel(FakeWindow(), 7), DSERR_INVALIDPARAM);
    EXPECT_EQ(DsInspect_CooperativeWindow(), FakeWindow());
    EXPECT_EQ(DsInspect_CooperativeLevel(), DSSCL_EXCLUSIVE);

    WAVEFORMATEX f = Pcm(44100, 2, 16);
    ASSERT_EQ(ds->SetCooperativeLevel(FakeWindow(), DSSCL_NORMAL), DS_OK);
    EXPECT_EQ(primary->SetFormat(&f), DSERR_PRIOLEVELNEEDED);
    ASSERT_EQ(ds->SetCooperativeLevel(FakeWindow(), DSSCL_EXCLUSIVE), DS_OK);
    ASSERT_EQ(primary->SetFormat(&f), DS_OK);
    WAVEFORMATEX back{};
    DWORD written = 0;
    ASSERT_EQ(primary->GetFormat(&back, sizeof back, &written), DS_OK);
    EXPECT_EQ(written, sizeof(WAVEFORMATEX));
    EXPECT_EQ(std::memcmp(&back, &f, sizeof f), 0);
    WAVEFORMATEX adpcm = f;
    adpcm.wFormatTag = WAVE_FORMAT_ADPCM;
    EXPECT_EQ(primary->SetFormat(&adpcm), DSERR_BADFORMAT);

    // The primary plays only looping, and has no memory of its own to lock.
    EXPECT_EQ(primary->Play(0, 0, 0), DSERR_INVALIDPARAM);
    EXPECT_EQ(primary->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    EXPECT_EQ(Status(primary), DSBSTATUS_PLAYING | DSBSTATUS_LOOPING);
    void *p1, *p2;
    DWORD n1, n2;
    EXPECT_EQ(primary->Lock(0, 4, &p1, &n1, &p2, &n2, 0), DSERR_PRIOLEVELNEEDED);
}

TEST_F(AudioDevice, DescriptionsAreCheckedAsDirectSoundChecksThem) {
    struct Case {
        const char* what;
        DWORD flags;
        DWORD bytes;
        WAVEFORMATEX format;
        bool noFormat;
        DWORD descSize;
        HRESULT expected;
    };
    const WAVEFORMATEX mono16 = Pcm(22050, 1, 16);
    WAVEFORMATEX badAlign = mono16;
    badAlign.nBlockAlign = 4;
    WAVEFORMATEX adpcm = mono16;
    adpcm.wFormatTag = WAVE_FORMAT_ADPCM;
    const Case cases[] = {
        {"size below the minimum", DSBCAPS_CTRLVOLUME, 3, mono16, false, 36, DSERR_INVALIDPARAM},
        {"size above the maximum", DSBCAPS_CTRLVOLUME, DSBSIZE_MAX + 1, mono16, false, 36, DSERR_INVALIDPARAM},
        {"no format", DSBCAPS_CTRLVOLUME, 400, mono16, true, 36, DSERR_INVALIDPARAM},
        {"not PCM", DSBCAPS_CTRLVOLUME, 400, adpcm, false, 36, DSERR_BADFORMAT},
        {"three channels", DSBCAPS_CTRLVOLUME, 400, Pcm(22050, 3, 16), false, 36, DSERR_BADFORMAT},
        {"24 bits", DSBCAPS_CTRLVOLUME, 400, Pcm(22050, 2, 24), false, 36, DSERR_BADFORMAT},
        {"block align off", DSBCAPS_CTRLVOLUME, 400, badAlign, false, 36, DSERR_INVALIDPARAM},
        {"rate too low", DSBCAPS_CTRLVOLUME, 400, Pcm(50, 1, 16), false, 36, DSERR_INVALIDPARAM},
        {"3D on stereo", 0x60010, 400, Pcm(22050, 2, 16), false, 36, DSERR_INVALIDPARAM},
        {"3D with pan", DSBCAPS_CTRL3D | DSBCAPS_CTRLPAN, 400, mono16, false, 36, DSERR_INVALIDPARAM},
        {"two placements", DSBCAPS_LOCHARDWARE | DSBCAPS_LOCSOFTWARE, 400, mono16, false, 36, DSERR_INVALIDPARAM},
        {"record size", DSBCAPS_CTRLVOLUME, 400, mono16, false, 30, DSERR_INVALIDPARAM},
        {"primary with a size", DSBCAPS_PRIMARYBUFFER, 400, mono16, true, 36, DSERR_INVALIDPARAM},
        // What the engine asks for is made.
        {"streaming music", 0x100C4, 529200, Pcm(44100, 2, 16), false, 36, DS_OK},
        {"plain effect", 0x400C0, 4, Pcm(11025, 1, 8), false, 36, DS_OK},
        {"3D effect in software", 0x20018, 88200, mono16, false, 36, DS_OK},
        {"3D effect deferred", 0x60010, 88200, mono16, false, 36, DS_OK},
        {"older record without algorithm", DSBCAPS_CTRLVOLUME, 400, mono16, false, 20, DS_OK},
        {"this build's record size", DSBCAPS_CTRLVOLUME, 400, mono16, false, sizeof(DSBUFFERDESC), DS_OK},
    };
    int createdBefore = DsInspect_CreatedCount();
    int made = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WAVEFORMATEX f = c.format;
        DSBUFFERDESC d = Desc(c.flags, c.bytes, c.noFormat ? nullptr : &f);
        d.dwSize = c.descSize;
        IDirectSoundBuffer* b = (IDirectSoundBuffer*)1;
        EXPECT_EQ(ds->CreateSoundBuffer(&d, &b, nullptr), c.expected);
        if (c.expected == DS_OK) {
            ASSERT_NE(b, nullptr);
            EXPECT_EQ(DsInspect_CreatedFlags(createdBefore + made), c.flags);
            made++;
            b->Release();
        } else {
            EXPECT_EQ(b, nullptr);
        }
    }
    EXPECT_EQ(DsInspect_CreatedCount(), createdBefore + made);

    // A 3D buffer names a known 3D algorithm.
    WAVEFORMATEX f = mono16;
    DSBUFFERDESC d = Desc(0x60010, 400, &f);
    d.guid3DAlgorithm = DS3DALG_HRTF_FULL;
    IDirectSoundBuffer* b = nullptr;
    ASSERT_EQ(ds->CreateSoundBuffer(&d, &b, nullptr), DS_OK);
    DsBufferInfo info;
    ASSERT_TRUE(DsInspect_Of(b, &info));
    EXPECT_TRUE(IsEqualGUID(info.algorithm, DS3DALG_HRTF_FULL));
    b->Release();
    d.guid3DAlgorithm = IID_IDirectSoundBuffer8;
    EXPECT_EQ(ds->CreateSoundBuffer(&d, &b, nullptr), DSERR_INVALIDPARAM);
}

TEST_F(AudioDevice, HardwareBuffersNeedAFreeVoice) {
    WAVEFORMATEX f = Pcm(22050, 1, 16);
    DSBUFFERDESC d = Desc(0xC4, 400, &f);
    IDirectSoundBuffer* b = nullptr;
    DsTest_SetHardwareVoices(0);
    EXPECT_EQ(ds->CreateSoundBuffer(&d, &b, nullptr), DSERR_ALLOCATED);
    DsTest_SetHardwareVoices(1);
    ASSERT_EQ(ds->CreateSoundBuffer(&d, &b, nullptr), DS_OK);
    IDirectSoundBuffer* second = nullptr;
    EXPECT_EQ(ds->CreateSoundBuffer(&d, &second, nullptr), DSERR_ALLOCATED);
    // Software and unplaced buffers take no voice.
    IDirectSoundBuffer* soft = Make(0xC8, f, 400);
    IDirectSoundBuffer* unplaced = Make(0x100C0, f, 400);
    EXPECT_EQ(DsInspect_VoicesInUse(), 1);
    EXPECT_EQ(b->Release(), 0u);  // gives its voice back
    ASSERT_EQ(ds->CreateSoundBuffer(&d, &second, nullptr), DS_OK);
    second->Release();
    soft->Release();
    unplaced->Release();
}

TEST_F(AudioDevice, LockHandsOutTheCurrentBytesInOneOrTwoRegions) {
    IDirectSoundBuffer* b = Make(DSBCAPS_CTRLVOLUME, Pcm(44100, 2, 16), 1000);
    std::vector<uint8_t> ramp(1000);
    for (size_t i = 0; i < ramp.size(); i++) ramp[i] = (uint8_t)(i * 7);
    Fill(b, ramp.data(), 1000);

    void *p1, *p2;
    DWORD n1, n2;
    // Wraps: 200 bytes at the end, 100 at the start, both showing the earlier bytes.
    ASSERT_EQ(b->Lock(800, 300, &p1, &n1, &p2, &n2, 0), DS_OK);
    ASSERT_EQ(n1, 200u);
    ASSERT_EQ(n2, 100u);
    EXPECT_EQ(std::memcmp(p1, ramp.data() + 800, 200), 0);
    EXPECT_EQ(std::memcmp(p2, ramp.data(), 100), 0);
    void *q1, *q2;
    DWORD m1, m2;
    EXPECT_EQ(b->Lock(0, 4, &q1, &m1, &q2, &m2, 0), DSERR_INVALIDCALL);  // one lock at a time
    EXPECT_EQ(q1, nullptr);
    // Write only part of each region: unwritten bytes keep the earlier content.
    std::memset(p1, 0xAA, 10);
    std::memset(p2, 0xBB, 10);
    EXPECT_EQ(b->Unlock((uint8_t*)p1 + 1, n1, p2, n2), DSERR_INVALIDPARAM);
    ASSERT_EQ(b->Unlock(p1, n1, p2, n2), DS_OK);

    ASSERT_EQ(b->Lock(0, 0, &p1, &n1, &p2, &n2, DSBLOCK_ENTIREBUFFER), DS_OK);
    ASSERT_EQ(n1, 1000u);
    EXPECT_EQ(n2, 0u);
    EXPECT_EQ(p2, nullptr);
    std::vector<uint8_t> expect = ramp;
    std::memset(expect.data() + 800, 0xAA, 10);
    std::memset(expect.data(), 0xBB, 10);
    EXPECT_EQ(std::memcmp(p1, expect.data(), 1000), 0);
    // Unlock writes back only the bytes it is told were written.
    std::memset(p1, 0, 1000);
    ASSERT_EQ(b->Unlock(p1, 4, nullptr, 0), DS_OK);
    ASSERT_EQ(b->Lock(0, 1000, &p1, &n1, &p2, &n2, 0), DS_OK);
    EXPECT_EQ(((uint8_t*)p1)[3], 0);
    EXPECT_EQ(((uint8_t*)p1)[4], expect[4]);
    ASSERT_EQ(b->Unlock(p1, 0, nullptr, 0), DS_OK);

    // Without a second pointer the wrapped part is not locked.
    ASSERT_EQ(b->Lock(900, 300, &p1, &n1, nullptr, nullptr, 0), DS_OK);
    EXPECT_EQ(n1, 100u);
    ASSERT_EQ(b->Unlock(p1, n1, nullptr, 0), DS_OK);

    // From the write cursor: 10 ms ahead of the play cursor while playing.
    ASSERT_EQ(b->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    DWORD play = 0, write = 0;
    ASSERT_EQ(b->GetCurrentPosition(&play, &write), DS_OK);
    EXPECT_EQ(write, (play + 441 * 4) % 1000);
    ASSERT_EQ(b->Lock(0, 8, &p1, &n1, &p2, &n2, DSBLOCK_FROMWRITECURSOR), DS_OK);
    EXPECT_EQ(std::memcmp(p1, expect.data() + write, 8), 0);
    ASSERT_EQ(b->Unlock(p1, n1, p2, n2), DS_OK);

    EXPECT_EQ(b->Lock(1000, 4, &p1, &n1, &p2, &n2, 0), DSERR_INVALIDPARAM);
    EXPECT_EQ(b->Lock(0, 1001, &p1, &n1, &p2, &n2, 0), DSERR_INVALIDPARAM);
    EXPECT_EQ(b->Lock(0, 0, &p1, &n1, &p2, &n2, 0), DSERR_INVALIDPARAM);
    EXPECT_EQ(b->Unlock(p1, 4, nullptr, 0), DSERR_INVALIDCALL);  // nothing locked
    b->Release();
}

// Cursors move by the frames rendered, at the buffer's own rate.
TEST_F(AudioDevice, CursorsFollowRenderedTimeLoopingWrapsAndOneShotStops) {
    struct Case {
        DWORD rate;
        WORD channels, bits;
    };
    const Case cases[] = {{44100, 2, 16}, {22050, 1, 8}, {11025, 1, 16}, {48000, 2, 8}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rate);
        WAVEFORMATEX f = Pcm(c.rate, c.channels, c.bits);
        DWORD bytes = c.rate * f.nBlockAlign;  // one second
        IDirectSoundBuffer* loop = Make(DSBCAPS_CTRLVOLUME, f, bytes);
        IDirectSoundBuffer* once = Make(DSBCAPS_CTRLVOLUME, f, bytes / 2);  // half a second
        ASSERT_EQ(loop->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
        ASSERT_EQ(once->Play(0, 0, 0), DS_OK);
        EXPECT_EQ(Status(loop), DSBSTATUS_PLAYING | DSBSTATUS_LOOPING);
        EXPECT_EQ(Status(once), DSBSTATUS_PLAYING);

        Clock_Advance(250);
        // 250 ms is 11025 output frames exactly, consumed at the buffer's rate.
        DWORD expected = (DWORD)((uint64_t)11025 * c.rate / 44100) * f.nBlockAlign;
        EXPECT_EQ(PlayCursor(loop), expected);
        EXPECT_EQ(PlayCursor(once), expected);

        Clock_Advance(1000);  // 1250 ms: the loop has wrapped, the one-shot ended
        EXPECT_EQ(PlayCursor(loop), expected);
        EXPECT_EQ(Status(loop), DSBSTATUS_PLAYING | DSBSTATUS_LOOPING);
        EXPECT_EQ(Status(once), 0u);
        EXPECT_EQ(PlayCursor(once), 0u);

        // Stop keeps the cursor; Play resumes from it.
        ASSERT_EQ(loop->Stop(), DS_OK);
        Clock_Advance(100);
        EXPECT_EQ(PlayCursor(loop), expected);
        EXPECT_EQ(loop->SetCurrentPosition(bytes), DSERR_INVALIDPARAM);
        ASSERT_EQ(loop->SetCurrentPosition(f.nBlockAlign * 11 - 1), DS_OK);  // rounded down to the frame
        EXPECT_EQ(PlayCursor(loop), f.nBlockAlign * 10u);
        loop->Release();
        once->Release();
    }
}

TEST_F(AudioDevice, OneShotEndsWithItsLastSampleAndThenSilence) {
    std::vector<int16_t> data(1000);
    for (size_t i = 0; i < data.size(); i++) data[i] = (int16_t)(i + 1);
    IDirectSoundBuffer* b = MakeFilled(DSBCAPS_CTRLVOLUME, 44100, 1, data);
    ASSERT_EQ(b->Play(0, 0, 0), DS_OK);
    Clock_Advance(30);  // 1323 frames
    std::vector<int16_t> out = Captured();
    ASSERT_EQ(out.size(), 1323u * 2);
    EXPECT_EQ(out[2 * 999], 1000);
    EXPECT_EQ(out[2 * 999 + 1], 1000);
    for (size_t i = 1000; i < 1323; i++) ASSERT_EQ(out[2 * i], 0) << i;
    // Played again, it starts over from the beginning.
    ASSERT_EQ(b->Play(0, 0, 0), DS_OK);
    AudioOutput_StartCapture();
    Clock_Advance(1);
    out = Captured();
    EXPECT_EQ(out[0], 1);
    b->Release();
}

TEST_F(AudioDevice, VolumeAndPanNeedTheirControls) {
    IDirectSoundBuffer* none = Make(0x60010, Pcm(22050, 1, 16), 400);
    IDirectSoundBuffer* both = Make(0x400C0, Pcm(22050, 1, 16), 400);
    LONG v = 1;
    EXPECT_EQ(none->SetVolume(-100), DSERR_CONTROLUNAVAIL);
    EXPECT_EQ(none->SetPan(100), DSERR_CONTROLUNAVAIL);
    EXPECT_EQ(none->GetVolume(&v), DSERR_CONTROLUNAVAIL);
    EXPECT_EQ(both->SetVolume(-10001), DSERR_INVALIDPARAM);
    EXPECT_EQ(both->SetVolume(1), DSERR_INVALIDPARAM);
    EXPECT_EQ(both->SetPan(10001), DSERR_INVALIDPARAM);
    ASSERT_EQ(both->SetVolume(-7289), DS_OK);
    ASSERT_EQ(both->SetPan(-2400), DS_OK);
    ASSERT_EQ(both->GetVolume(&v), DS_OK);
    EXPECT_EQ(v, -7289);
    ASSERT_EQ(both->GetPan(&v), DS_OK);
    EXPECT_EQ(v, -2400);
    // Voice management is for deferred buffers only.
    IDirectSoundBuffer* soft = Make(0xC8, Pcm(22050, 1, 16), 400);
    EXPECT_EQ(soft->Play(0, 0, DSBPLAY_TERMINATEBY_TIME), DSERR_INVALIDPARAM);
    EXPECT_EQ(soft->Play(0, 1, 0), DSERR_INVALIDPARAM);
    none->Release();
    both->Release();
    soft->Release();
}

// With every voice taken, a deferred buffer played with terminate-by-time
// takes the voice of the playing one nearest its end.
TEST_F(AudioDevice, VoiceStealingTerminatesTheBufferNearestItsEnd) {
    DsTest_SetHardwareVoices(2);
    WAVEFORMATEX f22 = Pcm(22050, 1, 16), f44 = Pcm(44100, 1, 16);
    // 1 s at 22050 Hz, and 0.8 s at 44100 Hz: after 100 ms, 0.9 s and 0.7 s are left.
    IDirectSoundBuffer* longer = Make(0x400C0, f22, 22050 * 2);
    IDirectSoundBuffer* shorter = Make(0x400C0, f44, 35280 * 2);
    IDirectSoundBuffer* looping = Make(0x400C0, f44, 4410 * 2);
    IDirectSoundBuffer* newcomer = Make(0x400C0, f22, 4410 * 2);
    ASSERT_EQ(longer->Play(0, 0, DSBPLAY_TERMINATEBY_TIME), DS_OK);
    ASSERT_EQ(shorter->Play(0, 0, DSBPLAY_TERMINATEBY_TIME), DS_OK);
    EXPECT_EQ(Status(shorter), DSBSTATUS_PLAYING | DSBSTATUS_LOCHARDWARE);
    Clock_Advance(100);

    ASSERT_EQ(newcomer->Play(0, 0, DSBPLAY_TERMINATEBY_TIME), DS_OK);
    EXPECT_EQ(Status(shorter), DSBSTATUS_TERMINATED);
    EXPECT_EQ(Status(longer), DSBSTATUS_PLAYING | DSBSTATUS_LOCHARDWARE);
    EXPECT_EQ(Status(newcomer), DSBSTATUS_PLAYING | DSBSTATUS_LOCHARDWARE);
    EXPECT_EQ(DsInspect_VoicesInUse(), 2);

    // A terminated buffer is silent and its cursor stays.
    DWORD at = PlayCursor(shorter);
    Clock_Advance(50);
    EXPECT_EQ(PlayCursor(shorter), at);
    // Played again, it loses TERMINATED (and takes the voice nearest its end: the newcomer's).
    ASSERT_EQ(shorter->Play(0, 0, DSBPLAY_TERMINATEBY_TIME), DS_OK);
    EXPECT_EQ(Status(shorter), DSBSTATUS_PLAYING | DSBSTATUS_LOCHARDWARE);
    EXPECT_EQ(Status(newcomer), DSBSTATUS_TERMINATED);

    // Looping buffers have no end and are never chosen; without terminate-by-time nothing is stolen.
    ASSERT_EQ(longer->Stop(), DS_OK);
    ASSERT_EQ(shorter->Stop(), DS_OK);
    ASSERT_EQ(looping->Play(0, 0, DSBPLAY_LOOPING | DSBPLAY_TERMINATEBY_TIME), DS_OK);
    ASSERT_EQ(longer->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    ASSERT_EQ(newcomer->Play(0, 0, DSBPLAY_TERMINATEBY_TIME), DS_OK);
    EXPECT_EQ(Status(newcomer), DSBSTATUS_PLAYING | DSBSTATUS_LOCSOFTWARE);
    ASSERT_EQ(shorter->Play(0, 0, DSBPLAY_LOCHARDWARE), DSERR_ALLOCATED);
    EXPECT_EQ(Status(looping), DSBSTATUS_PLAYING | DSBSTATUS_LOOPING | DSBSTATUS_LOCHARDWARE);

    // A one-shot that ends gives its voice back.
    ASSERT_EQ(looping->Stop(), DS_OK);
    ASSERT_EQ(shorter->Play(0, 0, DSBPLAY_TERMINATEBY_TIME), DS_OK);
    EXPECT_EQ(DsInspect_VoicesInUse(), 2);
    Clock_Advance(1000);
    EXPECT_EQ(Status(shorter), 0u);
    EXPECT_EQ(DsInspect_VoicesInUse(), 1);  // the looping one still holds its own
    for (IDirectSoundBuffer* b : {longer, shorter, looping, newcomer}) b->Release();
}

TEST_F(AudioDevice, LostBuffersStopAndRefuseLockAndPlayUntilRestored) {
    std::vector<int16_t> tone = Sine(441, 44100, 4410, 1);
    IDirectSoundBuffer* b = MakeFilled(0x100C0, 44100, 1, tone);
    ASSERT_EQ(b->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    Clock_Advance(10);
    DsTest_LoseBuffer(b);
    EXPECT_EQ(Status(b), DSBSTATUS_BUFFERLOST);
    void *p1, *p2;
    DWORD n1, n2;
    EXPECT_EQ(b->Lock(0, 4, &p1, &n1, &p2, &n2, 0), DSERR_BUFFERLOST);
    EXPECT_EQ(b->Play(0, 0, DSBPLAY_LOOPING), DSERR_BUFFERLOST);
    AudioOutput_StartCapture();
    Clock_Advance(10);
    std::vector<int16_t> out = Captured();
    EXPECT_EQ(Rms(out.data(), 0, out.size() / 2, 0), 0.0);

    ASSERT_EQ(b->Restore(), DS_OK);
    EXPECT_EQ(Status(b), 0u);
    ASSERT_EQ(b->Lock(0, 8, &p1, &n1, &p2, &n2, 0), DS_OK);
    EXPECT_EQ(std::memcmp(p1, tone.data(), 8), 0);
    ASSERT_EQ(b->Unlock(p1, n1, p2, n2), DS_OK);
    ASSERT_EQ(b->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    AudioOutput_StartCapture();
    Clock_Advance(10);
    out = Captured();
    EXPECT_GT(Rms(out.data(), 0, out.size() / 2, 0), 10000.0);
    b->Release();
}

TEST_F(AudioDevice, ForcedFailuresFailTheNextCallOnce) {
    WAVEFORMATEX f = Pcm(22050, 1, 16);
    DSBUFFERDESC sd = Desc(0x400C0, 400, &f);
    DSBUFFERDESC pd = Desc(DSBCAPS_PRIMARYBUFFER | DSBCAPS_CTRL3D, 0, nullptr);
    IDirectSoundBuffer* b = nullptr;

    IDirectSound8* other = (IDirectSound8*)1;
    DsTest_FailNext(DS_FAIL_CREATE_DEVICE);
    EXPECT_TRUE(FAILED(DirectSoundCreate8(nullptr, &other, nullptr)));
    EXPECT_EQ(other, nullptr);
    ASSERT_EQ(DirectSoundCreate8(nullptr, &other, nullptr), DS_OK);
    EXPECT_EQ(other->Release(), 0u);

    DsTest_FailNext(DS_FAIL_COOPERATIVE_LEVEL);
    EXPECT_TRUE(FAILED(ds->SetCooperativeLevel(FakeWindow(), DSSCL_EXCLUSIVE)));
    EXPECT_EQ(ds->SetCooperativeLevel(FakeWindow(), DSSCL_EXCLUSIVE), DS_OK);

    DsTest_FailNext(DS_FAIL_PRIMARY_BUFFER);
    EXPECT_TRUE(FAILED(ds->CreateSoundBuffer(&pd, &b, nullptr)));
    ASSERT_EQ(ds->CreateSoundBuffer(&pd, &b, nullptr), DS_OK);
    b->Release();

    // A pending secondary failure is not taken by a primary creation.
    DsTest_FailNext(DS_FAIL_SECONDARY_BUFFER);
    ASSERT_EQ(ds->CreateSoundBuffer(&pd, &b, nullptr), DS_OK);
    b->Release();
    EXPECT_TRUE(FAILED(ds->CreateSoundBuffer(&sd, &b, nullptr)));
    EXPECT_EQ(b, nullptr);
    ASSERT_EQ(ds->CreateSoundBuffer(&sd, &b, nullptr), DS_OK);

    void *p1, *p2;
    DWORD n1, n2;
    DsTest_FailNext(DS_FAIL_LOCK);
    EXPECT_TRUE(FAILED(b->Lock(0, 4, &p1, &n1, &p2, &n2, 0)));
    ASSERT_EQ(b->Lock(0, 4, &p1, &n1, &p2, &n2, 0), DS_OK);
    ASSERT_EQ(b->Unlock(p1, n1, p2, n2), DS_OK);

    DsTest_FailNext(DS_FAIL_LOCK);
    DsTest_Reset();  // clears what is pending
    ASSERT_EQ(b->Lock(0, 4, &p1, &n1, &p2, &n2, 0), DS_OK);
    ASSERT_EQ(b->Unlock(p1, n1, p2, n2), DS_OK);
    b->Release();
}

TEST_F(AudioDevice, ThreeDParametersApplyAtOnceOrAtCommit) {
    IDirectSoundBuffer* b = Make(0x60010, Pcm(22050, 1, 16), 400);
    IDirectSound3DBuffer* b3 = nullptr;
    ASSERT_EQ(b->QueryInterface(IID_IDirectSound3DBuffer, (void**)&b3), DS_OK);
    DS3DBUFFER p{};
    p.dwSize = 64;
    ASSERT_EQ(b3->GetAllParameters(&p), DS_OK);
    EXPECT_EQ(p.flMinDistance, 1.0f);
    EXPECT_EQ(p.dwInsideConeAngle, 360u);
    EXPECT_EQ(p.dwMode, DS3DMODE_NORMAL);

    p.flMinDistance = 50.0f;
    p.flMaxDistance = 800.0f;
    p.vPosition = {1, 2, 3};
    ASSERT_EQ(b3->SetAllParameters(&p, DS3D_DEFERRED), DS_OK);
    ASSERT_EQ(b3->SetVelocity(0, 0, 5, DS3D_DEFERRED), DS_OK);
    DsBufferInfo info;
    ASSERT_TRUE(DsInspect_Of(b, &info));
    EXPECT_EQ(info.params3d.flMinDistance, 1.0f);  // not yet

    DS3DLISTENER l{};
    l.dwSize = 64;
    ASSERT_EQ(listener->GetAllParameters(&l), DS_OK);
    EXPECT_EQ(l.flRolloffFactor, 1.0f);
    l.flRolloffFactor = 0.2f;
    l.vOrientFront = {0, -1, 0};
    l.vOrientTop = {0, 0, 1};
    ASSERT_EQ(listener->SetAllParameters(&l, DS3D_DEFERRED), DS_OK);
    DS3DLISTENER seen{};
    ASSERT_TRUE(DsInspect_Listener(&seen));
    EXPECT_EQ(seen.flRolloffFactor, 1.0f);

    ASSERT_EQ(listener->CommitDeferredSettings(), DS_OK);
    ASSERT_TRUE(DsInspect_Of(b, &info));
    EXPECT_EQ(info.params3d.flMinDistance, 50.0f);
    EXPECT_EQ(info.params3d.vPosition.z, 3.0f);
    EXPECT_EQ(info.params3d.vVelocity.z, 5.0f);
    ASSERT_TRUE(DsInspect_Listener(&seen));
    EXPECT_EQ(seen.flRolloffFactor, 0.2f);
    EXPECT_EQ(seen.vOrientFront.y, -1.0f);

    ASSERT_EQ(b3->SetPosition(7, 0, 0, DS3D_IMMEDIATE), DS_OK);
    ASSERT_TRUE(DsInspect_Of(b, &info));
    EXPECT_EQ(info.params3d.vPosition.x, 7.0f);

    // Records are checked.
    DS3DBUFFER bad = p;
    bad.dwSize = 60;
    EXPECT_EQ(b3->SetAllParameters(&bad, DS3D_IMMEDIATE), DSERR_INVALIDPARAM);
    bad = p;
    bad.dwMode = 3;
    EXPECT_EQ(b3->SetAllParameters(&bad, DS3D_IMMEDIATE), DSERR_INVALIDPARAM);
    bad = p;
    bad.flMinDistance = NAN;
    EXPECT_EQ(b3->SetAllParameters(&bad, DS3D_IMMEDIATE), DSERR_INVALIDPARAM);
    DS3DLISTENER badL = l;
    badL.flRolloffFactor = 11.0f;
    EXPECT_EQ(listener->SetAllParameters(&badL, DS3D_IMMEDIATE), DSERR_INVALIDPARAM);
    badL = l;
    badL.flDistanceFactor = 0.0f;
    EXPECT_EQ(listener->SetAllParameters(&badL, DS3D_IMMEDIATE), DSERR_INVALIDPARAM);
    EXPECT_EQ(b3->SetAllParameters(&p, 2), DSERR_INVALIDPARAM);
    b3->Release();
    b->Release();
}
