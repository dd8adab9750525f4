#include "platform/lock.h"

void InitializeCriticalSection(CRITICAL_SECTION* cs) {
    cs->mutex = new std::recursive_mutex;
    cs->owner.store(std::thread::id(), std::memory_order_relaxed);
    cs->depth = 0;
}

void DeleteCriticalSection(CRITICAL_SECTION* cs) {
    delete cs->mutex;
    cs->mutex = nullptr;
}

void EnterCriticalSection(CRITICAL_SECTION* cs) {
    cs->mutex->lock();
    cs->owner.store(std::this_thread::get_id(), std::memory_order_relaxed);
    cs->depth++;
}

bool TryEnterCriticalSection(CRITICAL_SECTION* cs) {
    if (!cs->mutex->try_lock()) return false;
    cs->owner.store(std::this_thread::get_id(), std::memory_order_relaxed);
    cs->depth++;
    return true;
}

void LeaveCriticalSection(CRITICAL_SECTION* cs) {
    if (--cs->depth == 0) cs->owner.store(std::thread::id(), std::memory_order_relaxed);
    cs->mutex->unlock();
}

int CriticalSection_HeldByCaller(const CRITICAL_SECTION* cs) {
    if (!cs->mutex) return 0;
    // Only the owner writes depth, so the owner may read it.
    return cs->owner.load(std::memory_order_relaxed) == std::this_thread::get_id() ? cs->depth : 0;
}
