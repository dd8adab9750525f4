// The device under real threads: the null output's sink thread renders while
// one client thread streams into a looping buffer (as a music slot does) and
// another makes, fills, plays and releases effect buffers and moves the
// listener (as the tick does). Meant to run clean under ThreadSanitizer.
#include <atomic>
#include <chrono>
#include <thread>

#include "test_audio_helpers.h"

TEST(Threads, AudioDeviceServesClientThreadsWhileTheSinkRenders) {
    Clock_UseReal();
    DsTest_Reset();
    ASSERT_TRUE(AudioOutput_Open("null"));
    AudioOutput_StartCapture();
    IDirectSound8* ds = nullptr;
    ASSERT_EQ(DirectSoundCreate8(nullptr, &ds, nullptr), DS_OK);
    ASSERT_EQ(ds->SetCooperativeLevel(FakeWindow(), DSSCL_EXCLUSIVE), DS_OK);
    IDirectSoundBuffer* primary = nullptr;
    DSBUFFERDESC pd = Desc(DSBCAPS_PRIMARYBUFFER | DSBCAPS_CTRL3D, 0, nullptr);
    ASSERT_EQ(ds->CreateSoundBuffer(&pd, &primary, nullptr), DS_OK);
    IDirectSound3DListener* listener = nullptr;
    ASSERT_EQ(primary->QueryInterface(IID_IDirectSound3DListener, (void**)&listener), DS_OK);

    // Three seconds, refilled a second at a time behind the cursor.
    const DWORD second = 176400;
    WAVEFORMATEX music = Pcm(44100, 2, 16);
    DSBUFFERDESC md = Desc(0x100C0 | DSBCAPS_CTRLPAN, 3 * second, &music);
    IDirectSoundBuffer* stream = nullptr;
    ASSERT_EQ(ds->CreateSoundBuffer(&md, &stream, nullptr), DS_OK);
    ASSERT_EQ(stream->Play(0, 0, DSBPLAY_LOOPING), DS_OK);

    std::atomic<bool> stop{false};
    std::atomic<int> failures{0};
    std::atomic<DWORD> travelled{0};
    auto check = [&](HRESULT hr) {
        if (FAILED(hr)) failures++;
    };

    std::thread musicThread([&] {
        DWORD last = 0, third = 0;
        std::vector<int16_t> fill = Sine(441, 44100, second / 4, 2, 8000.0);
        while (!stop) {
            DWORD play = 0, write = 0;
            check(stream->GetCurrentPosition(&play, &write));
            travelled += (play + 3 * second - last) % (3 * second);
            last = play;
            if (play / second != third) {
                third = play / second;
                void *p1, *p2;
                DWORD n1, n2;
                check(stream->Lock(((third + 2) % 3) * second, second, &p1, &n1, &p2, &n2, 0));
                if (p1) std::memcpy(p1, fill.data(), n1);
                check(stream->Unlock(p1, n1, p2, n2));
            }
            check(stream->SetVolume(-(LONG)(play % 2000)));
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });

    std::thread effectThread([&] {
        WAVEFORMATEX mono = Pcm(22050, 1, 16);
        std::vector<int16_t> blip = Sine(1000, 22050, 2205, 1);
        int round = 0;
        while (!stop) {
            bool threeD = (round++ % 2) == 0;
            DSBUFFERDESC d = Desc(threeD ? 0x60010 : 0x400C0, 4410, &mono);
            IDirectSoundBuffer* first = nullptr;
            IDirectSoundBuffer8* b = nullptr;
            check(ds->CreateSoundBuffer(&d, &first, nullptr));
            if (!first) continue;
            check(first->QueryInterface(IID_IDirectSoundBuffer8, (void**)&b));
            first->Release();
            void *p1, *p2;
            DWORD n1, n2;
            check(b->Lock(0, 4410, &p1, &n1, &p2, &n2, 0));
            if (p1) std::memcpy(p1, blip.data(), n1);
            check(b->Unlock(p1, n1, p2, n2));
            if (threeD) {
                IDirectSound3DBuffer* b3 = nullptr;
                check(b->QueryInterface(IID_IDirectSound3DBuffer, (void**)&b3));
                DS3DBUFFER p{};
                p.dwSize = 64;
                check(b3->GetAllParameters(&p));
                p.vPosition = {(float)(round % 300), -100.0f, 0.0f};
                check(b3->SetAllParameters(&p, DS3D_IMMEDIATE));
                b3->Release();
            } else {
                check(b->SetPan((round % 200) * 10 - 1000));
            }
            check(b->Play(0, 0, DSBPLAY_TERMINATEBY_TIME));
            DS3DLISTENER l{};
            l.dwSize = 64;
            check(listener->GetAllParameters(&l));
            l.vPosition.x = (float)(round % 50);
            check(listener->SetAllParameters(&l, DS3D_IMMEDIATE));
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            DWORD status = 0;
            check(b->GetStatus(&status));
            if (round % 3 == 0) check(b->Stop());
            b->Release();
        }
    });

    // Until the sink has played half a second of the stream (or 20 s have gone).
    for (int i = 0; i < 2000 && travelled < second / 2; i++) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    stop = true;
    musicThread.join();
    effectThread.join();

    EXPECT_EQ(failures.load(), 0);
    EXPECT_GE(travelled.load(), second / 2);
    AudioOutput_StopCapture();  // the sink no longer appends
    size_t frames = 0;
    const int16_t* out = AudioOutput_Captured(&frames);
    ASSERT_GT(frames, 0u);
    EXPECT_GT(Rms(out, 0, frames, 0), 0.0);

    stream->Release();
    listener->Release();
    primary->Release();
    EXPECT_EQ(ds->Release(), 0u);
    AudioOutput_Close();
}
