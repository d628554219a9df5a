#include "FuzzSupport.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/trace/Trace.h"

namespace {
// Folds what is read into a value the compiler must keep.
volatile unsigned long g_kept = 0;
// One input in kTraceShare has its trace records formatted (see FuzzSupport.h).
constexpr uint32_t kTraceShare = 8;
bool g_formatTraces = true, g_formatAll = false;

// Numbered names are formed in a 65-byte buffer.
constexpr size_t kLongestName = 64;

// strlen reads the string in one call that AddressSanitizer checks whole.
size_t Touch(const char* text) {
    const size_t n = std::strlen(text);
    g_kept = g_kept + n;
    return n;
}

class TouchingSink : public IAttributeSink {
public:
    AppendResult Append(const char* name, bool, const AttributeValue& value) override {
        FUZZ_CHECK(name != nullptr);
        const size_t nameLength = Touch(name);
        FUZZ_CHECK(nameLength > 0 && nameLength <= kLongestName);
        const ValueType t = value.type;
        FUZZ_CHECK(t <= ValueType::Bool);
        const bool byte = t == ValueType::UI1 || t == ValueType::Bool;
        FUZZ_CHECK(value.number <= (byte ? 0xFFu : t == ValueType::UI2 ? 0xFFFFu : 0xFFFFFFFFu));
        // A null text becomes a null BSTR; anything else is widened in full.
        if (t == ValueType::Text && value.text != nullptr) Touch(value.text);
        if (t == ValueType::Bytes) {
            FUZZ_CHECK(value.count == 0 || value.bytes != nullptr);
            unsigned long h = g_kept;
            for (size_t i = 0; i < value.count; ++i)
                h = h * 31u + value.bytes[i];
            g_kept = h;
        }
        if (count < 3) {
            names[count] = name;
            numbers[count] = value.number;
        }
        ++count;
        return 0;
    }
    size_t count = 0;
    const char* names[3] = {};
    uint32_t numbers[3] = {};
};

void FormatRecord(unsigned level, const char* scope, const char* category, const char* text,
                  const char* details, va_list args) {
    FUZZ_CHECK(level >= TraceLevel::Error && level <= TraceLevel::VerboseCC);
    FUZZ_CHECK(scope != nullptr && category != nullptr && text != nullptr && details != nullptr);
    if (!g_formatTraces) return;
    Touch(scope);
    Touch(category);
    Touch(text);
    // Longer details are cut, but every string argument is still read to its end.
    char buffer[1024];
    FUZZ_CHECK(std::vsnprintf(buffer, sizeof buffer, details, args) >= 0);
}
} // namespace

void FuzzCheckFailed(const char* condition, const char* file, int line) {
    std::fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", condition, file, line);
    std::fflush(stderr);
    std::abort();
}

void FormatTraces(uint32_t inputHash) {
    g_formatTraces = g_formatAll || inputHash % kTraceShare == 0;
}

void FormatEveryTrace() {
    g_formatAll = g_formatTraces = true;
}

AppendResult DecodeChecked(const CCVSmBiosItem& decoder) {
    TouchingSink sink;
    const AppendResult result = decoder.Decode(sink);
    FUZZ_CHECK(result == 0 || result == CCVSmBiosItem::kRefused);
    if (result == CCVSmBiosItem::kRefused) {
        FUZZ_CHECK(sink.count == 0);
    } else if (decoder.Size() >= 4) {
        const uint8_t* d = decoder.Data();
        const uint32_t header[3] = {d[0], d[1], static_cast<uint32_t>(d[2] | d[3] << 8)};
        const char* const names[3] = {"Type", "Length", "Handle"};
        FUZZ_CHECK(sink.count >= 3);
        for (int i = 0; i < 3; ++i)
            FUZZ_CHECK(std::strcmp(sink.names[i], names[i]) == 0 && sink.numbers[i] == header[i]);
    }
    return result;
}

// The trace entry points: the fuzz build's libraries call Trace out of line
// (so that the compiler checks every details format against its arguments),
// the native build's call TraceWrite behind the inline gate. Records are
// formatted into a local buffer and dropped.
std::atomic<unsigned> g_traceThreshold{UINT_MAX};

void Trace(unsigned level, const char* scope, const char* category, const char* text, const char* details,
           ...) {
    va_list args;
    va_start(args, details);
    FormatRecord(level, scope, category, text, details, args);
    va_end(args);
}

void TraceWrite(unsigned level, const char* scope, const char* category, const char* text,
                const char* details, ...) {
    va_list args;
    va_start(args, details);
    FormatRecord(level, scope, category, text, details, args);
    va_end(args);
}
