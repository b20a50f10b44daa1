// The library's one export.
#include <exception>
#include <memory>
#include <string>

#include <versewell/plugin.h>

#include "diag/TraceLevels.h"
#include "diag/TraceLog.h"
#include "platform/Export.h"
#include "plugin/InterfaceRegistry.h"
#include "plugin/Versewell.h"

extern "C" VERSEWELL_EXPORT CLyricsDllInterface* GetDllInterface() {
  // Nothing is registered when allocation or construction fails. Where the
  // platform lets an allocation failure reach the host, it does; otherwise
  // (Windows) the host gets a null object and the trace log one line.
  std::unique_ptr<CVersewell> object;
  try {
    object.reset(new CVersewell());
    g_InterfaceRegistry.Add(object.get());
  } catch (const std::exception& e) {
    object.reset();  // its Remove() finds nothing to remove
    if (VERSEWELL_EXPORT_ALLOCATION_FAILURE_THROWS) throw;
    try {
      std::wstring message(L"GetDllInterface(): no plug-in object: ");
      for (const char* p = e.what(); *p != '\0'; ++p) message += static_cast<wchar_t>(static_cast<unsigned char>(*p));
      g_TraceLog.Log(TRACE_ERROR, message.c_str());
    } catch (...) {
    }
    return nullptr;
  }
  return object.release();
}
