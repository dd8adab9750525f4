// The engine's tracked allocator: the codec format blocks and buffers of the
// sound sources come from here. It refuses 0 bytes and anything above
// 100000000 bytes, and keeps a table of the live blocks with a short tag for
// diagnosis.
#pragma once

#include <cstddef>

constexpr size_t kTrackedMaxBytes = 100000000;
constexpr int kTrackedEntries = 4096;

// Clears the table (forgetting, not freeing, what it held).
void Tracked_Reset();
// Null for 0 bytes, more than kTrackedMaxBytes, or an exhausted heap.
void* Tracked_Alloc(size_t bytes, const char* tag);
// Frees block (null is ignored) and clears its table entry if it has one.
void Tracked_Free(void* block);
// Diagnostics: live entries, and the tag of the entry that holds block ("" if none).
int Tracked_LiveCount();
const char* Tracked_TagOf(const void* block);
