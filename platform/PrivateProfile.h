// Private-profile (INI) files: read one key, write one key, list the section
// names, with the results and buffer conventions of the Windows calls of the
// same names.
//
//   GetPrivateProfileString: copies the value of `key` in `section` (or
//     `defaultValue` when there is none) into `buffer` of `size` characters,
//     cut to size - 1 characters and always terminated; returns the number
//     of characters copied, without the terminator.
//   WritePrivateProfileString: creates the file if needed and sets the key,
//     replacing an existing value. False (and the last error) on failure.
//   WritePrivateProfileStrings: the writes of `count` entries to one file,
//     in order (of two writes to one key the later wins), with the result
//     of the one-by-one calls. Each entry's `written` tells its outcome; the
//     result is true when every entry was written. The default makes the
//     single calls; the posix backend takes the file's lock once and
//     appends every record with one write, which either lands whole or is
//     taken back, so a failure leaves the text before the batch.
//   GetPrivateProfileSectionNames: fills `buffer` with the section names in
//     file order, each terminated by 0, the list ended by an extra 0; returns
//     the characters written without the final 0. When the list does not fit
//     it is cut, ends in two 0s, and the result is size - 2.
//
// Section and key names compare without regard to case, for every letter
// with a simple case mapping. A file that does not exist reads as empty.
//
// The posix backend is our own (see platform/posix/PrivateProfile.cpp for
// the on-disk format); the Windows backend is Kernel32. Calls go through the
// current IPrivateProfile, which tests may replace with a fake
// (SetPrivateProfileForTesting). Any thread may call; installing a fake is
// for single-threaded test set-up. Nothing throws except std::bad_alloc.
#ifndef VERSEWELL_PLATFORM_PRIVATE_PROFILE_H
#define VERSEWELL_PLATFORM_PRIVATE_PROFILE_H

#include <cstddef>

#include "platform/Types.h"

namespace platform {

// One write of a batch (the texts are borrowed for the call).
struct CProfileWrite {
  const wchar_t* section = nullptr;
  const wchar_t* key = nullptr;
  const wchar_t* value = nullptr;
  bool written = false;  // set by the call
};

class IPrivateProfile {
 public:
  virtual ~IPrivateProfile() = default;
  virtual DWORD GetPrivateProfileString(const wchar_t* section, const wchar_t* key, const wchar_t* defaultValue,
                                        wchar_t* buffer, DWORD size, const wchar_t* file) = 0;
  virtual bool WritePrivateProfileString(const wchar_t* section, const wchar_t* key, const wchar_t* value,
                                         const wchar_t* file) = 0;
  virtual DWORD GetPrivateProfileSectionNames(wchar_t* buffer, DWORD size, const wchar_t* file) = 0;
  virtual bool WritePrivateProfileStrings(CProfileWrite* entries, size_t count, const wchar_t* file) {
    bool all = true;
    for (size_t i = 0; i < count; ++i) {
      entries[i].written = WritePrivateProfileString(entries[i].section, entries[i].key, entries[i].value, file);
      all = all && entries[i].written;
    }
    return all;
  }
};

// The backend's implementation.
IPrivateProfile& SystemPrivateProfile();
// Installs `profile` (not owned); null restores the system one. Returns the
// previously installed one (null for the system).
IPrivateProfile* SetPrivateProfileForTesting(IPrivateProfile* profile);

DWORD GetPrivateProfileString(const wchar_t* section, const wchar_t* key, const wchar_t* defaultValue,
                              wchar_t* buffer, DWORD size, const wchar_t* file);
bool WritePrivateProfileString(const wchar_t* section, const wchar_t* key, const wchar_t* value,
                               const wchar_t* file);
DWORD GetPrivateProfileSectionNames(wchar_t* buffer, DWORD size, const wchar_t* file);
bool WritePrivateProfileStrings(CProfileWrite* entries, size_t count, const wchar_t* file);

}  // namespace platform

#endif  // VERSEWELL_PLATFORM_PRIVATE_PROFILE_H
