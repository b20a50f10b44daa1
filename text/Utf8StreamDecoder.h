// CUtf8StreamDecoder: UTF-8 bytes that arrive in pieces (a page body as the
// transport hands it on) decoded into one wide string as they come, so the
// narrow body is never held whole.
//
// The result is exactly ConvertBytesToWide(all bytes, CP_UTF8): the text up
// to the first NUL byte, every maximal invalid subsequence one U+FFFD,
// whatever the pieces. A sequence cut by the end of a piece waits (at most
// three bytes) for the next piece; bytes after a NUL are ignored.
//
// Failure: a failed allocation is remembered, the rest ignored, and Finish
// gives an empty string after the "Malloc failed !!!" report, as
// ConvertBytesToWide does; nothing throws.
// Ownership: the object owns the growing result until Finish moves it out.
// Threads: one object, one thread at a time.
#ifndef VERSEWELL_TEXT_UTF8_STREAM_DECODER_H
#define VERSEWELL_TEXT_UTF8_STREAM_DECODER_H

#include <cstddef>
#include <string>

class CUtf8StreamDecoder {
 public:
  // Room for `bytes` more input bytes (one wide unit each at most); a hint.
  void Reserve(size_t bytes) noexcept;
  void Append(const char* data, size_t size) noexcept;
  // The decoded text, including what a sequence cut at the very end gives;
  // the object is empty afterwards.
  std::wstring Finish();

 private:
  void Decode(const unsigned char* p, size_t size) noexcept;
  void Flush() noexcept;

  std::wstring m_strText;
  unsigned char m_szCarry[4] = {};
  size_t m_nCarry = 0;
  bool m_bEnded = false;     // a NUL byte came
  bool m_bNoMemory = false;
};

// Decodes [p, p + size) as a whole and appends the text to `out` through a
// block on the stack; may raise std::bad_alloc. The one decoding loop behind
// CUtf8StreamDecoder and ConvertBytesToWide.
void AppendUtf8Text(const unsigned char* p, size_t size, std::wstring& out);

#endif  // VERSEWELL_TEXT_UTF8_STREAM_DECODER_H
