#include "cli/output/AtomicFile.h"

#include <atomic>
#include <fstream>
#include <system_error>

#include "cli/sys/HostPlatform.h"
#include "cli/sys/PathText.h"

namespace cli {
namespace fs = std::filesystem;

namespace {

std::atomic<unsigned long> g_nTempCounter{0};

void RemoveQuietly(const fs::path& path) {
  std::error_code ignored;
  fs::remove(path, ignored);
}

// Flushes `temp` and renames it over `destination`; removes `temp` on failure.
bool Commit(const fs::path& temp, const fs::path& destination, std::string& error) {
  std::string reason;
  if (!hostplatform::SyncFile(Utf8FromPath(temp), reason)) {
    RemoveQuietly(temp);
    error = "cannot write " + Utf8FromPath(destination) + ": " + reason;
    return false;
  }
  std::error_code ec;
  fs::rename(temp, destination, ec);
  if (ec) {
    RemoveQuietly(temp);
    error = "cannot replace " + Utf8FromPath(destination) + ": " + ec.message();
    return false;
  }
  hostplatform::SyncFolder(Utf8FromPath(destination.parent_path()));
  return true;
}

}  // namespace

fs::path TempPathBeside(const fs::path& destination) {
  return destination.parent_path() /
         PathFromUtf8(std::string(TEMP_FILE_PREFIX) + std::to_string(hostplatform::ProcessId()) + "-" +
                      std::to_string(++g_nTempCounter) + "-" + Utf8FromPath(destination.filename()));
}

bool WriteFileAtomically(const std::string& destinationText, const std::string& content, std::string& error) {
  const fs::path destination = PathFromUtf8(destinationText);
  const fs::path temp = TempPathBeside(destination);
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) {
      std::error_code ec(errno, std::generic_category());
      error = "cannot write " + destinationText + ": " + ec.message();
      return false;
    }
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    out.flush();
    if (!out) {
      std::error_code ec(errno, std::generic_category());
      out.close();
      RemoveQuietly(temp);
      error = "cannot write " + destinationText + ": " + ec.message();
      return false;
    }
  }
  return Commit(temp, destination, error);
}

bool EditFileAtomically(const std::string& originalText,
                        const std::function<bool(const std::string& copy, std::string& error)>& edit,
                        std::string& error) {
  const fs::path original = PathFromUtf8(originalText);
  std::error_code ec;
  fs::file_status status = fs::status(original, ec);
  if (ec || !fs::is_regular_file(status)) {
    error = "cannot read " + originalText + (ec ? ": " + ec.message() : ": not a regular file");
    return false;
  }
  // The permission bits count even for a user the system lets write anyway
  // (root): a file its owner made read-only is left alone.
  const fs::perms writeBits = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
  if ((status.permissions() & writeBits) == fs::perms::none || !hostplatform::CanWrite(originalText)) {
    error = "cannot write " + originalText + ": the file is read-only";
    return false;
  }
  const fs::path temp = TempPathBeside(original);
  if (!fs::copy_file(original, temp, fs::copy_options::none, ec)) {
    RemoveQuietly(temp);
    error = "cannot write beside " + originalText + ": " + ec.message();
    return false;
  }
  fs::permissions(temp, status.permissions(), fs::perm_options::replace, ec);
  std::string reason;
  if (ec || !edit(Utf8FromPath(temp), reason)) {
    RemoveQuietly(temp);
    error = "cannot write " + originalText + ": " + (ec ? ec.message() : reason);
    return false;
  }
  return Commit(temp, original, error);
}

}  // namespace cli
