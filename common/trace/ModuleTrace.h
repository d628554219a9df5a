// The one trace object of a binary, and how a binary gets it.
//
// Every binary (Korvix.dll, the accessor DLL, each test executable) that links
// the korvix_trace library gets, from ModuleTrace.cpp:
//   - exactly one CCVireoTrace object, built with key template
//     "%ModuleName%\%ModuleVersion%", flags 0x24, semaphore prefix
//     "CCVireoTrace_PID_" and base key "Software\Quarnex\Common\Tracing\".
//     It is a namespace-scope static with init_priority(101), so it is
//     constructed before every other static object of the binary and destroyed
//     after them; static constructors and destructors of the binary may trace.
//   - the exported data slot `gg_ptrc` (a CCVireoTrace*), defined with
//     __declspec(dllexport). An EXE therefore exports it without further ado.
//     A DLL built with a .def file lists it there as well:
//         EXPORTS
//           gg_ptrc DATA
//   - the free functions of Trace.h, forwarding to that object.
// Nothing has to be declared by the binary itself. The only requirement is that
// the binary references the library (any Trace() call, ModuleTraceObject() or
// the .def export of gg_ptrc pulls ModuleTrace.o in).
//
// At load the object either joins the trace object that the process's main
// executable exports (enabled, module column on), or reads
// HKLM\Software\Quarnex\Common\Tracing\<module file name>\<major>.<minor, 2 digits>.
// A host executable that wants its DLLs to trace into its file configures its
// own object before loading them, e.g.
//     CCVireoTrace::Settings s;
//     s.fileName = L"C:\\logs\\host.trc";
//     s.moduleColumn = true;          // required for DLLs to join
//     ModuleTraceObject().Apply(s);
//     LoadLibraryW(L"Korvix.dll");    // Korvix.dll's object joins at load
#pragma once

#include "CCVireoTrace.h"

// The binary's trace object.
CCVireoTrace& ModuleTraceObject();
