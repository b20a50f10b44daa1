// GetLyrics on an arbitrary page body: UTF-8 decoding of the downloaded
// bytes, then the lyrics box cut, break tags, tag stripping, reference
// decoding and trimming. The body arrives in two chunks split at a point the
// input chooses, so that a character split across reads is covered too.
//
// Properties: the body decoded as it arrives, in three pieces cut where the
// input chooses, is the body decoded whole; a result of 1 exactly when the lyrics are non-empty; the
// lyrics never start or end with white space; a page that holds U+FFFD (a
// byte sequence that did not decode) before its first NUL byte gives none. (Decoded references may
// bring in U+FFFD or a lone LF, so those are not properties of the text.)
#include <algorithm>
#include <cwctype>

#include "FuzzSupport.h"
#include "text/CodePageConversion.h"
#include "text/Utf8StreamDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static CFakeHttpTransport* s_transport = new CFakeHttpTransport();
  static CFuzzPlugin s_fuzz(s_transport);
  if (size == 0) return 0;
  const size_t split = size > 1 ? data[0] % size : 0;
  const std::string body(reinterpret_cast<const char*>(data) + 1, size - 1);
  // A fresh transport per input: it records every request's header lines,
  // which would otherwise pile up over millions of inputs.
  *s_transport = CFakeHttpTransport();
  if (split > 0 && split < body.size()) {
    s_transport->response.chunks.push_back(body.substr(0, split));
    s_transport->response.chunks.push_back(body.substr(split));
  } else {
    s_transport->response.chunks.push_back(body);
  }

  {
    CUtf8StreamDecoder decoder;
    const size_t second = split + (size > 2 ? data[size - 1] % (body.size() - std::min(split, body.size()) + 1) : 0);
    const size_t a = std::min(split, body.size()), b = std::min(second, body.size());
    decoder.Append(body.data(), a);
    decoder.Append(body.data() + a, b - a);
    decoder.Append(body.data() + b, body.size() - b);
    FuzzCheck(decoder.Finish() == ConvertBytesToWide(body, CP_UTF8), "decoded in pieces as decoded whole");
  }

  CString lyrics(L"previous");
  const BOOL found = s_fuzz.pPlugin->GetLyrics(CString(L"lyrics.wiki.example/wiki/A:B"), lyrics);
  const std::wstring& text = lyrics.Str();
  FuzzCheck((found == 1) == !text.empty(), "result 1 exactly when the lyrics are non-empty");
  FuzzCheck(found == 0 || found == 1, "BOOL result");
  // (The body is read up to its first NUL byte.)
  if (body.substr(0, body.find('\0')).find("\xEF\xBF\xBD") != std::string::npos)
    FuzzCheck(found == 0, "a page with U+FFFD gives nothing");
  if (!text.empty()) {
    FuzzCheck(!std::iswspace(text.front()) && !std::iswspace(text.back()), "lyrics are trimmed");
  }
  return 0;
}
