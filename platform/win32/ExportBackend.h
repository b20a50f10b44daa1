// mingw-w64 on PE: no dllexport here. The DLL's one export is the
// Microsoft-ABI entry, named by plugin/msabi/versewell.def (a .def file also
// stops the linker from exporting every other symbol); GetDllInterface of
// plugin/DllEntry.cpp stays an internal function of the Itanium-ABI core
// that in-process tests call. init_priority so that the trace log is
// constructed first and destroyed last among the DLL's static objects, and
// the registry right after it.
#ifndef VERSEWELL_PLATFORM_WIN32_EXPORT_BACKEND_H
#define VERSEWELL_PLATFORM_WIN32_EXPORT_BACKEND_H

#define VERSEWELL_EXPORT
#define VERSEWELL_USED __attribute__((used))
#define VERSEWELL_INIT_FIRST __attribute__((init_priority(101)))
#define VERSEWELL_INIT_SECOND __attribute__((init_priority(102)))

// GetDllInterface: the host is a Windows program that may be built by another compiler:
// no exception crosses the DLL boundary, an allocation failure in the export
// gives a null object and a trace line.
#define VERSEWELL_EXPORT_ALLOCATION_FAILURE_THROWS 0

#endif  // VERSEWELL_PLATFORM_WIN32_EXPORT_BACKEND_H
