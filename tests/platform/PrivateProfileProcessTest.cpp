// The INI module across processes: a writer killed at random moments never
// leaves a file that fails to parse or lacks a completed entry, and two
// processes writing one file at once lose nothing, also while compactions
// replace the file under each other.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/PrivateProfile.h"
#include "support/TempDir.h"

namespace {

const int KILL_NAMES = 150;

std::wstring KillName(int k) { return L"Name " + std::to_wstring(k % KILL_NAMES); }
std::wstring KillValue(int k) { return L"/v" + std::to_wstring(k) + L"/" + std::wstring(60, L'p'); }

// Parses the value back to its write number; -1 when it is not one.
int KillNumber(const std::wstring& value) {
  if (value.size() < 3 || value.compare(0, 2, L"/v") != 0) return -1;
  const size_t slash = value.find(L'/', 2);
  if (slash == std::wstring::npos || value.substr(slash + 1) != std::wstring(60, L'p')) return -1;
  return std::stoi(value.substr(2, slash - 2));
}

// Decodes our file strictly: BOM, CR LF lines, headers and key lines only.
// A cut-off last line is tolerated (a write can be cut only there).
bool ParseFile(const std::string& bytes, std::map<std::wstring, std::wstring>& values, std::string& error) {
  values.clear();
  if (bytes.empty()) return true;
  if (bytes.size() < 2 || bytes.compare(0, 2, "\xFF\xFE") != 0) {
    error = "no byte-order mark";
    return false;
  }
  std::wstring text;
  for (size_t k = 2; k + 1 < bytes.size(); k += 2)
    text += static_cast<wchar_t>(static_cast<unsigned char>(bytes[k]) | (static_cast<unsigned char>(bytes[k + 1]) << 8));
  std::wstring section;
  bool inSection = false;
  for (size_t pos = 0; pos < text.size();) {
    const size_t eol = text.find(L"\r\n", pos);
    if (eol == std::wstring::npos) break;  // cut-off last line
    const std::wstring line = text.substr(pos, eol - pos);
    pos = eol + 2;
    if (line.empty() || line[0] == L';') continue;  // blank lines and comments
    if (line[0] == L'[' && line.back() == L']') {
      section = line.substr(1, line.size() - 2);
      inSection = true;
    } else if (line.compare(0, 10, L"ArtistUrl=") == 0 && inSection) {
      values[section] = line.substr(10);
    } else {
      error = "bad line";
      return false;
    }
  }
  return true;
}

// Reads one number the child reported; false at EOF or on a short read.
bool ReadReport(int fd, int& k) {
  for (;;) {
    const ssize_t n = ::read(fd, &k, sizeof k);
    if (n == static_cast<ssize_t>(sizeof k)) return true;
    if (n < 0 && errno == EINTR) continue;
    return false;  // EOF; a partial number is a write that was not reported
  }
}

// Reads every number the child reported before it died.
std::vector<int> DrainReports(int fd) {
  std::vector<int> out;
  int k;
  while (ReadReport(fd, k)) out.push_back(k);
  return out;
}

}  // namespace

