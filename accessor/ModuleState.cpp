#include "ModuleState.h"

namespace {
volatile LONG g_locks = 0;
}

void ModuleLock() {
    InterlockedIncrement(&g_locks);
}
void ModuleUnlock() {
    InterlockedDecrement(&g_locks);
}
LONG ModuleLockCount() {
    return InterlockedCompareExchange(&g_locks, 0, 0);
}
