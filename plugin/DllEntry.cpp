// The library's one export.
#include <versewell/plugin.h>

#include "platform/Export.h"
#include "plugin/InterfaceRegistry.h"
#include "plugin/Versewell.h"

extern "C" VERSEWELL_EXPORT CLyricsDllInterface* GetDllInterface() {
  // An exception from allocation or construction reaches the caller;
  // nothing is registered then.
  CVersewell* object = new CVersewell();
  try {
    g_InterfaceRegistry.Add(object);
  } catch (...) {
    delete object;  // its Remove() finds nothing to remove
    throw;
  }
  return object;
}
