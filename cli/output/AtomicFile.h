// Editing a user's existing file so that a crash, a kill, a full disk or a
// concurrent change never costs its content, and so that the file the user
// pointed at is the one that changes, with its owner, group, mode, extended
// attributes and modification time kept.
//
// An edit: the original is opened (never through a link, never a FIFO) and
// locked (flock/LockFileEx; a second editor waits); its identity (device,
// inode, size, modification and change times) must still be what the
// caller read; its bytes are copied into a new file beside it
// (cli/output/SafeFile.h), `edit` changes the copy and `verify` checks the
// result against the original, the copy is flushed, and the identity is
// checked once more, under the lock, just before the copy takes the
// original's place:
// - a file with one name: the copy gets the original's metadata and is
//   renamed over it;
// - a file with several hard links: the copy is written into the original
//   in place, so every name sees it. A journal file beside it
//   (".vw-XXXXXXXX.jnl": a header naming the file, then the original's
//   bytes) is complete and flushed before the first byte of the original
//   changes, and removed only after the original is flushed; RecoverJournals
//   (run by the next `library` run in that folder) puts an interrupted
//   original back from its journal. Every name then holds the old bytes or
//   the new ones.
//
// Failure: false with `error` saying what failed and the system's reason;
// the original is then as it was, and no temporary file stays.
// Threads: any thread; a second edit of the same file waits for the first.
#ifndef VERSEWELL_CLI_ATOMIC_FILE_H
#define VERSEWELL_CLI_ATOMIC_FILE_H

#include <functional>
#include <string>
#include <vector>

#include "cli/output/SafeFile.h"

namespace cli {

// Writes `content` to `destination` through a temporary file and a rename.
bool WriteFileAtomically(const std::string& destination, const std::string& content, std::string& error);

struct SEditRules {
  // The identity the caller read the file's tags under; null: take it now.
  const safesys::SIdentity* pExpected = nullptr;
  // Edit even when the owner or group cannot be kept (--chown-ok).
  bool bChownOk = false;
};

// Changes the copy (open as `copy`, named `copyPath`); false with `error`.
using FEditCopy = std::function<bool(safesys::Handle copy, const std::string& copyPath, std::string& error)>;
// Compares the edited copy with the original; false with `error`.
using FVerifyCopy = std::function<bool(safesys::Handle original, safesys::Handle copy, std::string& error)>;

bool EditFileAtomically(const std::string& original, const SEditRules& rules, const FEditCopy& edit,
                        const FVerifyCopy& verify, std::string& error);

// Puts back every original in `folder` whose hard-link edit was cut short
// (journals not held by a live process); says what it did in `notes`.
void RecoverJournals(const std::string& folder, std::vector<std::string>& notes);

}  // namespace cli

#endif  // VERSEWELL_CLI_ATOMIC_FILE_H
