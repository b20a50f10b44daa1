// File and folder names built from text the wiki supplies: safe on every
// common file system, and never a way out of the output folder.
//
// SafeField turns one template field (an artist or a song title) into text
// that can only ever be part of a single path component: no path separators
// (/ and \), none of the characters Windows reserves (< > : " | ? *), no
// control characters (C0, DEL, C1) and no bidirectional overrides, no run of
// two or more dots, no leading or trailing dot or blank. Empty results become
// the caller's fallback.
//
// FinishComponent completes one component after the template has put fields
// and its own text together: it trims trailing dots and blanks, keeps clear
// of Windows device names (CON, NUL, COM1, ... with any extension, in any
// case), and shortens a component longer than `maxBytes` bytes of UTF-8 by
// cutting the text before the extension on a character boundary and adding
// "~" and ShortHash(address). The hash depends only on the page address,
// never on the order of a list, so the same page always gets the same name.
//
// Failure: none; everything has a safe result.
// Threads: pure functions; any thread.
#ifndef VERSEWELL_CLI_FILE_NAMES_H
#define VERSEWELL_CLI_FILE_NAMES_H

#include <cstddef>
#include <string>

namespace cli {

// Components are kept at least this far below the file system's limit, so
// that the temporary name a file is written under ("." name ".part-...")
// fits as well.
constexpr size_t TEMP_NAME_RESERVE = 40;

// The safe UTF-8 form of one field; `fallback` when nothing usable is left.
std::string SafeField(const std::wstring& value, const std::string& fallback);

// True for the names Windows treats as devices: the part before the first
// dot, without trailing blanks, is CON, PRN, AUX, NUL, CLOCK$, COM0-9 or
// LPT0-9 (any letter case).
bool IsReservedDeviceName(const std::string& component);

// Eight lower-case hex digits (FNV-1a, 32 bits) of the address.
std::string ShortHash(const std::string& address);

// Completes one path component; see the file comment. `maxBytes` is at
// least 24.
std::string FinishComponent(std::string component, const std::string& address, size_t maxBytes);

// Inserts " (n)" before the extension of the last component of a relative
// path ("a/Salt Road.txt", 2 -> "a/Salt Road (2).txt"); n = 1 returns the
// path unchanged.
std::string NumberedVariant(const std::string& path, unsigned n);

}  // namespace cli

#endif  // VERSEWELL_CLI_FILE_NAMES_H
