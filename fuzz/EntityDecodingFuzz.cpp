// DecodeHtmlEntities on arbitrary text, one character per input byte.
// Short inputs are compared with the straightforward procedure of
// tests/text/EntityOracle.h; every input must finish and leave no "&#n;"
// from 1 to 65535 undecoded.
#include "FuzzSupport.h"
#include "text/EntityOracle.h"
#include "text/HtmlEntities.h"

namespace {

// Whether a numeric reference from 1 to 65535 is still in the text.
bool HasDecodableReference(const std::wstring& s) {
  for (size_t i = 0; i + 1 < s.size(); ++i) {
    if (s[i] != L'&' || s[i + 1] != L'#') continue;
    size_t j = i + 2;
    long long value = 0;
    while (j < s.size() && s[j] >= L'0' && s[j] <= L'9') {
      value = std::min<long long>(value * 10 + (s[j] - L'0'), 1LL << 40);
      ++j;
    }
    if (j > i + 2 && j < s.size() && s[j] == L';' && value >= 1 && value <= 65535) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::wstring input = BytesToWide(data, size);
  std::wstring actual = input;
  DecodeHtmlEntities(actual);
  FuzzCheck(actual.size() <= input.size(), "decoding never lengthens the text");
  FuzzCheck(!HasDecodableReference(actual), "no decodable numeric reference is left");
  if (size <= 256) {
    std::wstring expected = input;
    entity_oracle::OracleDecode(expected, false);
    FuzzCheck(expected == actual, "same text as the straightforward procedure");
  }
  return 0;
}
