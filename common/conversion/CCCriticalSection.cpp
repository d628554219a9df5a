#include "CCCriticalSection.h"

#include "common/trace/Trace.h"

namespace {
const char kCreated[] = "An instance of CCCriticalSection has been created.";
const char kDestructed[] = "An instance of CCCriticalSection has been destructed.";
} // namespace

CCCriticalSection::CCCriticalSection() {
    static const char kScope[] = "CCCriticalSection::CCCriticalSection";
    Trace(TraceLevel::InfoCC, kScope, "Enter", kCreated, "");
    Trace(TraceLevel::InfoCC, kScope, "Leave", kCreated, "");
}

CCCriticalSection::~CCCriticalSection() {
    static const char kScope[] = "CCCriticalSection::~CCCriticalSection";
    Trace(TraceLevel::InfoCC, kScope, "Enter", kDestructed, "");
    // A section left entered (an early exit of its owner) is released once so
    // that deleting it does not leave a waiter behind on a locked section.
    if (m_section.Held()) m_section.Leave();
    Trace(TraceLevel::InfoCC, kScope, "Leave", kDestructed, "");
}

void CCCriticalSection::Enter() {
    static const char kScope[] = "CCCriticalSection::Enter";
    Trace(TraceLevel::InfoCC, kScope, "Enter", "Method TryEnter has been entered.", "");
    m_section.Enter();
    Trace(TraceLevel::InfoCC, kScope, "Leave", "Method TryEnter has been left.", "");
}

void CCCriticalSection::Leave() {
    static const char kScope[] = "CCCriticalSection::Leave";
    Trace(TraceLevel::InfoCC, kScope, "Enter", "Method Leave has been entered.", "");
    m_section.Leave();
    Trace(TraceLevel::InfoCC, kScope, "Leave", "Method Leave has been left.", "");
}
