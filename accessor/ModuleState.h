// Counts what keeps the DLL in memory: live objects and LockServer locks.
#pragma once

#include <windows.h>

void ModuleLock();
void ModuleUnlock();
// Number of objects and locks held; the DLL may unload at 0.
LONG ModuleLockCount();
