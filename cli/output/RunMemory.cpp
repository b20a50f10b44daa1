#include "cli/output/RunMemory.h"

#include <ctime>
#include <filesystem>
#include <iterator>
#include <system_error>
#include <vector>

#include "cli/output/AtomicFile.h"
#include "cli/output/FieldEscape.h"
#include "cli/output/SafeFile.h"
#include "cli/sys/SafeFileSystem.h"
#include "cli/sys/PathText.h"
#include "cli/sys/TextConvert.h"

namespace cli {
namespace fs = std::filesystem;
namespace {

// Far beyond any real library; a larger file is not ours.
constexpr uint64_t MAX_MEMORY_BYTES = 64ull << 20;

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) return fields;
    start = tab + 1;
  }
}

}  // namespace

CRunMemory::CRunMemory(std::string folder) : m_strFolder(std::move(folder)) {
  if (!m_strFolder.empty()) m_strPath = Utf8FromPath(PathFromUtf8(m_strFolder) / MEMORY_FILE_NAME);
}

const char* CRunMemory::KindName(EKind kind) {
  switch (kind) {
    case EKind::Instrumental: return "instrumental";
    case EKind::Withheld: return "withheld";
    case EKind::Missing: return "missing";
    case EKind::Saved: return "saved";
  }
  return "missing";
}

std::string CRunMemory::Today() {
  // std::gmtime shares one buffer: callers hold m_mutex or are alone.
  std::time_t now = std::time(nullptr);
  const std::tm* parts = std::gmtime(&now);
  char text[16] = "";
  if (parts != nullptr) std::strftime(text, sizeof text, "%Y-%m-%d", parts);
  return text;
}

std::string CRunMemory::Key(const std::string& artist, const std::string& title) {
  return WideToUtf8(FoldCase(TrimWide(Utf8ToWide(artist)))) + "\t" + WideToUtf8(FoldCase(TrimWide(Utf8ToWide(title))));
}

bool CRunMemory::Load(std::string& error) {
  if (!Active()) return true;
  // Never through a link, never waiting on a FIFO: the file is ours.
  std::string text;
  int code = 0;
  if (!ReadRegularFile(m_strPath, text, code, MAX_MEMORY_BYTES)) {
    if (safesys::IsNotFound(code)) return true;
    error = "cannot read " + m_strPath + ": " + safesys::ErrorText(code);
    return false;
  }
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::vector<std::string> fields = Fields(text.substr(start, end - start));
    start = end + 1;
    if (fields.size() < 4 || fields[1].size() != 10) continue;
    SEntry entry;
    if (fields[0] == "instrumental") entry.eKind = EKind::Instrumental;
    else if (fields[0] == "withheld") entry.eKind = EKind::Withheld;
    else if (fields[0] == "missing") entry.eKind = EKind::Missing;
    else if (fields[0] == "saved") entry.eKind = EKind::Saved;
    else continue;
    if (fields.size() != (entry.eKind == EKind::Saved ? 7u : 4u)) continue;
    entry.strDate = fields[1];
    entry.strArtist = UnescapeField(fields[2]);
    entry.strTitle = UnescapeField(fields[3]);
    if (entry.eKind == EKind::Saved) {
      entry.strAddress = UnescapeField(fields[4]);
      entry.strPageArtist = UnescapeField(fields[5]);
      entry.strPageTitle = UnescapeField(fields[6]);
      if (entry.strAddress.empty()) continue;
    }
    m_mapEntries[Key(entry.strArtist, entry.strTitle)] = entry;
  }
  return true;
}

bool CRunMemory::Save(std::string& error) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (!Active() || !m_bChanged) return true;
  std::error_code ec;
  if (m_mapEntries.empty()) {
    fs::remove(PathFromUtf8(m_strPath), ec);
    return true;
  }
  std::string text;
  for (const auto& [key, entry] : m_mapEntries) {
    text += std::string(KindName(entry.eKind)) + "\t" + entry.strDate + "\t" + EscapeField(entry.strArtist) + "\t" +
            EscapeField(entry.strTitle);
    if (entry.eKind == EKind::Saved)
      text += "\t" + EscapeField(entry.strAddress) + "\t" + EscapeField(entry.strPageArtist) + "\t" +
              EscapeField(entry.strPageTitle);
    text += "\n";
  }
  if (!WriteFileAtomically(m_strPath, text, error)) return false;
  m_bChanged = false;
  return true;
}

std::optional<CRunMemory::SEntry> CRunMemory::Find(const std::string& artist, const std::string& title) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  auto it = m_mapEntries.find(Key(artist, title));
  if (it == m_mapEntries.end()) return std::nullopt;
  return it->second;
}

void CRunMemory::Record(EKind kind, const std::string& artist, const std::string& title) {
  std::lock_guard<std::mutex> lock(m_mutex);
  SEntry entry;
  entry.eKind = kind;
  entry.strDate = Today();
  entry.strArtist = artist;
  entry.strTitle = title;
  m_mapEntries[Key(artist, title)] = std::move(entry);
  m_bChanged = true;
}

void CRunMemory::RecordSaved(SEntry entry) {
  std::lock_guard<std::mutex> lock(m_mutex);
  entry.eKind = EKind::Saved;
  entry.strDate = Today();
  const std::string key = Key(entry.strArtist, entry.strTitle);
  auto it = m_mapEntries.find(key);
  // A rerun that finds the song saved again changes nothing on disk.
  if (it != m_mapEntries.end() && it->second.eKind == EKind::Saved && it->second.strAddress == entry.strAddress &&
      it->second.strPageArtist == entry.strPageArtist && it->second.strPageTitle == entry.strPageTitle)
    return;
  m_mapEntries[key] = std::move(entry);
  m_bChanged = true;
}

void CRunMemory::Forget(const std::string& artist, const std::string& title) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_mapEntries.erase(Key(artist, title)) > 0) m_bChanged = true;
}

}  // namespace cli
