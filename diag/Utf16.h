// Encoding of wide text as UTF-16 little-endian bytes, the on-disk form of
// every file the system writes. Where wchar_t is 32 bits, characters above
// U+FFFF become surrogate pairs, a value that already is a surrogate code
// unit is written as that single unit, and values beyond U+10FFFF become
// U+FFFD. Pure functions; any thread.
#ifndef VERSEWELL_DIAG_UTF16_H
#define VERSEWELL_DIAG_UTF16_H

#include <string>

// The byte-order mark that opens every UTF-16LE file the system writes.
inline constexpr unsigned char UTF16LE_BOM[2] = {0xFF, 0xFE};

// Appends the UTF-16LE bytes of text[0..length) to `out`.
void AppendUtf16Le(const wchar_t* text, size_t length, std::string& out);

#endif  // VERSEWELL_DIAG_UTF16_H
