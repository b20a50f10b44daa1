// The buffer conversions of the text file reader: GetWideLength ...
// ToNarrowGrow. None of them raises; every failure gives 0.
#include <cstring>
#include <new>

#include "platform/CodePage.h"
#include "text/CodePageConversion.h"

namespace {

UINT ResolveSystemAnsi(int codePage) {
  return codePage == CODEPAGE_SYSTEM_ANSI ? platform::GetACP() : static_cast<UINT>(codePage);
}

DWORD WideFlags(UINT codePage) { return codePage == CP_UTF8 ? 0 : platform::MB_PRECOMPOSED; }
DWORD NarrowFlags(UINT codePage) {
  return codePage == CP_UTF8 ? 0 : platform::WC_COMPOSITECHECK | platform::WC_SEPCHARS;
}

}  // namespace

int GetWideLength(const char* source, int codePage) {
  if (source == nullptr) return 0;
  try {
    UINT cp = ResolveSystemAnsi(codePage);
    return platform::MultiByteToWideChar(cp, WideFlags(cp), source, -1, nullptr, 0);
  } catch (...) {
    return 0;
  }
}

int ToWideBuffer(const char* source, wchar_t* destination, int count, int codePage) {
  // A count of 0 would turn the conversion into a size query and report a
  // length for text that was never written.
  if (source == nullptr || destination == nullptr || count <= 0) return 0;
  try {
    UINT cp = ResolveSystemAnsi(codePage);
    std::memset(destination, 0, static_cast<size_t>(count) * sizeof(wchar_t));
    int result = platform::MultiByteToWideChar(cp, WideFlags(cp), source, -1, destination, count);
    return result > 0 ? result - 1 : 0;
  } catch (...) {
    return 0;
  }
}

int ToWideGrow(const char* source, CTemplateSmartPtrArray<wchar_t>& holder, int capacity, int codePage) {
  try {
    int needed = GetWideLength(source, codePage);
    if (needed > capacity) {
      wchar_t* array = new (std::nothrow) wchar_t[static_cast<size_t>(needed)];
      if (array == nullptr) return 0;
      holder.Set(array, true);
      capacity = needed;
    }
    return ToWideBuffer(source, holder.Get(), capacity, codePage);
  } catch (...) {
    return 0;
  }
}

int GetNarrowLength(const wchar_t* source, int codePage) {
  if (source == nullptr) return 0;
  try {
    UINT cp = ResolveSystemAnsi(codePage);
    return platform::WideCharToMultiByte(cp, NarrowFlags(cp), source, -1, nullptr, 0, nullptr, nullptr);
  } catch (...) {
    return 0;
  }
}

int ToNarrowBuffer(const wchar_t* source, char* destination, int size, int codePage, char defaultChar) {
  if (size <= 0 || source == nullptr || destination == nullptr) return 0;
  try {
    std::memset(destination, 0, static_cast<size_t>(size));
    UINT cp = ResolveSystemAnsi(codePage);
    int result;
    if (cp == CP_UTF8) {
      result = platform::WideCharToMultiByte(cp, 0, source, -1, destination, size, nullptr, nullptr);
    } else {
      BOOL usedDefault = 0;  // reported, not read
      result = platform::WideCharToMultiByte(cp, NarrowFlags(cp), source, -1, destination, size, &defaultChar,
                                             &usedDefault);
    }
    return result > 0 ? result - 1 : 0;
  } catch (...) {
    return 0;
  }
}

int ToNarrowGrow(const wchar_t* source, CTemplateSmartPtrArray<char>& holder, int capacity, int codePage,
                 char defaultChar) {
  try {
    int needed = GetNarrowLength(source, codePage);
    if (needed > capacity) {
      char* array = new (std::nothrow) char[static_cast<size_t>(needed)];
      if (array == nullptr) return 0;
      holder.Set(array, true);
      capacity = needed;
    }
    return ToNarrowBuffer(source, holder.Get(), capacity, codePage, defaultChar);
  } catch (...) {
    return 0;
  }
}
