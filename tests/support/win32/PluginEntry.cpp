// Windows: the export is the Microsoft-ABI entry; objects come wrapped in
// versewell.exe's proxy.
#include "support/PluginEntry.h"

#include <atomic>

#include "cli/host/MsPluginProxy.h"
#include "cli/host/PluginObjects.h"
#include "support/LoadedLibrary.h"

namespace {

std::atomic<void*> g_entry{nullptr};

CLyricsDllInterface* ProxyEntry() { return cli::CreatePluginObject(g_entry.load()); }

}  // namespace

PFN_GetDllInterface FindPluginEntry(void* library) {
  void* entry = FindLibrarySymbol(library, "GetDllInterface");
  g_entry = entry;
  return entry != nullptr ? &ProxyEntry : nullptr;
}

void* PluginAllocation(CLyricsDllInterface* object) {
  return static_cast<cli::CMsPluginProxy*>(object)->Remote();
}
