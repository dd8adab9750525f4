#include "engine/tracked_alloc.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

struct Entry {
    void* block;
    char tag[16];
};

// Sources on the client's thread and on the timer thread allocate at once.
std::mutex s_mutex;
Entry s_table[kTrackedEntries];
char s_defaultTag[16] = "Unknown";

}  // namespace

void Tracked_Reset() {
    std::lock_guard<std::mutex> hold(s_mutex);
    std::memset(s_table, 0, sizeof s_table);
    std::strcpy(s_defaultTag, "Unknown");
}

void* Tracked_Alloc(size_t bytes, const char* tag) {
    if (bytes == 0 || bytes > kTrackedMaxBytes) return nullptr;
    void* block = std::malloc(bytes);
    if (!block) return nullptr;
    std::lock_guard<std::mutex> hold(s_mutex);
    int i = 0;
    while (i < kTrackedEntries - 1 && s_table[i].block) i++;
    // With every entry taken, the last one is reused: the table is diagnostic only.
    s_table[i].block = block;
    std::snprintf(s_table[i].tag, sizeof s_table[i].tag, "%s", tag ? tag : s_defaultTag);
    return block;
}

void Tracked_Free(void* block) {
    if (!block) return;
    {
        std::lock_guard<std::mutex> hold(s_mutex);
        for (Entry& e : s_table) {
            if (e.block == block) {
                e.block = nullptr;
                e.tag[0] = '\0';
                break;
            }
        }
    }
    std::free(block);
}

int Tracked_LiveCount() {
    std::lock_guard<std::mutex> hold(s_mutex);
    int n = 0;
    for (const Entry& e : s_table) n += e.block ? 1 : 0;
    return n;
}

const char* Tracked_TagOf(const void* block) {
    std::lock_guard<std::mutex> hold(s_mutex);
    for (const Entry& e : s_table)
        if (e.block && e.block == block) return e.tag;
    return "";
}
