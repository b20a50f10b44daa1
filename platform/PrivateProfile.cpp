// Routing of the INI calls to the installed profile module: the backend's
// own (SystemPrivateProfile) unless a test installed another one.
#include "platform/PrivateProfile.h"

#include <atomic>

namespace platform {
namespace {

std::atomic<IPrivateProfile*> g_currentProfile{nullptr};

IPrivateProfile& Current() {
  IPrivateProfile* p = g_currentProfile.load(std::memory_order_acquire);
  return p != nullptr ? *p : SystemPrivateProfile();
}

}  // namespace

IPrivateProfile* SetPrivateProfileForTesting(IPrivateProfile* profile) { return g_currentProfile.exchange(profile); }

DWORD GetPrivateProfileString(const wchar_t* section, const wchar_t* key, const wchar_t* defaultValue,
                              wchar_t* buffer, DWORD size, const wchar_t* file) {
  return Current().GetPrivateProfileString(section, key, defaultValue, buffer, size, file);
}
bool WritePrivateProfileString(const wchar_t* section, const wchar_t* key, const wchar_t* value,
                               const wchar_t* file) {
  return Current().WritePrivateProfileString(section, key, value, file);
}
DWORD GetPrivateProfileSectionNames(wchar_t* buffer, DWORD size, const wchar_t* file) {
  return Current().GetPrivateProfileSectionNames(buffer, size, file);
}
bool WritePrivateProfileStrings(CProfileWrite* entries, size_t count, const wchar_t* file) {
  return Current().WritePrivateProfileStrings(entries, count, file);
}

}  // namespace platform
