// Critical sections: re-entrant for their owning thread.
#pragma once

#include <atomic>
#include <mutex>
#include <thread>

struct CRITICAL_SECTION {
    std::recursive_mutex* mutex = nullptr;
    std::atomic<std::thread::id> owner{};
    int depth = 0;  // written only by the owner
};

void InitializeCriticalSection(CRITICAL_SECTION* cs);
void DeleteCriticalSection(CRITICAL_SECTION* cs);
void EnterCriticalSection(CRITICAL_SECTION* cs);
void LeaveCriticalSection(CRITICAL_SECTION* cs);
bool TryEnterCriticalSection(CRITICAL_SECTION* cs);
// How many times the calling thread holds cs (0 when another thread or none does).
int CriticalSection_HeldByCaller(const CRITICAL_SECTION* cs);
