// Live objects and server locks of the module that holds the component.
#pragma once

#include "common/platform/Module.h"

inline LONG KorvixModuleLockCount() {
    return ModuleLockCount();
}
