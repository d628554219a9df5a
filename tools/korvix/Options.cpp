#include "Options.h"

namespace {

std::string Narrow(const std::wstring& s) {
    std::string out;
    for (wchar_t c : s)
        out += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
    return out;
}

} // namespace

std::optional<uint32_t> ParseNumber(const std::wstring& text, uint32_t max) {
    size_t i = 0;
    unsigned base = 10;
    if (text.size() > 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X')) {
        base = 16;
        i = 2;
    }
    if (i >= text.size()) return std::nullopt;
    uint64_t value = 0;
    for (; i < text.size(); ++i) {
        const wchar_t c = text[i];
        unsigned digit;
        if (c >= L'0' && c <= L'9')
            digit = c - L'0';
        else if (base == 16 && c >= L'a' && c <= L'f')
            digit = c - L'a' + 10;
        else if (base == 16 && c >= L'A' && c <= L'F')
            digit = c - L'A' + 10;
        else
            return std::nullopt;
        value = value * base + digit;
        if (value > max) return std::nullopt;
    }
    return static_cast<uint32_t>(value);
}

ParseResult ParseCommandLine(const std::vector<std::wstring>& args) {
    ParseResult result;
    Options& o = result.options;
    size_t i = 0;
    if (i < args.size() && args[i] == L"dump") {
        ++i;
    } else if (i < args.size() && args[i] == L"help") {
        o.help = true;
        return result;
    } else if (i < args.size() && !args[i].empty() && args[i][0] != L'-' && args[i] != L"/?") {
        result.error = "unknown command '" + Narrow(args[i]) + "'";
        return result;
    }

    for (; i < args.size(); ++i) {
        std::wstring name = args[i];
        std::optional<std::wstring> inlineValue;
        const size_t eq = name.find(L'=');
        if (name.rfind(L"--", 0) == 0 && eq != std::wstring::npos) {
            inlineValue = name.substr(eq + 1);
            name.resize(eq);
        }
        // Takes the option's value from "--name=value" or from the next argument.
        auto value = [&](std::wstring& out) {
            if (inlineValue) {
                out = *inlineValue;
            } else if (i + 1 < args.size()) {
                out = args[++i];
            } else {
                result.error = "option " + Narrow(name) + " needs a value";
                return false;
            }
            if (out.empty()) {
                result.error = "option " + Narrow(name) + " needs a non-empty value";
                return false;
            }
            return true;
        };
        auto flag = [&](bool& out) {
            if (inlineValue) {
                result.error = "option " + Narrow(name) + " takes no value";
                return false;
            }
            out = true;
            return true;
        };

        std::wstring text;
        bool ok = true;
        if (name == L"--help" || name == L"-h" || name == L"/?") {
            ok = flag(o.help);
        } else if (name == L"--json") {
            ok = flag(o.json);
        } else if (name == L"--type") {
            if ((ok = value(text))) {
                const auto n = ParseNumber(text, 0xFF);
                if (n)
                    o.type = static_cast<uint8_t>(*n);
                else
                    result.error = "--type needs a structure type from 0 to 255, not '" + Narrow(text) + "'";
            }
        } else if (name == L"--handle") {
            if ((ok = value(text))) {
                const auto n = ParseNumber(text, 0xFFFF);
                if (n)
                    o.handle = static_cast<uint16_t>(*n);
                else
                    result.error = "--handle needs a handle from 0 to 65535 (or 0x0000 to 0xFFFF), not '" +
                                   Narrow(text) + "'";
            }
        } else if (name == L"--file") {
            ok = value(o.file);
        } else if (name == L"--feature") {
            ok = value(o.feature);
        } else if (name == L"--version") {
            ok = value(o.version);
        } else if (name == L"--context") {
            ok = value(o.context);
        } else if (name == L"--progid") {
            ok = value(o.progId);
        } else {
            result.error = "unknown option '" + Narrow(args[i]) + "'";
        }
        if (!ok || !result.error.empty()) return result;
    }
    if (o.type && o.handle) result.error = "--type and --handle cannot be combined";
    return result;
}

const char* UsageText() {
    return "Usage: korvix [dump] [options]\n"
           "\n"
           "Prints the decoded SMBIOS structures of this machine (or of a table file)\n"
           "through the registered Korvix component (\"Korvix.SmBiosImpl\").\n"
           "\n"
           "Options:\n"
           "  --type N          only the structures of type N (GetAllInstancesOfType)\n"
           "  --handle H        only the structure with handle H, decimal or 0x hex\n"
           "                    (FindInstanceByHandle)\n"
           "  --json            one JSON document: an array of records\n"
           "  --file PATH       decode a table file instead of the firmware table: a raw\n"
           "                    table, a dmidecode --dump-bin file or a RawSMBIOSData dump\n"
           "  --feature NAME    feature name for ComponentInitialize (default Korvix)\n"
           "  --version V       feature version (default 1.05)\n"
           "  --context NAME    context name (default Client)\n"
           "  --progid ID       the component's ProgID (default Korvix.SmBiosImpl)\n"
           "  --help            this text\n"
           "\n"
           "Exit codes:\n"
           "  0  success\n"
           "  1  invalid command line\n"
           "  2  the component cannot be created (not registered)\n"
           "  3  ComponentInitialize failed (dependency table missing or unusable)\n"
           "  4  Initialize failed (no table: unreadable file, firmware table unavailable)\n"
           "  5  no structure of that type or with that handle (or none that decodes)\n"
           "  6  the requested type has no decoder\n"
           "  7  a query failed unexpectedly\n";
}
