// A process-local critical section that traces every use. Reentrant for the
// owning thread.
#pragma once

#include "common/platform/CriticalSection.h"

class CCCriticalSection {
public:
    CCCriticalSection();
    CCCriticalSection(const CCCriticalSection&) = delete;
    CCCriticalSection& operator=(const CCCriticalSection&) = delete;
    // Leaves the section once if it is still entered, then deletes it.
    ~CCCriticalSection();

    // Waits as long as needed.
    void Enter();
    void Leave();

private:
    CriticalSection m_section;
};
