#include "TraceRecorder.h"

#include <cstdio>
#include <mutex>

#include "common/trace/Trace.h"

namespace {
std::mutex g_lock;
std::vector<TraceRecord> g_records;
} // namespace

bool TraceWanted(unsigned) {
    return true;
}

void Trace(unsigned level, const char* scope, const char* category, const char* text, const char* details,
           ...) {
    va_list args;
    va_start(args, details);
    TraceV(level, scope, category, text, details, args);
    va_end(args);
}

void TraceV(unsigned level, const char* scope, const char* category, const char* text, const char* details,
            va_list args) {
    char buffer[8192];
    std::vsnprintf(buffer, sizeof buffer, details ? details : "", args);
    std::lock_guard<std::mutex> hold(g_lock);
    g_records.push_back({level, scope ? scope : "", category ? category : "", text ? text : "", buffer});
}

namespace TraceRecorder {
void Clear() {
    std::lock_guard<std::mutex> hold(g_lock);
    g_records.clear();
}
const std::vector<TraceRecord>& Records() {
    return g_records;
}
size_t Count(const std::string& s) {
    std::lock_guard<std::mutex> hold(g_lock);
    size_t n = 0;
    for (const auto& r : g_records)
        n += (r.text == s || r.details == s) ? 1 : 0;
    return n;
}
} // namespace TraceRecorder
