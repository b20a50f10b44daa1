// The reversible escaping of private-profile section names, key names and
// values, shared by every backend so that a cache file means the same on
// each.
//
// A character that the INI syntax would read as structure is written as
// "\uXXXX" (or "\UXXXXXXXX" above U+FFFF): NUL, backslash, CR, LF and unpaired
// surrogates everywhere; "[", "]", "=", ";" in section names; "[", "=", ";"
// and a blank (space or tab) at either end in key names; and a blank at
// either end of a section name, because Kernel32 trims the blanks around a
// section name when it reads "[ name ]". In values: a blank or a double
// quote at either end, because Kernel32 trims a value's blanks and strips the
// quotes around it. Without this a name holding "]", CR or LF could inject a
// section, " a" and "a" would read as one section, and a value would lose
// characters.
//
// Pure functions; any thread may call them.
#ifndef VERSEWELL_PLATFORM_PROFILE_ESCAPE_H
#define VERSEWELL_PLATFORM_PROFILE_ESCAPE_H

#include <cstddef>
#include <string>

namespace platform {

enum class ProfilePart { SECTION, KEY, VALUE };

// True when `text[index]` (of a name `length` long) must be escaped in `part`.
bool ProfileNeedsEscape(ProfilePart part, wchar_t c, size_t index, size_t length);

// `text` escaped for `part`, as wide text. Where wchar_t is 16 bits a valid
// surrogate pair stays as it is and only an unpaired unit is escaped.
std::wstring ProfileEscape(ProfilePart part, const wchar_t* text, size_t length);

// Undoes the escaping into `out`. A backslash that does not start a
// well-formed escape, and an escaped 0 (which no name can hold), stay
// literal. A "\U" escape above U+FFFF becomes a surrogate pair where wchar_t
// is 16 bits.
void ProfileUnescape(const wchar_t* p, const wchar_t* end, std::wstring& out);

}  // namespace platform

#endif  // VERSEWELL_PLATFORM_PROFILE_ESCAPE_H
