// The plug-in's GetDllInterface as a test program that sees the library as a
// host does can call it. On Linux that is the export itself. On Windows the
// DLL speaks a Microsoft-built host's ABI, and a test program built with
// mingw-w64 reaches it through the same adapter versewell.exe uses
// (cli/host/MsPluginProxy.h): the entry returned makes one proxy per object.
// One library at a time: the last FindPluginEntry names it. Any thread.
#ifndef VERSEWELL_TESTS_SUPPORT_PLUGIN_ENTRY_H
#define VERSEWELL_TESTS_SUPPORT_PLUGIN_ENTRY_H

#include <versewell/plugin.h>

// Null when the library has no GetDllInterface.
PFN_GetDllInterface FindPluginEntry(void* library);
// The block the library allocated for `object`, which it frees when the
// object is deleted (for tests that watch the library's releases).
void* PluginAllocation(CLyricsDllInterface* object);

#endif  // VERSEWELL_TESTS_SUPPORT_PLUGIN_ENTRY_H
