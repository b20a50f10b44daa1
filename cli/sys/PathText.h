// File-system paths and the UTF-8 text the program works in.
//
// The CLI keeps every path as UTF-8 text: arguments arrive as UTF-8 (on
// Windows wmain converts them), messages and JSON print UTF-8. std::filesystem
// must therefore never convert a path through its narrow-string constructor
// or path::string(): on Windows those use the C runtime's code page, which is
// not UTF-8 (msvcrt has no UTF-8 locale), so "Dvořák" would become another
// name or throw. PathFromUtf8 and Utf8FromPath convert exactly on every
// platform; on posix they copy the bytes, so names that are not valid UTF-8
// still pass through unchanged.
//
// Files opened through the C library go through hostplatform::OpenFile,
// which takes the same UTF-8 text.
//
// Failure: the conversions never fail (std::bad_alloc aside).
// Threads: pure functions; any thread.
#ifndef VERSEWELL_CLI_PATH_TEXT_H
#define VERSEWELL_CLI_PATH_TEXT_H

#include <filesystem>
#include <string>

namespace cli {

inline std::filesystem::path PathFromUtf8(const std::string& text) { return std::filesystem::u8path(text); }

inline std::string Utf8FromPath(const std::filesystem::path& path) { return path.u8string(); }

}  // namespace cli

#endif  // VERSEWELL_CLI_PATH_TEXT_H
