#include "TraceRecorder.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <mutex>

#include "common/trace/Trace.h"

namespace {
std::mutex g_lock;
std::vector<TraceRecord> g_records;
} // namespace

// Every record is wanted: the tests assert on all of them.
std::atomic<unsigned> g_traceThreshold{UINT_MAX};

void TraceWrite(unsigned level, const char* scope, const char* category, const char* text,
                const char* details, ...) {
    char buffer[8192];
    va_list args;
    va_start(args, details);
    std::vsnprintf(buffer, sizeof buffer, details ? details : "", args);
    va_end(args);
    std::lock_guard<std::mutex> hold(g_lock);
    g_records.push_back({level, scope ? scope : "", category ? category : "", text ? text : "", buffer});
}

void TraceRecorder::Clear() {
    std::lock_guard<std::mutex> hold(g_lock);
    g_records.clear();
}
const std::vector<TraceRecord>& TraceRecorder::Records() {
    return g_records;
}
size_t TraceRecorder::Count(const std::string& s) {
    std::lock_guard<std::mutex> hold(g_lock);
    return std::count_if(g_records.begin(), g_records.end(),
                         [&s](const TraceRecord& r) { return r.text == s || r.details == s; });
}
