#include "FuzzSupport.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/trace/Trace.h"
#include "core/TypeDispatcher.h"

namespace {
// Folds bytes into a value the compiler must keep, so that every byte touched
// is really read.
volatile unsigned long g_kept = 0;

void Keep(const void* data, size_t size) {
    unsigned long h = g_kept;
    for (size_t i = 0; i < size; ++i)
        h = h * 31u + static_cast<const unsigned char*>(data)[i];
    g_kept = h;
}

// Numbered names are formed in a 65-byte buffer.
constexpr unsigned long kLongestName = 64;

class TouchingSink : public IAttributeSink {
public:
    AppendResult Append(const char* name, bool, const AttributeValue& value) override {
        FUZZ_CHECK(name != nullptr);
        const unsigned long nameLength = FuzzTouchString(name);
        FUZZ_CHECK(nameLength > 0 && nameLength <= kLongestName);
        FUZZ_CHECK(value.type <= ValueType::Bool);
        const bool byte = value.type == ValueType::UI1 || value.type == ValueType::Bool;
        FUZZ_CHECK(value.number <= (byte ? 0xFFu : value.type == ValueType::UI2 ? 0xFFFFu : 0xFFFFFFFFu));
        // A null text becomes a null BSTR; anything else is widened in full.
        if (value.type == ValueType::Text && value.text != nullptr) FuzzTouchString(value.text);
        if (value.type == ValueType::Bytes) {
            FUZZ_CHECK(value.count == 0 || value.bytes != nullptr);
            Keep(value.bytes, value.count);
        }
        if (count < 3) header[count] = std::string(name) + "=" + std::to_string(value.number);
        ++count;
        return 0;
    }
    size_t count = 0;
    std::string header[3];
};
} // namespace

void FuzzCheckFailed(const char* condition, const char* file, int line) {
    std::fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", condition, file, line);
    std::fflush(stderr);
    std::abort();
}

// strlen reads the string in one call that AddressSanitizer checks as a whole.
unsigned long FuzzTouchString(const char* text) {
    const unsigned long n = std::strlen(text);
    g_kept = g_kept + n;
    return n;
}

const uint8_t kDecodedTypes[22] = {0,  1,  2,  3,  4,  5,   6,   7,   8,   9,   10,
                                   11, 12, 16, 17, 39, 128, 129, 130, 176, 186, 188};

// The dispatcher's factory over a table that carries the OEM extension
// marker, so that it hands out the decoders of types 176 and 186 too.
std::unique_ptr<CCVSmBiosItem> AnyDecoder(uint8_t type) {
    static CSmBiosTable marker;
    static const CTypeDispatcher dispatcher = [] {
        static const uint8_t kMarker[] = {188, 8, 0, 0xBC, '8', '8', '1', '$', 0, 0};
        uint8_t* buffer = new uint8_t[sizeof kMarker];
        std::memcpy(buffer, kMarker, sizeof kMarker);
        marker.Attach(buffer, sizeof kMarker);
        return CTypeDispatcher(marker);
    }();
    return dispatcher.Dispatch(type);
}

AppendResult DecodeChecked(const CCVSmBiosItem& decoder) {
    TouchingSink sink;
    const AppendResult result = decoder.Decode(sink);
    FUZZ_CHECK(result == 0 || result == CCVSmBiosItem::kRefused);
    if (result == CCVSmBiosItem::kRefused) {
        FUZZ_CHECK(sink.count == 0);
    } else if (decoder.Size() >= 4) {
        const uint8_t* d = decoder.Data();
        FUZZ_CHECK(sink.count >= 3);
        FUZZ_CHECK(sink.header[0] == "Type=" + std::to_string(d[0]));
        FUZZ_CHECK(sink.header[1] == "Length=" + std::to_string(d[1]));
        FUZZ_CHECK(sink.header[2] == "Handle=" + std::to_string(d[2] | d[3] << 8));
    }
    return result;
}

// The trace entry points of the fuzz build: every record is formatted as the
// trace object would format it (so that a details format and its arguments
// must agree) and then dropped, so that memory does not grow over a run. The
// libraries call Trace out of line in the fuzz build (TraceFormatCheck.h) and
// TraceWrite in the native one.
namespace {
void FormatRecord(unsigned level, const char* scope, const char* category, const char* text,
                  const char* details, va_list args) {
    FUZZ_CHECK(level >= TraceLevel::Error && level <= TraceLevel::VerboseCC);
    FUZZ_CHECK(scope != nullptr && category != nullptr && text != nullptr && details != nullptr);
    FuzzTouchString(scope);
    FuzzTouchString(category);
    FuzzTouchString(text);
    // Longer details are cut here, but the formatting still reads every
    // string argument to its end.
    char buffer[1024];
    FUZZ_CHECK(std::vsnprintf(buffer, sizeof buffer, details, args) >= 0);
}
} // namespace

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
