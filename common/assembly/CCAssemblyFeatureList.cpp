// CCAssembly: reading a feature's dependency table through the MSXML DOM into
// the COM and Win32 dependency maps.
#include "CCAssembly.h"

#include <msxml2.h>

#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <new>

#include "common/trace/CCVireoTrace.h"
#include "common/conversion/CCStringConversion.h"
#include "common/trace/MethodScope.h"

namespace {
// Declared by the SDK headers but missing from MinGW's libuuid.
const IID kIID_IXMLDOMDocument2 = {
    0x2933bf95, 0x7b36, 0x11d2, {0xb2, 0x0e, 0x00, 0xc0, 0x4f, 0x98, 0x3e, 0x60}};
const IID kIID_IXMLDOMElement = {
    0x2933bf86, 0x7b36, 0x11d2, {0xb2, 0x0e, 0x00, 0xc0, 0x4f, 0x98, 0x3e, 0x60}};

const char kScope[] = "CCAssembly::InitializeFeatureList";
const char kInternal[] = "Internal";

// An automation string of a narrow one, byte for byte as CCStringConversion maps it.
Bstr ToBstr(const char* s) {
    CCStringConversion text(s ? s : "");
    return Bstr(text.Convert2W());
}

// A file name from the "A" file and registry functions is in the system code page.
Bstr PathToBstr(const char* path) {
    wchar_t wide[kAssemblyStringSize] = {};
    if (MultiByteToWideChar(CP_ACP, 0, path, -1, wide, kAssemblyStringSize) == 0) wide[0] = L'\0';
    return Bstr(wide);
}

// Text of attribute `name` of `node` into `out` (kAssemblyStringSize
// characters); empty and false when the node has no such attribute.
bool ReadAttribute(IXMLDOMNode* node, const wchar_t* name, char* out) {
    out[0] = '\0';
    ComPtr<IXMLDOMElement> element;
    if (FAILED(node->QueryInterface(kIID_IXMLDOMElement, element.PutVoid())) || !element) return false;
    Bstr attributeName(name);
    Variant value;
    if (element->getAttribute(attributeName.Get(), value.Put()) != S_OK || value->vt != VT_BSTR) return false;
    CCStringConversion text(value->bstrVal ? value->bstrVal : L"");
    AssemblyCopyString(out, text.Convert2A());
    return true;
}

// The query language quotes values with double quotes; a value holding one
// cannot be expressed, so the table is refused instead of mis-queried.
bool QueryableValues(std::initializer_list<const char*> values) {
    for (const char* value : values) {
        if (std::strchr(value, '"')) {
            Trace(TraceLevel::Error, kScope, kInternal,
                  "Dependency table query impossible, value contains a quote", "value='%s'", value);
            return false;
        }
    }
    return true;
}

// First node matching `query` below `context` into `found` (null when none);
// false when the query itself fails.
bool SelectSingle(IXMLDOMNode* context, const char* query, ComPtr<IXMLDOMNode>& found) {
    Bstr text = ToBstr(query);
    const HRESULT hr = context->selectSingleNode(text.Get(), found.Put());
    if (FAILED(hr)) {
        if (TraceWanted(TraceLevel::Error))
            Trace(TraceLevel::Error, kScope, kInternal, "Dependency table query failed",
                  "hr: 0x%08X, '%s' query='%s'", static_cast<unsigned>(hr),
                  CCVireoTrace::GetErrorText(static_cast<DWORD>(hr)), query);
        found.Reset();
        return false;
    }
    return true;
}
} // namespace

bool CCAssembly::InitializeFeatureList() {
    MethodScope method(kScope, MethodScope::Called{});
    char fileName[kAssemblyStringSize];
    std::snprintf(fileName, sizeof fileName, "%s\\%s_%s.xml", m_szDependencyTablesPath, m_szFeatureName,
                  m_szFeatureVersion);
    bool result = false;
    try {
        result = ReadDependencyTable(fileName);
    } catch (const std::bad_alloc&) {
        // No memory for the maps: the feature stays uninitialised, and the
        // next initialisation reads the table again.
        Trace(TraceLevel::Error, kScope, kInternal, "FAIL: Out of memory while reading the dependency table.",
              "");
    }
    method.Leave("bReturn: %d", result);
    return result;
}

void CCAssembly::ReadComponentRoot() {
    char raw[kAssemblyStringSize + 1];
    long error = AssemblyReadCommonValue("ComponentRoot", raw);
    if (error == ERROR_SUCCESS && AssemblyExpandString(raw, m_szComponentRoot, &error)) return;
    Trace(TraceLevel::Warning, kScope, kInternal, "Error accessing registry for getting GAC root",
          "Error: %d", static_cast<int>(error));
}

