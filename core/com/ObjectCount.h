// Live objects and server locks of the module; the module may unload when
// both are zero.
#pragma once

#include <windows.h>

// Adds `delta` (+1 or -1) and returns the new count.
LONG KorvixLockModule(LONG delta);
LONG KorvixModuleLockCount();
