// How this program turns the library's GetDllInterface into a plug-in
// object it can call through the public header.
//
// On Linux the library and the program share one toolchain and one ABI: the
// entry's result is the object. On Windows the DLL speaks a Microsoft-built
// host's ABI, and the program talks to it only through that boundary: the
// object is a CMsPluginProxy (cli/host/MsPluginProxy.h) in front of the
// DLL's Microsoft-layout object. The backend is chosen in CMake.
//
// Ownership: the caller owns the returned object and deletes it before the
// library is unloaded.
// Failure: null when the library made no object.
// Threads: any thread; each object is used by one thread at a time.
#ifndef VERSEWELL_CLI_HOST_PLUGIN_OBJECTS_H
#define VERSEWELL_CLI_HOST_PLUGIN_OBJECTS_H

#include <versewell/plugin.h>

namespace cli {

// `entry` is the address of the library's exported GetDllInterface.
CLyricsDllInterface* CreatePluginObject(void* entry);

}  // namespace cli

#endif  // VERSEWELL_CLI_HOST_PLUGIN_OBJECTS_H
