// GetLeadingChar: the character that names an artist's cache file and index
// page. See search/LocalCache.h for the contract.
#include "search/LocalCache.h"

bool GetLeadingChar(const wchar_t* name, wchar_t& c, wchar_t digitReplacement, bool lowerCase) {
  c = 0;
  if (name == nullptr) return false;
  const wchar_t first = name[0];
  if (first >= L'0' && first <= L'9') {
    c = digitReplacement != 0 ? digitReplacement : first;
    return true;
  }
  if (first >= L'a' && first <= L'z') {
    c = lowerCase ? first : static_cast<wchar_t>(first - 0x20);
    return true;
  }
  if (first >= L'A' && first <= L'Z') {
    c = lowerCase ? static_cast<wchar_t>(first + 0x20) : first;
    return true;
  }
  return false;
}
