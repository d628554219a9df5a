#include "Options.h"

#include <algorithm>

#include "Keywords.h"

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

namespace {

// Adds the types of one --type value: numbers and group keywords, separated
// by commas. The error names the part that is neither.
std::string AddTypes(const std::wstring& text, std::vector<TypeChoice>& types) {
    size_t start = 0;
    while (true) {
        const size_t comma = text.find(L',', start);
        const std::wstring part = text.substr(start, comma == std::wstring::npos ? comma : comma - start);
        std::vector<TypeChoice> found;
        if (const auto n = ParseNumber(part, 0xFF)) found.push_back({static_cast<uint8_t>(*n), true});
        for (const TypeGroup& group : TypeGroups())
            if (Narrow(part) == group.name)
                for (uint8_t t : group.types)
                    found.push_back({t, false});
        if (found.empty()) {
            std::string names;
            for (const TypeGroup& group : TypeGroups())
                names += std::string(names.empty() ? "" : ", ") + group.name;
            return "--type needs structure types from 0 to 255 or the keywords " + names + ", not '" +
                   Narrow(part) + "'";
        }
        for (const TypeChoice& choice : found) {
            auto at = std::find_if(types.begin(), types.end(),
                                   [&](const TypeChoice& c) { return c.type >= choice.type; });
            if (at != types.end() && at->type == choice.type)
                at->byNumber = at->byNumber || choice.byNumber;
            else
                types.insert(at, choice);
        }
        if (comma == std::wstring::npos) return {};
        start = comma + 1;
    }
}

} // namespace

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

    std::vector<std::wstring> seen; // options that may be given once
    for (; i < args.size(); ++i) {
        std::wstring name = args[i];
        std::optional<std::wstring> inlineValue;
        const size_t eq = name.find(L'=');
        if (name.rfind(L"--", 0) == 0 && eq != std::wstring::npos) {
            inlineValue = name.substr(eq + 1);
            name.resize(eq);
        }
        if (name == L"-h" || name == L"/?") name = L"--help";
        if (name == L"-t") name = L"--type";
        if (name == L"-s") name = L"--string";
        if (name != L"--type") {
            if (std::find(seen.begin(), seen.end(), name) != seen.end()) {
                result.error = "option " + Narrow(name) + " was given more than once";
                return result;
            }
            seen.push_back(name);
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
        if (name == L"--help") {
            ok = flag(o.help);
        } else if (name == L"--list-strings") {
            ok = flag(o.listStrings);
        } else if (name == L"--json") {
            ok = flag(o.json);
        } else if (name == L"--raw") {
            ok = flag(o.raw);
        } else if (name == L"--type") {
            if ((ok = value(text))) result.error = AddTypes(text, o.types);
        } else if (name == L"--string") {
            if ((ok = value(text))) {
                o.keyword = Narrow(text);
                if (FindStringKeyword(o.keyword) == nullptr)
                    result.error = "--string needs one of the keywords that --list-strings lists, not '" +
                                   o.keyword + "'";
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
    // One selection, and -s prints its value alone.
    if (!o.types.empty() && o.handle) result.error = "--type and --handle cannot be combined";
    if (!o.keyword.empty() && (!o.types.empty() || o.handle || o.json || o.raw))
        result.error = "--string prints one value alone: it cannot be combined with --type, --handle, "
                       "--json or --raw";
    return result;
}

const char* UsageText() {
    return "Usage: korvix [dump] [options]\n"
           "\n"
           "Prints the decoded SMBIOS structures of this machine (or of a table file)\n"
           "through the registered Korvix component (\"Korvix.SmBiosImpl\"). Each raw\n"
           "value is followed by its meaning where the SMBIOS standard defines one.\n"
           "\n"
           "Options:\n"
           "  -t, --type T[,T...]  only the structures of these types: numbers or the\n"
           "                    keywords bios, system, baseboard, chassis, processor,\n"
           "                    memory, cache, connector, slot (GetAllInstancesOfType);\n"
           "                    may be given more than once\n"
           "  --handle H        only the structure with handle H, decimal or 0x hex\n"
           "                    (FindInstanceByHandle)\n"
           "  -s, --string KEYWORD  only this value, as dmidecode prints it\n"
           "  --list-strings    the keywords of --string\n"
           "  --json            one JSON document: an array of records\n"
           "  --raw             the raw values only, without their meanings\n"
           "  --file PATH       decode a table file instead of the firmware table: a raw\n"
           "                    table, a dmidecode --dump-bin file or a RawSMBIOSData dump\n"
           "  --feature NAME    feature name for ComponentInitialize (default Korvix)\n"
           "  --version V       feature version (default 1.05)\n"
           "  --context NAME    context name (default Client)\n"
           "  --progid ID       the component's ProgID (default Korvix.SmBiosImpl)\n"
           "  --help            this text\n"
           "\n"
           "Exit codes:\n"
           "  0  success (a warning about the table may go to stderr)\n"
           "  1  invalid command line\n"
           "  2  the component cannot be created (not registered)\n"
           "  3  ComponentInitialize failed (dependency table missing or unusable)\n"
           "  4  Initialize failed (no table: the message says why)\n"
           "  5  no structure of that type or with that handle (or none that decodes)\n"
           "  6  the requested type has no decoder\n"
           "  7  a query failed unexpectedly\n"
           "  8  the output could not be written in full\n";
}