bool CCAssembly::ReadDependencyTable(const char* szFileName) {
    ComPtr<IXMLDOMDocument2> document;
    CLSID clsid{};
    HRESULT hr = ::CLSIDFromProgID(L"MSXML2.FreeThreadedDOMDocument", &clsid);
    if (SUCCEEDED(hr))
        hr = ::CoCreateInstance(clsid, nullptr, CLSCTX_ALL, kIID_IXMLDOMDocument2, document.PutVoid());
    if (FAILED(hr) || !document) {
        if (SUCCEEDED(hr)) hr = E_NOINTERFACE;
        if (TraceWanted(TraceLevel::Error))
            Trace(TraceLevel::Error, kScope, kInternal, "Failed to create MSXML2.Dom object to parse XML.",
                  "hr: 0x%08X, '%s'", static_cast<unsigned>(hr),
                  CCVireoTrace::GetErrorText(static_cast<DWORD>(hr)));
        return false;
    }

    // Loaded synchronously: the load call's answer is the whole story.
    document->put_async(VARIANT_FALSE);
    Variant source;
    source->vt = VT_BSTR;
    source->bstrVal = PathToBstr(szFileName).Detach();
    VARIANT_BOOL loaded = VARIANT_FALSE;
    hr = document->load(*source.Get(), &loaded);
    if (hr != S_OK || loaded != VARIANT_TRUE) {
        long line = 0;
        long column = 0;
        Bstr reason;
        ComPtr<IXMLDOMParseError> parseError;
        if (SUCCEEDED(document->get_parseError(parseError.Put())) && parseError) {
            parseError->get_line(&line);
            parseError->get_linepos(&column);
            parseError->get_reason(reason.Put());
        }
        CCStringConversion reasonText(reason.Get() ? reason.Get() : L"");
        const char* reasonNarrow = reasonText.Convert2A();
        Trace(TraceLevel::Error, kScope, kInternal, "Error loading dependency table",
              "path='%s', Line=%d, Col=%d, reason='%s'", szFileName, static_cast<int>(line),
              static_cast<int>(column), reasonNarrow ? reasonNarrow : "");
        return false;
    }

    Bstr languageName(L"SelectionLanguage");
    Variant language;
    language->vt = VT_BSTR;
    language->bstrVal = SysAllocString(L"XPath");
    document->setProperty(languageName.Get(), *language.Get());

    // 1: the feature element.
    ComPtr<IXMLDOMElement> root;
    if (FAILED(document->get_documentElement(root.Put())) || !root) return false;
    if (!QueryableValues({m_szFeatureName, m_szFeatureVersion})) return false;
    char query[4 * kAssemblyStringSize];
    std::snprintf(query, sizeof query, "//feature[(@name = \"%s\") and (@version= \"%s\")]", m_szFeatureName,
                  m_szFeatureVersion);
    ComPtr<IXMLDOMNode> feature;
    if (!SelectSingle(root.Get(), query, feature) || !feature) return false;

    // The component root: the registry's, unless the feature names its own folder.
    ReadComponentRoot();
    char rootFolder[kAssemblyStringSize];
    if (ReadAttribute(feature.Get(), L"rootFolder", rootFolder)) {
        long ignored = 0;
        if (!AssemblyExpandString(rootFolder, m_szComponentRoot, &ignored))
            AssemblyCopyString(m_szComponentRoot, rootFolder);
        const size_t length = std::strlen(m_szComponentRoot);
        if (length > 0 && m_szComponentRoot[length - 1] == '\\') m_szComponentRoot[length - 1] = '\0';
    }

    // 2: this module's own entry for the context.
    if (!QueryableValues({m_szContextName, m_szModuleFileName, m_szFileVersion})) return false;
    std::snprintf(query, sizeof query,
                  "context[@name = \"%s\"]/assemblyIdentity[(@name = \"%s\") and ((@version= \"%s\") or "
                  "(@version= \"*\"))]",
                  m_szContextName, m_szModuleFileName, m_szFileVersion);
    ComPtr<IXMLDOMNode> self;
    if (!SelectSingle(feature.Get(), query, self)) return false;
    if (!self) {
        Trace(TraceLevel::Warning, kScope, kInternal, "AssemblyIdentity node not found for current assembly.",
              "ContextName: %s, AssemblyIdentity: %s, Version: %s", m_szContextName, m_szModuleFileName,
              m_szFileVersion);
        return true;
    }

    // 3: the dependencies, in document order; a later key replaces an earlier one.
    ComPtr<IXMLDOMNodeList> dependencies;
    Bstr dependencyQuery(L"dependencies/assemblyIdentity");
    if (FAILED(self->selectNodes(dependencyQuery.Get(), dependencies.Put())) || !dependencies) return true;
    long count = 0;
    dependencies->get_length(&count);
    for (long i = 0; i < count; ++i) {
        ComPtr<IXMLDOMNode> node;
        if (FAILED(dependencies->get_item(i, node.Put())) || !node) continue;
        CCDependencyEntry entry;
        ReadAttribute(node.Get(), L"name", entry.szName);
        ReadAttribute(node.Get(), L"version", entry.szVersion);
        ReadAttribute(node.Get(), L"progID", entry.szProgID);
        std::snprintf(entry.szPath, sizeof entry.szPath, "%s\\%s\\%s\\%s", m_szComponentRoot, entry.szName,
                      entry.szVersion, entry.szName);
        ReadAttribute(node.Get(), L"versionIndependentProgID", entry.szVersionIndependentProgID);
        if (entry.szProgID[0] && entry.szVersionIndependentProgID[0]) {
            Trace(TraceLevel::VerboseCC, kScope, kInternal, "Com entry found",
                  "caller %s V%s: name %s, version %s, progId %s, viProgId %s", m_szModuleFileName,
                  m_szFileVersion, entry.szName, entry.szVersion, entry.szProgID,
                  entry.szVersionIndependentProgID);
            m_comDependencies[entry.szVersionIndependentProgID] = entry;
        } else {
            Trace(TraceLevel::VerboseCC, kScope, kInternal, "Win32 dll entry found",
                  "caller %s V%s: name %s, version %s", m_szModuleFileName, m_szFileVersion, entry.szName,
                  entry.szVersion);
            m_win32Dependencies[entry.szName] = entry;
        }
    }
    return true;
}
