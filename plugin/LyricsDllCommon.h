// CLyricsDllCommon: what every lyrics plug-in shares on top of the common
// machinery. It adds no fields; ExtraSearch is not supported (always 0).
#ifndef VERSEWELL_PLUGIN_LYRICS_DLL_COMMON_H
#define VERSEWELL_PLUGIN_LYRICS_DLL_COMMON_H

#include "plugin/CommonDllInterface.h"

class CLyricsDllCommon : public CCommonDllInterface<CLyricsDllInterface> {
 public:
  // Slot 8: lyrics plug-ins do not support this search.
  BOOL ExtraSearch(int, int, int, int) override { return 0; }
};

#endif  // VERSEWELL_PLUGIN_LYRICS_DLL_COMMON_H
