// Windows: every object goes through the Microsoft-ABI boundary.
#include "cli/host/MsPluginProxy.h"
#include "cli/host/PluginObjects.h"

namespace cli {

CLyricsDllInterface* CreatePluginObject(void* entry) {
  msabi::SPluginObject* remote = reinterpret_cast<PFN_GetMsDllInterface>(entry)();
  if (remote == nullptr) return nullptr;
  try {
    return new CMsPluginProxy(remote);
  } catch (...) {
    remote->vtbl->ScalarDeletingDtor(remote, 1);
    throw;
  }
}

}  // namespace cli
