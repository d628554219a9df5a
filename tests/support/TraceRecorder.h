// In-memory trace target for tests of the portable code: every record that reaches Trace(), formatted.
#pragma once

#include <string>
#include <vector>

struct TraceRecord {
    unsigned level;
    std::string scope, category, text, details;
};

namespace TraceRecorder {
void Clear();
const std::vector<TraceRecord>& Records();
size_t Count(const std::string& s); // records whose text or details equal `s`
} // namespace TraceRecorder
