#include "platform/CodePageArguments.h"

#include <climits>
#include <cstring>
#include <cwchar>

#include "platform/CodePage.h"
#include "platform/ErrorText.h"

namespace platform {
namespace {

int Fail(DWORD error) {
  SetLastError(error);
  return 0;
}

}  // namespace

bool ConversionArgumentsValid(const void* source, int sourceLength, const void* destination, int destinationSize) {
  if (source == nullptr || sourceLength == 0 || sourceLength < -1 || destinationSize < 0 ||
      (destinationSize > 0 && destination == nullptr)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  return true;
}

int FailConversion(Utf8Outcome outcome) {
  switch (outcome) {
    case Utf8Outcome::kInvalid: return Fail(ERROR_NO_UNICODE_TRANSLATION);
    case Utf8Outcome::kOverflow: return Fail(ERROR_INSUFFICIENT_BUFFER);
    case Utf8Outcome::kNoMemory: return Fail(ERROR_NOT_ENOUGH_MEMORY);
    case Utf8Outcome::kBadCodePage: return Fail(ERROR_INVALID_PARAMETER);
    case Utf8Outcome::kOk: break;
  }
  return 0;
}

int Utf8ToWideChar(DWORD flags, const char* source, int sourceLength, wchar_t* destination, int destinationSize) {
  if ((flags & ~MB_ERR_INVALID_CHARS) != 0) return Fail(ERROR_INVALID_FLAGS);
  const size_t length = sourceLength == -1 ? std::strlen(source) + 1 : static_cast<size_t>(sourceLength);
  const unsigned char* p = reinterpret_cast<const unsigned char*>(source);
  size_t produced = 0;
  const Utf8Outcome outcome = DecodeUtf8(p, p + length, (flags & MB_ERR_INVALID_CHARS) != 0,
                                         destinationSize > 0 ? destination : nullptr,
                                         static_cast<size_t>(destinationSize), produced);
  if (outcome != Utf8Outcome::kOk) return FailConversion(outcome);
  if (produced > static_cast<size_t>(INT_MAX)) return Fail(ERROR_INVALID_PARAMETER);
  return static_cast<int>(produced);
}

int WideCharToUtf8(DWORD flags, const wchar_t* source, int sourceLength, char* destination, int destinationSize,
                   const char* defaultChar, BOOL* usedDefaultChar) {
  if ((flags & ~WC_ERR_INVALID_CHARS) != 0) return Fail(ERROR_INVALID_FLAGS);
  if (defaultChar != nullptr || usedDefaultChar != nullptr) return Fail(ERROR_INVALID_PARAMETER);
  const size_t length = sourceLength == -1 ? std::wcslen(source) + 1 : static_cast<size_t>(sourceLength);
  size_t produced = 0;
  const Utf8Outcome outcome = EncodeUtf8(source, source + length, (flags & WC_ERR_INVALID_CHARS) != 0,
                                         destinationSize > 0 ? destination : nullptr,
                                         static_cast<size_t>(destinationSize), produced);
  if (outcome != Utf8Outcome::kOk) return FailConversion(outcome);
  if (produced > static_cast<size_t>(INT_MAX)) return Fail(ERROR_INVALID_PARAMETER);
  return static_cast<int>(produced);
}

}  // namespace platform
