// The INI module across processes: a writer killed at random moments never
// leaves a file that fails to parse or lacks a completed entry, and two
// processes writing one file at once lose nothing, also while compactions
// replace the file under each other. The writers are this program run again
// as child processes (support/ChildProcess.h), so the same test holds for
// every backend.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/PrivateProfile.h"
#include "support/ChildProcess.h"
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

// Reads every number the child reported before it died; a partial number is
// a write that was not reported.
std::vector<int> DrainReports(CChildProcess& child) {
  std::vector<int> out;
  int k;
  while (child.ReadExactly(&k, sizeof k)) out.push_back(k);
  return out;
}

// The killed writer: writes names from args[1] on, reporting each number
// once its write has returned. Runs until killed.
VW_CHILD_ROLE(ProfileKillWriter) {
  if (args.size() != 2) return 2;
  const std::wstring file = FromUtf8(args[0]);
  for (int k = std::stoi(args[1]);; ++k) {
    if (!platform::WritePrivateProfileString(KillName(k).c_str(), L"ArtistUrl", KillValue(k).c_str(), file.c_str()))
      return 3;
    if (!WriteToParent(&k, sizeof k)) return 4;
  }
}

const int SHARED_WRITES = 900, OWN_NAMES = 150;

// One of the two writers sharing a file: own names, each overwritten several
// times (so compactions run), and names both processes write.
VW_CHILD_ROLE(ProfileSharedWriter) {
  if (args.size() != 2) return 2;
  const std::wstring file = FromUtf8(args[0]);
  const int c = std::stoi(args[1]);
  for (int k = 0; k < SHARED_WRITES; ++k) {
    const std::wstring own = L"P" + std::to_wstring(c) + L" " + std::to_wstring(k % OWN_NAMES);
    const std::wstring shared = L"Shared " + std::to_wstring(k % 7);
    const std::wstring value = L"/" + std::to_wstring(c) + L"/" + std::to_wstring(k) + std::wstring(40, L'x');
    if (!platform::WritePrivateProfileString(own.c_str(), L"ArtistUrl", value.c_str(), file.c_str())) return 3;
    if (k % 5 == 0 && !platform::WritePrivateProfileString(shared.c_str(), L"ArtistUrl", value.c_str(), file.c_str()))
      return 4;
  }
  return 0;
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
    const int start = next;
    CChildProcess child("ProfileKillWriter", {dir.File("K.ARTISTCACHE"), std::to_string(start)});
    ASSERT_TRUE(child.Started());
    std::vector<int> early;
    const int waitFor = 1 + static_cast<int>(rng() % 12);
    for (int k; static_cast<int>(early.size()) < waitFor && child.ReadExactly(&k, sizeof k);) early.push_back(k);
    // Then kill somewhere inside the following writes (or a compaction).
    std::this_thread::sleep_for(std::chrono::microseconds(rng() % 3000));
    child.Kill();
    const CChildExit exit = child.Wait();
    ASSERT_TRUE(exit.bKilled) << "the writer stopped by itself: " << exit.nCode;
    ASSERT_EQ(static_cast<int>(early.size()), waitFor) << "the writer died before reporting";
    std::vector<int> reports = early;
    for (int k : DrainReports(child)) reports.push_back(k);
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
  const int writes = SHARED_WRITES, ownNames = OWN_NAMES;
  CChildProcess first("ProfileSharedWriter", {dir.File("T.ARTISTCACHE"), "0"});
  CChildProcess second("ProfileSharedWriter", {dir.File("T.ARTISTCACHE"), "1"});
  ASSERT_TRUE(first.Started());
  ASSERT_TRUE(second.Started());
  for (CChildProcess* child : {&first, &second}) {
    const CChildExit exit = child->Wait();
    ASSERT_FALSE(exit.bKilled);
    EXPECT_EQ(exit.nCode, 0);
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
