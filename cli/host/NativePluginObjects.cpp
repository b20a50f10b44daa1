// Linux: the library's objects are this program's objects (same toolchain).
#include "cli/host/PluginObjects.h"

namespace cli {

CLyricsDllInterface* CreatePluginObject(void* entry) { return reinterpret_cast<PFN_GetDllInterface>(entry)(); }

}  // namespace cli
