// Type information of the Korvix type library, loaded once from the module
// that contains this code (its TYPELIB resource 1).
#pragma once

#include <windows.h>
#include <oaidl.h>

// The ITypeInfo of `iid` (an interface or the class) with one reference for
// the caller, or the failure of loading the library.
HRESULT GetKorvixTypeInfo(REFGUID guid, ITypeInfo** info);
