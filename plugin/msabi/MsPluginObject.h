// The plug-in object as a Microsoft-ABI host sees it: what GetDllInterface
// returns in the Windows DLL. Its first field points to a table of the
// twelve slots of CLyricsDllInterface in Microsoft's layout (MsLayout.h):
// slot 0 the scalar deleting destructor, slots 1-11 SetProperty ...
// Download. Each slot converts the host's CStringW and std::list arguments,
// forwards to the CVersewell the adapter owns, and writes results back
// through the host's own string manager and heap.
//
// Ownership: the adapter and its CVersewell are the plug-in's memory. Slot 0
//   destroys the CVersewell (unregistering it) and, with bit 0 of its flags,
//   frees the adapter. An object the host leaves alive is deleted with its
//   adapter when the library is unloaded.
// Failure: nothing is thrown to the host; every slot ends with its failure
//   result (0; IsStopRequested true) and one trace line. An output the host's
//   string manager or heap cannot take fails the slot the same way.
// Threads: one host thread at a time per object, as for CVersewell.
#ifndef VERSEWELL_PLUGIN_MSABI_MS_PLUGIN_OBJECT_H
#define VERSEWELL_PLUGIN_MSABI_MS_PLUGIN_OBJECT_H

#include "platform/win32/msabi/MsLayout.h"

// A new registered object behind a Microsoft-layout table; null (with one
// trace line) when it cannot be made.
msabi::SPluginObject* CreateMsPluginObject() noexcept;

// The table every adapter points to (for the layout check of the tests).
const msabi::SPluginTable& MsPluginTable();

// The DLL's export, named GetDllInterface in the module's export table
// (plugin/msabi/versewell.def).
extern "C" msabi::SPluginObject* GetMsDllInterface();

#endif  // VERSEWELL_PLUGIN_MSABI_MS_PLUGIN_OBJECT_H
