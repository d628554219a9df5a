#include "TraceTestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>

namespace tracetest {

const char* const kBaseKey = "Software\\Quarnex\\Common\\Tracing\\";
const char* const kStampPattern = R"(\d{2}\.\d{2}\.\d{4} \d{2}:\d{2}:\d{2}\.\d{3}\t\d{4,}\t\d{4,})";

TempFolder::TempFolder() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = "korvix_trace_";
    if (info) name += std::string(info->test_suite_name()) + "_" + info->name();
    name += "_" + std::to_string(GetCurrentProcessId());
    path_ = fs::temp_directory_path() / name;
    std::error_code ignored;
    fs::remove_all(path_, ignored);
    fs::create_directories(path_);
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

std::unique_ptr<CCVireoTrace> MakeTrace(const std::wstring& file,
                                        const std::function<void(CCVireoTrace::Settings&)>& adjust) {
    auto trace = std::make_unique<CCVireoTrace>("%ModuleName%\\NoSuchVersion", 0x24, "CCVireoTrace_PID_",
                                                "Software\\Quarnex\\KorvixTraceTests\\NoSuchKey\\", nullptr);
    CCVireoTrace::Settings settings;
    settings.fileName = file.c_str();
    settings.level = 6;
    if (adjust) adjust(settings);
    trace->Apply(settings);
    return trace;
}

TraceFile ReadTraceFile(const std::wstring& path) {
    TraceFile result;
    std::ifstream in(fs::path(path), std::ios::binary);
    if (!in) return result;
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    result.exists = true;
    result.byteSize = bytes.size();
    size_t start = 0;
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        result.bom = true;
        start = 2;
    }
    for (size_t i = start; i + 1 < bytes.size(); i += 2) {
        result.units.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                                     (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    }
    return result;
}

std::string Narrow(const std::u16string& units) {
    std::string out;
    out.reserve(units.size());
    for (char16_t u : units)
        out.push_back(u <= 0xFF ? static_cast<char>(u) : '?');
    return out;
}

std::vector<std::string> Lines(const std::wstring& path) {
    const std::string text = Narrow(ReadTraceFile(path).units);
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t at; (at = text.find("\r\n", start)) != std::string::npos; start = at + 2)
        lines.push_back(text.substr(start, at - start));
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

size_t CountedBytes(const TraceFile& file) {
    size_t crs = 0;
    for (size_t i = 0; i + 1 < file.units.size(); ++i)
        crs += (file.units[i] == u'\r' && file.units[i + 1] == u'\n');
    return 2 * (file.units.size() - crs);
}

std::string Pid4() {
    char text[16];
    std::snprintf(text, sizeof text, "%04lu", GetCurrentProcessId());
    return text;
}

std::string Tid4() {
    char text[16];
    std::snprintf(text, sizeof text, "%04lu", GetCurrentThreadId());
    return text;
}

void Touch(const std::wstring& path, const std::string& content) {
    std::ofstream out(fs::path(path), std::ios::binary);
    out << content;
}

TestRegKey::TestRegKey(const std::string& path) : path_(path) {
    EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_,
                              nullptr),
              ERROR_SUCCESS)
        << path;
}

TestRegKey::~TestRegKey() {
    if (key_) RegCloseKey(key_);
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, path_.c_str());
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, path_.c_str());
    // Parents below the common base go when nothing else lives in them.
    std::string parent = path_;
    const std::string base = std::string(kBaseKey);
    for (size_t cut; (cut = parent.rfind('\\')) != std::string::npos && cut + 1 > base.size();) {
        parent.resize(cut);
        if (RegDeleteKeyA(HKEY_LOCAL_MACHINE, parent.c_str()) != ERROR_SUCCESS) break;
    }
}

void TestRegKey::SetDword(const char* name, DWORD value) {
    SetRaw(name, REG_DWORD, &value, sizeof value);
}

void TestRegKey::SetString(const char* name, const std::string& value, DWORD type) {
    SetRaw(name, type, value.c_str(), static_cast<DWORD>(value.size() + 1));
}

void TestRegKey::SetRaw(const char* name, DWORD type, const void* data, DWORD size) {
    ASSERT_EQ(RegSetValueExA(key_, name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS)
        << name;
}

std::string ExeName() {
    return "test_trace.exe";
}
std::string ExeVersionKey() {
    return KORVIX_TRACE_TEST_VERSION;
}

fs::path BinFolder() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return fs::path(path).parent_path();
}

} // namespace tracetest
