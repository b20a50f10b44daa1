// Replacing a file so that a reader, a crash or a kill never sees it half
// written: the new content goes into a temporary file in the same folder,
// is flushed to the device, and is renamed over the destination.
//
// Paths are UTF-8 text (cli/sys/PathText.h). Temporary names begin with
// TEMP_FILE_PREFIX; folder walks skip them, and they never appear in
// messages (messages name the destination).
// Failure: false with `error` set to "<what failed>: <system's reason>"; the
// destination is then as it was, and the temporary file is removed.
// Threads: any thread; two threads must not replace the same file at once.
#ifndef VERSEWELL_CLI_ATOMIC_FILE_H
#define VERSEWELL_CLI_ATOMIC_FILE_H

#include <filesystem>
#include <functional>
#include <string>

namespace cli {

constexpr const char* TEMP_FILE_PREFIX = ".versewell-tmp-";

// A fresh temporary path beside `destination`, keeping its file name (and so
// its extension) at the end.
std::filesystem::path TempPathBeside(const std::filesystem::path& destination);

// Writes `content` to `destination` through a temporary file and a rename.
bool WriteFileAtomically(const std::string& destination, const std::string& content, std::string& error);

// Copies the existing `original` to a temporary file beside it, lets `edit`
// change the copy (it returns false with `error` set when it fails), flushes
// the copy and renames it over the original. The original's permission bits
// are kept. A file the process may not write is refused before anything is
// copied.
bool EditFileAtomically(const std::string& original,
                        const std::function<bool(const std::string& copy, std::string& error)>& edit,
                        std::string& error);

}  // namespace cli

#endif  // VERSEWELL_CLI_ATOMIC_FILE_H
