// The command ring between the queued exports (client's thread, the only
// producer) and the timer tick (the only consumer).
#pragma once

#include <cstdint>

#include "platform/win_types.h"

constexpr int kQueueRecords = 256;
constexpr int kNameChars = 256;

enum CommandCode : int32_t {
    kCommandNone = 0,
    QueuedPlayFade = 100,
    QueuedPlay = 101,
    QueuedPlayFadeEx = 102,
    QueuedSetListen = 150,
    QueuedPlaySE = 200,
};

struct CommandRecord {
    char name[kNameChars];
    int32_t command;
    int32_t slot;
    int32_t args[5];
    uint32_t timestamp;  // 0 = never expires
    float values[10];
};

// Copies name into the record's name field; false when it does not fit.
bool Command_SetName(CommandRecord& record, const char* name);

// Empties the ring (IInit).
void Queue_Reset();
// Fills the record at the tail and publishes it. Returns false, changing
// nothing, when the ring is full or the name does not fit its field.
bool Queue_Push(const CommandRecord& record);
// Pending records (tests).
int Queue_Pending();
// The record at ring index i (tests).
const CommandRecord& Queue_Record(int i);

// Diagnostics and tests: called on the tick's thread with each command just
// before it is carried out (expired and dropped ones are not shown).
typedef void (*Tick_ObserverFn)(const CommandRecord& record);
void Tick_SetObserver(Tick_ObserverFn observer);

// The 10 ms timer callback: drains the ring, then updates both BGM slots.
void Tick_TimerCallback(UINT id, UINT msg, DWORD_PTR user, DWORD_PTR dw1, DWORD_PTR dw2);
void Tick();
