#include "cli/output/AtomicFile.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <system_error>
#include <thread>

#include "cli/sys/HostPlatform.h"
#include "cli/sys/PathText.h"

namespace cli {
namespace fs = std::filesystem;

namespace {

const char JOURNAL_MAGIC[] = "versewell journal 1\n";
// How long an edit waits for another program's lock on the same file.
constexpr int LOCK_WAIT_STEPS = 100;  // of 50 ms

std::string Reason(int code) { return safesys::ErrorText(code); }

// Copies from the start of `from` to the current position of `to`, to the
// end of `from`; `copied` receives the byte count.
bool CopyAll(safesys::Handle from, safesys::Handle to, uint64_t& copied, int& code) {
  copied = 0;
  if (!safesys::Seek(from, 0, code)) return false;
  std::vector<char> buffer(1 << 20);
  for (;;) {
    long long n = safesys::Read(from, buffer.data(), buffer.size(), code);
    if (n < 0) return false;
    if (n == 0) return true;
    if (!safesys::WriteAll(to, buffer.data(), static_cast<size_t>(n), code)) return false;
    copied += static_cast<uint64_t>(n);
  }
}

bool LockPatiently(safesys::Handle file, int& code) {
  for (int step = 0; step < LOCK_WAIT_STEPS; ++step) {
    if (safesys::Lock(file, false, code)) return true;
    if (!safesys::IsLockBusy(code) || hostplatform::StopRequested()) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

bool SameFileStill(const std::string& path, safesys::Handle file, const safesys::SIdentity& expected) {
  safesys::SIdentity now, atPath;
  int code = 0;
  return safesys::Identify(file, now, code) && now == expected && safesys::IdentifyPath(path, atPath, code) &&
         atPath.nDevice == expected.nDevice && atPath.nInode == expected.nInode;
}

std::string JournalHeader(const std::string& name, const safesys::SIdentity& identity) {
  return std::string(JOURNAL_MAGIC) + std::to_string(name.size()) + " " + std::to_string(identity.nDevice) + " " +
         std::to_string(identity.nInode) + " " + std::to_string(identity.nSize) + " " +
         std::to_string(identity.nModified) + "\n" + name + "\n";
}

// Writes the copy into the original in place, under a journal of the
// original's bytes (see the header).
bool OverwriteInPlace(const std::string& originalText, safesys::Handle original, const safesys::SIdentity& identity,
                      CNewFile& copy, std::string& error) {
  const std::string folder = FolderOf(originalText);
  CNewFile journal;
  if (!journal.Create(folder, originalText, error, JOURNAL_FILE_SUFFIX)) return false;
  int code = 0;
  uint64_t copied = 0;
  const std::string header = JournalHeader(Utf8FromPath(PathFromUtf8(originalText).filename()), identity);
  if (!journal.Write(header, error)) return false;
  if (!CopyAll(original, journal.Handle(), copied, code) || copied != identity.nSize ||
      !safesys::Sync(journal.Handle(), code) || !safesys::SyncFolder(folder, code)) {
    error = "cannot write a journal beside " + originalText + ": " + Reason(code != 0 ? code : safesys::NoSpaceError());
    return false;
  }
  // From here until the original is flushed, the journal holds the old bytes.
  uint64_t written = 0;
  if (!safesys::Seek(original, 0, code) || !CopyAll(copy.Handle(), original, written, code) ||
      !safesys::Truncate(original, written, code) || !safesys::SetModified(original, identity, code) ||
      !safesys::Sync(original, code)) {
    error = "cannot write " + originalText + ": " + Reason(code);
    // Put the old bytes back now; if even that fails, the journal stays
    // for the next run.
    int ignored = 0;
    uint64_t restored = 0;
    if (safesys::Seek(journal.Handle(), header.size(), ignored)) {
      // CopyAll starts at 0; copy the payload by hand.
      std::vector<char> buffer(1 << 20);
      bool ok = safesys::Seek(original, 0, ignored);
      long long n;
      while (ok && (n = safesys::Read(journal.Handle(), buffer.data(), buffer.size(), ignored)) > 0) {
        ok = safesys::WriteAll(original, buffer.data(), static_cast<size_t>(n), ignored);
        restored += static_cast<uint64_t>(n);
      }
      if (ok && restored == identity.nSize && safesys::Truncate(original, restored, ignored) &&
          safesys::SetModified(original, identity, ignored) && safesys::Sync(original, ignored)) {
        journal.Discard();
        return false;
      }
    }
    journal.Keep();
    return false;
  }
  journal.Discard();
  safesys::SyncFolder(folder, code);
  return true;
}

bool ParseJournal(safesys::Handle journal, std::string& name, safesys::SIdentity& identity, uint64_t& payloadAt,
                  uint64_t& journalSize) {
  char buffer[1024];
  int code = 0;
  long long n = safesys::Read(journal, buffer, sizeof buffer, code);
  if (n <= 0) return false;
  std::string head(buffer, static_cast<size_t>(n));
  const size_t magic = sizeof JOURNAL_MAGIC - 1;
  if (head.compare(0, magic, JOURNAL_MAGIC) != 0) return false;
  size_t lineEnd = head.find('\n', magic);
  if (lineEnd == std::string::npos) return false;
  std::istringstream numbers(head.substr(magic, lineEnd - magic));
  size_t nameSize = 0;
  if (!(numbers >> nameSize >> identity.nDevice >> identity.nInode >> identity.nSize >> identity.nModified))
    return false;
  if (lineEnd + 1 + nameSize + 1 > head.size() || head[lineEnd + 1 + nameSize] != '\n') return false;
  name = head.substr(lineEnd + 1, nameSize);
  payloadAt = lineEnd + 1 + nameSize + 1;
  safesys::SIdentity self;
  if (!safesys::Identify(journal, self, code)) return false;
  journalSize = self.nSize;
  return name.find('/') == std::string::npos && name.find('\\') == std::string::npos && !name.empty();
}

}  // namespace

bool WriteFileAtomically(const std::string& destination, const std::string& content, std::string& error) {
  return WriteFileSafely(destination, content, error);
}

bool EditFileAtomically(const std::string& originalText, const SEditRules& rules, const FEditCopy& edit,
                        const FVerifyCopy& verify, std::string& error) {
  std::error_code ec;
  fs::file_status status = fs::symlink_status(PathFromUtf8(originalText), ec);
  // The permission bits count even for a user the system lets write anyway
  // (root): a file its owner made read-only is left alone.
  const fs::perms writeBits = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
  if (!ec && fs::is_regular_file(status) && (status.permissions() & writeBits) == fs::perms::none) {
    error = "cannot write " + originalText + ": the file is read-only";
    return false;
  }
  int code = 0;
  safesys::Handle original = safesys::OpenRegular(originalText, true, false, code);
  if (original == safesys::NO_HANDLE) {
    error = "cannot write " + originalText + ": " + Reason(code);
    return false;
  }
  struct SCloser {
    safesys::Handle h;
    ~SCloser() { safesys::Close(h); }
  } closer{original};
  if (!LockPatiently(original, code)) {
    error = "cannot lock " + originalText + ": " +
            (safesys::IsLockBusy(code) ? std::string("another program holds it") : Reason(code));
    return false;
  }
  safesys::SIdentity identity;
  if (!safesys::Identify(original, identity, code)) {
    error = "cannot examine " + originalText + ": " + Reason(code);
    return false;
  }
  if (rules.pExpected != nullptr && *rules.pExpected != identity) {
    error = originalText + " changed after its tags were read; left as it is";
    return false;
  }
  if (!rules.bChownOk && !safesys::CanKeepOwner(original)) {
    error = "cannot keep the owner and group of " + originalText + " (--chown-ok edits it anyway)";
    return false;
  }
  CNewFile copy;
  if (!copy.Create(FolderOf(originalText), originalText, error)) return false;
  uint64_t copied = 0;
  if (!CopyAll(original, copy.Handle(), copied, code)) {
    error = "cannot write beside " + originalText + ": " + Reason(code);
    return false;
  }
  if (copied != identity.nSize) {
    error = originalText + " changed while it was copied; left as it is";
    return false;
  }
  std::string reason;
  if (!edit(copy.Handle(), copy.Path(), reason) || !verify(original, copy.Handle(), reason)) {
    error = "cannot write " + originalText + ": " + reason;
    return false;
  }
  if (!safesys::Sync(copy.Handle(), code)) {
    error = "cannot write " + originalText + ": " + Reason(code);
    return false;
  }
  if (!SameFileStill(originalText, original, identity)) {
    error = originalText + " changed while its lyrics were written; left as it is";
    return false;
  }
  if (identity.nLinks > 1) return OverwriteInPlace(originalText, original, identity, copy, error);
  if (!safesys::KeepMetadata(original, copy.Handle(), rules.bChownOk, reason)) {
    error = "cannot write " + originalText + ": " + reason;
    return false;
  }
  return copy.Commit(originalText, error);
}

void RecoverJournals(const std::string& folder, std::vector<std::string>& notes) {
  std::error_code ec;
  std::vector<std::string> journals;
  for (fs::directory_iterator it(PathFromUtf8(folder), ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = Utf8FromPath(it->path().filename());
    const std::string suffix = JOURNAL_FILE_SUFFIX;
    if (IsOwnTemporaryName(name) && name.size() > suffix.size() &&
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
      journals.push_back(Utf8FromPath(it->path()));
  }
  for (const std::string& path : journals) {
    int code = 0;
    safesys::Handle journal = safesys::OpenRegular(path, false, false, code);
    if (journal == safesys::NO_HANDLE) continue;
    struct SCloser {
      safesys::Handle h;
      ~SCloser() { safesys::Close(h); }
    } closeJournal{journal};
    if (!safesys::Lock(journal, false, code)) continue;  // a live edit
    std::string name;
    safesys::SIdentity identity;
    uint64_t payloadAt = 0, journalSize = 0;
    if (!ParseJournal(journal, name, identity, payloadAt, journalSize)) {
      // Killed before its head was complete (an empty journal, most often):
      // the journal is synced before the original's first byte changes, so
      // the original was not touched yet.
      safesys::Remove(path, code);
      continue;
    }
    if (journalSize != payloadAt + identity.nSize) {
      // Cut short while it was written: the original was not touched yet.
      safesys::Remove(path, code);
      continue;
    }
    const std::string target = Utf8FromPath(PathFromUtf8(folder) / PathFromUtf8(name));
    safesys::Handle file = safesys::OpenRegular(target, true, false, code);
    if (file == safesys::NO_HANDLE) continue;
    struct SCloser closeFile{file};
    safesys::SIdentity now;
    if (!safesys::Lock(file, true, code) || !safesys::Identify(file, now, code) || now.nDevice != identity.nDevice ||
        now.nInode != identity.nInode)
      continue;  // not the file the journal was made for
    std::vector<char> buffer(1 << 20);
    bool ok = safesys::Seek(journal, payloadAt, code) && safesys::Seek(file, 0, code);
    uint64_t restored = 0;
    long long n;
    while (ok && (n = safesys::Read(journal, buffer.data(), buffer.size(), code)) > 0) {
      ok = safesys::WriteAll(file, buffer.data(), static_cast<size_t>(n), code);
      restored += static_cast<uint64_t>(n);
    }
    ok = ok && restored == identity.nSize && safesys::Truncate(file, restored, code) &&
         safesys::SetModified(file, identity, code) && safesys::Sync(file, code);
    if (ok && safesys::Remove(path, code)) {
      safesys::SyncFolder(folder, code);
      notes.push_back("restored " + target + " from an interrupted edit");
    } else {
      notes.push_back("cannot restore " + target + " from its journal: " + Reason(code));
    }
  }
}

}  // namespace cli
