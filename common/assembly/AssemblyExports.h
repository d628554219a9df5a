// The work behind the module's exports DllInitialize and DllUninitialize,
// which let a host initialise the module-wide CCAssembly for a feature. The
// module owns that assembly and exports thin wrappers, for example
//   extern "C" bool DllInitialize(const char* f, const char* v, const char* c)
//   { return AssemblyDllInitialize(g_moduleAssembly, f, v, c); }
#pragma once

#include "common/assembly/CCAssembly.h"

// Copies the three strings (null counts as empty) through automation strings
// and calls assembly.DllInitialize with them. The calling thread owns the
// assembly's named mutex until it calls AssemblyDllUninitialize.
bool AssemblyDllInitialize(CCAssembly& assembly, const char* szFeatureName, const char* szFeatureVersion,
                           const char* szContextName);
// Releases the mutex taken by AssemblyDllInitialize on this thread; always true.
bool AssemblyDllUninitialize(CCAssembly& assembly);
