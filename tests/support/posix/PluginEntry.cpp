// Linux: the export is the entry; objects are the library's own.
#include "support/PluginEntry.h"

#include "support/LoadedLibrary.h"

PFN_GetDllInterface FindPluginEntry(void* library) {
  return reinterpret_cast<PFN_GetDllInterface>(FindLibrarySymbol(library, "GetDllInterface"));
}

void* PluginAllocation(CLyricsDllInterface* object) { return dynamic_cast<void*>(object); }
