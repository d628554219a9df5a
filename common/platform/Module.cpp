#include "Module.h"

namespace {
volatile LONG g_locks = 0;
}

HMODULE ThisModule() {
    MEMORY_BASIC_INFORMATION info{};
    if (VirtualQuery(reinterpret_cast<const void*>(&ThisModule), &info, sizeof info) == 0) return nullptr;
    return static_cast<HMODULE>(info.AllocationBase);
}

std::wstring ThisModulePath() {
    const HMODULE module = ThisModule();
    std::wstring path(MAX_PATH, L'\0');
    while (module != nullptr) {
        const DWORD n = GetModuleFileNameW(module, &path[0], static_cast<DWORD>(path.size()));
        if (n == 0) break;
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
    return {};
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
