// Helpers shared by the libFuzzer programs in this folder.
//
// Each program is one LLVMFuzzerTestOneInput over arbitrary bytes; a broken
// property ends the run through FuzzCheck (abort with a message), which
// libFuzzer reports as a crash and saves the input. The plug-in object, its
// host and the scripted transport live for the whole process: building a
// plug-in object reads the module file for its fingerprint, far too slow to
// do per input. Single-threaded, as libFuzzer runs its inputs.
#ifndef VERSEWELL_FUZZ_FUZZ_SUPPORT_H
#define VERSEWELL_FUZZ_FUZZ_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/HttpTransport.h"
#include "plugin/Versewell.h"
#include "support/FakeHttpTransport.h"
#include "support/TestHost.h"

inline void FuzzCheck(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "property broken: %s\n", what);
  std::abort();
}

// One wide character per byte (Latin-1): every byte value reaches the code
// under test as itself, "&", "#", digits and ";" included.
inline std::wstring BytesToWide(const uint8_t* data, size_t size) {
  return std::wstring(data, data + size);
}

// Wide text from bytes, two bytes per character (little-endian), so that
// the whole BMP is reachable; an odd last byte is one more character.
inline std::wstring BytesToWide16(const uint8_t* data, size_t size) {
  std::wstring out;
  out.reserve(size / 2 + 1);
  for (size_t i = 0; i < size; i += 2)
    out.push_back(static_cast<wchar_t>(data[i] | (i + 1 < size ? data[i + 1] << 8 : 0)));
  return out;
}

inline bool HasLineBreakOrNul(const std::wstring& text) {
  return text.find_first_of(std::wstring(L"\r\n\0", 3)) != std::wstring::npos;
}

// A plug-in object whose downloads all go to a scripted transport. The
// object and its helpers are never destroyed (the process ends with them).
struct CFuzzPlugin {
  CFakeHttpTransport* pTransport;
  CTestHost* pHost;
  CVersewell* pPlugin;

  explicit CFuzzPlugin(CFakeHttpTransport* transport, CVersewell* plugin = nullptr) : pTransport(transport) {
    platform::SetHttpTransportForTesting(pTransport);
    pHost = new CTestHost();
    pPlugin = plugin != nullptr ? plugin : new CVersewell();
    pPlugin->SetHostCallback(pHost);
  }
};

#endif  // VERSEWELL_FUZZ_FUZZ_SUPPORT_H
