// Self-registration of the driver-access component under HKEY_CLASSES_ROOT,
// written by the registration script TorvelAccess.rgs:
//   CLSID\{AE21CB74-3FF4-4A89-87F8-810D347B57BA}
//       InprocServer32 = module path, ThreadingModel = "Both"
//       ProgID = "AcTorvel.TorvelAccess.1"
//       VersionIndependentProgID = "AcTorvel.TorvelAccess"
//   AcTorvel.TorvelAccess   CLSID, CurVer = "AcTorvel.TorvelAccess.1"
//   AcTorvel.TorvelAccess.1 CLSID
#pragma once

#include <windows.h>

namespace TorvelAccessRegistration {

constexpr const wchar_t* kProgId = L"AcTorvel.TorvelAccess";
constexpr const wchar_t* kVersionedProgId = L"AcTorvel.TorvelAccess.1";

// Writes every key and value, pointing InprocServer32 at this module.
HRESULT Register();
// Removes the class key and the ProgID keys that name this class; keys of a
// ProgID that another class has taken over stay. S_OK also when nothing was
// registered.
HRESULT Unregister();

} // namespace TorvelAccessRegistration
