// A process-local critical section, reentrant for the owning thread. Setting
// it up can fail on old systems: Ready() says whether it may be entered.
#pragma once

#include <windows.h>

#include <mutex>

class CriticalSection {
public:
    CriticalSection() : ready_(InitializeCriticalSectionAndSpinCount(&section_, 0) != FALSE) {}
    ~CriticalSection() {
        if (ready_) DeleteCriticalSection(&section_);
    }
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

    bool Ready() const { return ready_; }
    void Enter() { EnterCriticalSection(&section_); }
    void Leave() { LeaveCriticalSection(&section_); }
    // True while some thread holds the section.
    bool Held() const { return section_.LockCount != -1; }

    // The names std::lock_guard asks for.
    void lock() { Enter(); }
    void unlock() { Leave(); }

private:
    CRITICAL_SECTION section_;
    bool ready_;
};

// Holds a section for the rest of the scope.
using CriticalSectionHold = std::lock_guard<CriticalSection>;
