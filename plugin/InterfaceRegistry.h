// CInterfaceRegistry: records every live plug-in object, in creation order,
// so that objects the host never deleted are deleted when the library is
// unloaded (oldest first, each exactly once).
//
// Ownership: holds plain pointers; owns the objects only at unload.
// Failure: construction raises std::bad_alloc when the lock cannot be made.
// Threads: Add, Remove and the unload loop hold m_cs (re-entrant, so the
//   deletions at unload may call Remove on the same thread).
#ifndef VERSEWELL_PLUGIN_INTERFACE_REGISTRY_H
#define VERSEWELL_PLUGIN_INTERFACE_REGISTRY_H

#include <versewell/plugin.h>

#include "platform/Array.h"
#include "platform/Sync.h"

class CInterfaceRegistry {
 public:
  CInterfaceRegistry();
  ~CInterfaceRegistry();
  CInterfaceRegistry(const CInterfaceRegistry&) = delete;
  CInterfaceRegistry& operator=(const CInterfaceRegistry&) = delete;

  // Appends `p` (no check for duplicates or null).
  void Add(CLyricsDllInterface* p);
  // Removes the first occurrence of `p`; a pointer not present changes
  // nothing. Returns at once for the object the registry itself is deleting.
  void Remove(CLyricsDllInterface* p);
  // Deletes every registered object, oldest first (the unload loop).
  void DeleteAll();

  int GetCount();
  CLyricsDllInterface* GetAt(int index);

 private:
  CLyricsDllInterface* m_pDeleting;
  CArray<CLyricsDllInterface*> m_arrInterfaces;
  CCriticalSection m_cs;
};

extern CInterfaceRegistry g_InterfaceRegistry;

#endif  // VERSEWELL_PLUGIN_INTERFACE_REGISTRY_H
