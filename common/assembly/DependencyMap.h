// The dependency entries read from a feature's dependency table and the two
// maps of CCAssembly that hold them.
#pragma once

#include <map>
#include <string>

#include "common/assembly/AssemblyStrings.h"

struct CCDependencyEntry {
    char szName[kAssemblyStringSize] = {};
    char szVersion[kAssemblyStringSize] = {};
    char szProgID[kAssemblyStringSize] = {}; // versioned ProgID
    char szVersionIndependentProgID[kAssemblyStringSize] = {};
    char szPath[kAssemblyStringSize] = {}; // root\name\version\name
};

// Keys are ordered and matched without regard to letter case, multibyte
// aware, in the runtime's current locale. Transparent: looking a plain
// string up builds no key, so a lookup cannot fail for want of memory.
struct CCNoCaseLess {
    using is_transparent = void;
    bool operator()(const char* a, const char* b) const;
    bool operator()(const std::string& a, const std::string& b) const { return (*this)(a.c_str(), b.c_str()); }
    bool operator()(const std::string& a, const char* b) const { return (*this)(a.c_str(), b); }
    bool operator()(const char* a, const std::string& b) const { return (*this)(a, b.c_str()); }
};

using CCDependencyMap = std::map<std::string, CCDependencyEntry, CCNoCaseLess>;
