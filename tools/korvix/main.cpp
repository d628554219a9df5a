// korvix.exe: prints the SMBIOS structures that the registered Korvix
// component decodes, as text or JSON. It uses only the component's public
// interface; see UsageText() for the command line and the exit codes.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>
#include <vector>

#include "Diagnostics.h"
#include "Format.h"
#include "Options.h"
#include "SmBiosSession.h"

namespace {

enum ExitCode {
    kSuccess = 0,
    kUsage = 1,
    kNotCreated = 2,
    kNoFeatureContext = 3,
    kInitializeFailed = 4,
    kNothingFound = 5,
    kTypeWithoutDecoder = 6,
    kQueryFailed = 7,
};

int Fail(int code, const std::string& message) {
    std::fflush(stdout);
    std::fprintf(stderr, "korvix: %s\n", message.c_str());
    return code;
}

void Write(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
}

// Collects output in the chosen form and writes it as it comes.
class Output {
public:
    explicit Output(bool json) : json_(json) {
        if (json_) Write(writer_.Begin());
    }
    void Add(const Record& record) { Write(json_ ? writer_.Add(record) : FormatTextRecord(record)); }
    void Finish() {
        if (json_) Write(writer_.End());
        std::fflush(stdout);
    }

private:
    bool json_;
    JsonArrayWriter writer_;
};

std::string QueryFailure(const char* method, ULONG retVal, HRESULT hr) {
    if (retVal == kMalformedAnswer)
        return std::string(method) + " answered with arrays that are not attribute records";
    return std::string(method) + " failed: RetVal " + std::to_string(retVal) + ", " + DescribeHResult(hr);
}

int Dump(SmBiosSession& session, bool json) {
    Output out(json);
    for (uint32_t index = 0;; ++index) {
        Record record;
        HRESULT hr = S_OK;
        const ULONG retVal = session.RecordAt(index, record, hr);
        if (retVal == kNotFound) break; // past the last structure
        if (retVal != kFound && retVal != kNoDecoder) {
            out.Finish();
            return Fail(kQueryFailed, QueryFailure("EnumAllInstances", retVal, hr));
        }
        out.Add(record);
    }
    out.Finish();
    return kSuccess;
}

int ByType(SmBiosSession& session, uint8_t type, bool json) {
    std::vector<Record> records;
    HRESULT hr = S_OK;
    const ULONG retVal = session.RecordsOfType(type, records, hr);
    Output out(json);
    for (const Record& record : records)
        out.Add(record);
    out.Finish();
    if (retVal == kFound && records.empty())
        return Fail(kNothingFound, "no structure of type " + std::to_string(type));
    if (retVal == kNotFound)
        return Fail(kNothingFound, "the structures of type " + std::to_string(type) +
                                       " could not be decoded (GetAllInstancesOfType: RetVal 3, a decoder "
                                       "refused one of them)");
    if (retVal == kNoDecoder)
        return Fail(kTypeWithoutDecoder, "structures of type " + std::to_string(type) + " have no decoder");
    if (retVal != kFound) return Fail(kQueryFailed, QueryFailure("GetAllInstancesOfType", retVal, hr));
    return kSuccess;
}

int ByHandle(SmBiosSession& session, uint16_t handle, bool json) {
    Record record;
    HRESULT hr = S_OK;
    const ULONG retVal = session.RecordByHandle(handle, record, hr);
    Output out(json);
    if (retVal == kFound || retVal == kNoDecoder) out.Add(record);
    out.Finish();
    char shown[8];
    std::snprintf(shown, sizeof shown, "0x%04X", handle);
    if (retVal == kNotFound) return Fail(kNothingFound, std::string("no structure with handle ") + shown);
    if (retVal != kFound && retVal != kNoDecoder)
        return Fail(kQueryFailed, QueryFailure("FindInstanceByHandle", retVal, hr));
    return kSuccess;
}

int Run(const Options& o) {
    if (!o.file.empty()) {
        // The driver-access component runs in this process and reads the
        // table file named by this variable instead of the firmware table.
        wchar_t full[MAX_PATH * 2];
        const DWORD n = GetFullPathNameW(o.file.c_str(), ARRAYSIZE(full), full, nullptr);
        const std::wstring path = n > 0 && n < ARRAYSIZE(full) ? std::wstring(full, n) : o.file;
        SetEnvironmentVariableW(L"KORVIX_SMBIOS_TABLE", path.c_str());
    }

    ComApartment apartment;
    if (FAILED(apartment.Result()))
        return Fail(kNotCreated, "COM could not be initialised: " + DescribeHResult(apartment.Result()));

    SmBiosSession session;
    HRESULT hr = session.Create(o.progId);
    if (hr == REGDB_E_CLASSNOTREG || hr == CO_E_CLASSSTRING)
        return Fail(kNotCreated, "the component \"" + Printable(o.progId) + "\" is not registered (" +
                                     DescribeHResult(hr) +
                                     "). Install it (scripts/install under Wine, install.cmd on Windows) "
                                     "or register Korvix.dll and TorvelAccess.dll with regsvr32.");
    if (FAILED(hr))
        return Fail(kNotCreated, "the component \"" + Printable(o.progId) +
                                     "\" cannot be created: " + DescribeHResult(hr));

    if (!session.ComponentInitialize(o.feature, o.version, o.context, hr)) {
        std::string message = "ComponentInitialize failed for feature \"" + Printable(o.feature) +
                              "\" version \"" + Printable(o.version) + "\" context \"" +
                              Printable(o.context) +
                              "\": the dependency table was not found or does not fit. Check " +
                              DescribeDependencyTable(o.feature, o.version) + ".";
        if (FAILED(hr)) message += " (" + DescribeHResult(hr) + ")";
        return Fail(kNoFeatureContext, message);
    }

    hr = session.Initialize();
    if (FAILED(hr)) {
        const std::string source = o.file.empty()
                                       ? "this machine's firmware table (or the file named by the "
                                         "\"SmBiosTableFile\" registry value or KORVIX_SMBIOS_TABLE)"
                                       : "the table file \"" + Printable(o.file) + "\"";
        std::string message =
            "Initialize failed: " + DescribeHResult(hr) + "; the table came from " + source + ".";
        if (hr == E_FAIL)
            message +=
                " E_FAIL also means that the driver-access component \"AcTorvel.TorvelAccess\" could not "
                "be created (is TorvelAccess.dll registered, and does the dependency table name it for "
                "context \"" +
                Printable(o.context) + "\"?) or that the table is not an SMBIOS table.";
        return Fail(kInitializeFailed, message);
    }

    if (o.type) return ByType(session, *o.type, o.json);
    if (o.handle) return ByHandle(session, *o.handle, o.json);
    return Dump(session, o.json);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    // Records end in "\n" only, so that the output is the same on every
    // platform and reads well when piped under Wine.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    const ParseResult parsed = ParseCommandLine(std::vector<std::wstring>(argv + 1, argv + argc));
    if (!parsed.error.empty()) return Fail(kUsage, parsed.error + " (korvix --help lists the options)");
    if (parsed.options.help) {
        Write(UsageText());
        return kSuccess;
    }
    return Run(parsed.options);
}