TEST(PrivateProfileProcesses, WriterKilledAtRandomMomentsLeavesAParsableCompleteFile) {
  CTempDir dir;
  const std::wstring file = FromUtf8(dir.File("K.ARTISTCACHE"));
  std::mt19937 rng(4242);
  std::map<std::wstring, int> completed;  // name -> newest write number reported complete
  int next = 0;
  // Progress is counted in reported writes, never in time: each round waits
  // for a few writes to complete and only then kills at a random moment, so
  // a slow machine or a sanitizer build does the same work as a fast one.
  // The loop ends once every name has a completed write (and at least 40
  // kills happened); the cap only turns a writer that makes no progress into
  // a failure instead of a hang.
  for (int round = 0; round < 40 || (completed.size() < static_cast<size_t>(KILL_NAMES) && round < 2000); ++round) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const int start = next;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::close(fds[0]);
      for (int k = start;; ++k) {
        if (!platform::WritePrivateProfileString(KillName(k).c_str(), L"ArtistUrl", KillValue(k).c_str(), file.c_str()))
          ::_exit(3);
        if (::write(fds[1], &k, sizeof k) != static_cast<ssize_t>(sizeof k)) ::_exit(4);
      }
    }
    ::close(fds[1]);
    std::vector<int> early;
    const int waitFor = 1 + static_cast<int>(rng() % 12);
    for (int k; static_cast<int>(early.size()) < waitFor && ReadReport(fds[0], k);) early.push_back(k);
    // Then kill somewhere inside the following writes (or a compaction).
    std::this_thread::sleep_for(std::chrono::microseconds(rng() % 3000));
    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer stopped by itself: " << WEXITSTATUS(status);
    ASSERT_EQ(static_cast<int>(early.size()), waitFor) << "the writer died before reporting";
    std::vector<int> reports = early;
    for (int k : DrainReports(fds[0])) reports.push_back(k);
    ::close(fds[0]);
    for (int k : reports) completed[KillName(k)] = k;
    // The write after the last reported one may or may not have landed.
    next = (reports.empty() ? start : reports.back() + 1) + 1;

    std::map<std::wstring, std::wstring> values;
    std::string error;
    ASSERT_TRUE(ParseFile(ReadFileBytes(dir.File("K.ARTISTCACHE")), values, error)) << "round " << round << ": " << error;
    for (const auto& entry : completed) {
      ASSERT_TRUE(values.count(entry.first)) << "round " << round << ": lost " << std::string(entry.first.begin(), entry.first.end());
      const int found = KillNumber(values[entry.first]);
      EXPECT_GE(found, entry.second) << "round " << round;
      EXPECT_LT(found, next) << "round " << round;
      // The module reads the same as the independent parser.
      wchar_t buffer[200];
      platform::GetPrivateProfileString(entry.first.c_str(), L"ArtistUrl", L"", buffer, 200, file.c_str());
      EXPECT_EQ(std::wstring(buffer), values[entry.first]);
    }
  }
  EXPECT_EQ(completed.size(), static_cast<size_t>(KILL_NAMES)) << "the writer made no progress";
}

TEST(PrivateProfileProcesses, TwoProcessesWritingOneFileLoseNothing) {
  CTempDir dir;
  const std::wstring file = FromUtf8(dir.File("T.ARTISTCACHE"));
  const int writes = 900, ownNames = 150;
  pid_t children[2];
  for (int c = 0; c < 2; ++c) {
    children[c] = ::fork();
    ASSERT_GE(children[c], 0);
    if (children[c] == 0) {
      for (int k = 0; k < writes; ++k) {
        // Own names, each overwritten several times (so compactions run),
        // and names both processes write.
        const std::wstring own = L"P" + std::to_wstring(c) + L" " + std::to_wstring(k % ownNames);
        const std::wstring shared = L"Shared " + std::to_wstring(k % 7);
        const std::wstring value = L"/" + std::to_wstring(c) + L"/" + std::to_wstring(k) + std::wstring(40, L'x');
        if (!platform::WritePrivateProfileString(own.c_str(), L"ArtistUrl", value.c_str(), file.c_str())) ::_exit(3);
        if (k % 5 == 0 &&
            !platform::WritePrivateProfileString(shared.c_str(), L"ArtistUrl", value.c_str(), file.c_str()))
          ::_exit(4);
      }
      ::_exit(0);
    }
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
  }
  std::map<std::wstring, std::wstring> values;
  std::string error;
  ASSERT_TRUE(ParseFile(ReadFileBytes(dir.File("T.ARTISTCACHE")), values, error)) << error;
  EXPECT_EQ(values.size(), static_cast<size_t>(2 * ownNames + 7));
  for (int c = 0; c < 2; ++c) {
    for (int n = 0; n < ownNames; ++n) {
      const std::wstring own = L"P" + std::to_wstring(c) + L" " + std::to_wstring(n);
      const int last = writes - ownNames + n;  // the final pass
      EXPECT_EQ(values[own], L"/" + std::to_wstring(c) + L"/" + std::to_wstring(last) + std::wstring(40, L'x'));
    }
  }
  std::vector<std::string> entries = dir.List();
  EXPECT_EQ(entries, (std::vector<std::string>{"T.ARTISTCACHE"}));
}
