// What a module (the DLL or EXE this library is linked into) knows about
// itself: its handle, its file, and the count of what keeps it loaded.
#pragma once

#include <windows.h>

#include <string>

// The module that holds this code: the allocation base of the memory region
// the virtual-memory query reports for it; null when the query fails.
HMODULE ThisModule();
// The full path of this module; empty, with the last error set, when it
// cannot be read.
std::wstring ThisModulePath();

// Live objects and server locks. The module may be unloaded at 0.
void ModuleLock();
void ModuleUnlock();
LONG ModuleLockCount();
