// PLACEHOLDER until the download front end lands: every download fails.
#include "plugin/CommonDllInterface.h"

template <>
BOOL CCommonDllInterface<CLyricsDllInterface>::Download(const CString& /*url*/, CString& page) {
  page.Empty();
  return 0;
}
