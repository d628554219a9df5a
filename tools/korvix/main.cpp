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
#include "Keywords.h"
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
    kOutputFailed = 8,
};

void Note(const std::string& message) {
    std::fflush(stdout);
    std::fprintf(stderr, "korvix: %s\n", message.c_str());
}

int Fail(int code, const std::string& message) {
    Note(message);
    return code;
}

void Write(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
}

// Collects output in the chosen form and writes it as it comes.
class Output {
public:
    explicit Output(const Options& o)
        : json_(o.json), meanings_(o.raw ? Meanings::Leave : Meanings::Add), writer_(meanings_) {
        if (json_) Write(writer_.Begin());
    }
    void Add(const Record& record) {
        Write(json_ ? writer_.Add(record) : FormatTextRecord(record, meanings_));
    }
    void Finish() {
        if (json_) Write(writer_.End());
        std::fflush(stdout);
    }

private:
    bool json_;
    Meanings meanings_;
    JsonArrayWriter writer_;
};

std::string QueryFailure(const char* method, ULONG retVal, HRESULT hr) {
    if (retVal == kMalformedAnswer)
        return std::string(method) + " answered with arrays that are not attribute records";
    if (retVal == kOutOfMemory)
        return std::string(method) + " had no memory for its answer: " + DescribeHResult(hr);
    return std::string(method) + " failed: RetVal " + std::to_string(retVal) + ", " + DescribeHResult(hr);
}

int Dump(SmBiosSession& session, const Options& o) {
    Output out(o);
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

// Why GetAllInstancesOfType gave no records for `type`; empty when it did.
std::string NothingOfType(uint8_t type, ULONG retVal, bool none) {
    const std::string t = std::to_string(type);
    if (retVal == kFound && none) return "no structure of type " + t;
    if (retVal == kNotFound)
        return "the structures of type " + t +
               " could not be decoded (GetAllInstancesOfType: RetVal 3, a decoder refused one of them)";
    if (retVal == kNoDecoder) return "structures of type " + t + " have no decoder";
    return {};
}

// The structures of the --type choices, in ascending type order. A type
// named by number that gives nothing is reported; a group's types that give
// nothing are not, unless no type gives anything.
int ByTypes(SmBiosSession& session, const Options& o) {
    Output out(o);
    size_t printed = 0;
    bool noDecoders = true;
    std::vector<std::string> notes;
    std::string asked;
    for (const TypeChoice& choice : o.types) {
        std::vector<Record> records;
        HRESULT hr = S_OK;
        const ULONG retVal = session.RecordsOfType(choice.type, records, hr);
        if (retVal != kFound && retVal != kNotFound && retVal != kNoDecoder) {
            out.Finish();
            return Fail(kQueryFailed, QueryFailure("GetAllInstancesOfType", retVal, hr));
        }
        for (const Record& record : records)
            out.Add(record);
        printed += records.size();
        noDecoders = noDecoders && retVal == kNoDecoder;
        const std::string why = NothingOfType(choice.type, retVal, records.empty());
        if (!why.empty() && (choice.byNumber || retVal == kNotFound)) notes.push_back(why);
        asked += (asked.empty() ? "" : ", ") + std::to_string(choice.type);
    }
    out.Finish();
    if (printed == 0 && notes.empty()) notes.push_back("no structure of type " + asked);
    for (const std::string& note : notes)
        Note(note);
    if (printed > 0) return kSuccess;
    return noDecoders ? kTypeWithoutDecoder : kNothingFound;
}

int ByHandle(SmBiosSession& session, uint16_t handle, const Options& o) {
    Record record;
    HRESULT hr = S_OK;
    const ULONG retVal = session.RecordByHandle(handle, record, hr);
    Output out(o);
    if (retVal == kFound || retVal == kNoDecoder) out.Add(record);
    out.Finish();
    char shown[8];
    std::snprintf(shown, sizeof shown, "0x%04X", handle);
    if (retVal == kNotFound) return Fail(kNothingFound, std::string("no structure with handle ") + shown);
    if (retVal != kFound && retVal != kNoDecoder)
        return Fail(kQueryFailed, QueryFailure("FindInstanceByHandle", retVal, hr));
    return kSuccess;
}

// -s: one line per structure of the keyword's type.
int ByKeyword(SmBiosSession& session, const StringKeyword& keyword) {
    std::vector<Record> records;
    HRESULT hr = S_OK;
    const ULONG retVal = session.RecordsOfType(keyword.type, records, hr);
    for (const Record& record : records)
        Write(KeywordLine(keyword, record));
    std::fflush(stdout);
    const std::string why = NothingOfType(keyword.type, retVal, records.empty());
    if (retVal != kFound && retVal != kNotFound && retVal != kNoDecoder)
        return Fail(kQueryFailed, QueryFailure("GetAllInstancesOfType", retVal, hr));
    return why.empty() ? kSuccess : Fail(kNothingFound, why);
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

    std::wstring reason;
    hr = session.Initialize(reason);
    // The component's reason names the table's problem; a component that
    // gives none is at least told where the table came from.
    if (FAILED(hr)) {
        const std::string source = o.file.empty()
                                       ? "this machine's firmware table (or the file named by the "
                                         "\"SmBiosTableFile\" registry value or KORVIX_SMBIOS_TABLE)"
                                       : "the table file \"" + Printable(o.file) + "\"";
        return Fail(kInitializeFailed, "Initialize failed: " + DescribeHResult(hr) +
                                           (reason.empty() ? "; the table came from " + source + "."
                                                           : ": " + Printable(reason)));
    }

    // A success with a warning: the table has bytes no structure uses.
    if (!reason.empty()) Note("warning: " + Printable(reason));

    if (!o.keyword.empty()) return ByKeyword(session, *FindStringKeyword(o.keyword));
    if (!o.types.empty()) return ByTypes(session, o);
    if (o.handle) return ByHandle(session, *o.handle, o);
    return Dump(session, o);
}

// A full disk or a broken pipe must not pass for a complete output.
int Written(int code) {
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return code;
    return Fail(kOutputFailed, "the output could not be written in full (standard output refused it)");
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
        return Written(kSuccess);
    }
    if (parsed.options.listStrings) {
        for (const StringKeyword& keyword : StringKeywords())
            Write(std::string(keyword.name) + "\n");
        return Written(kSuccess);
    }
    return Written(Run(parsed.options));
}
