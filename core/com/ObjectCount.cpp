#include "ObjectCount.h"

namespace {
volatile LONG g_locks = 0;
}

LONG KorvixLockModule(LONG delta) {
    return InterlockedExchangeAdd(&g_locks, delta) + delta;
}

LONG KorvixModuleLockCount() {
    return InterlockedCompareExchange(&g_locks, 0, 0);
}
