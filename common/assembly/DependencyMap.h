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
// aware, in the runtime's current locale.
struct CCNoCaseLess {
    bool operator()(const std::string& a, const std::string& b) const;
};

using CCDependencyMap = std::map<std::string, CCDependencyEntry, CCNoCaseLess>;
