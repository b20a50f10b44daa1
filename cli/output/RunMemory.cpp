#include "cli/output/RunMemory.h"

#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

#include "cli/output/AtomicFile.h"
#include "cli/sys/PathText.h"
#include "cli/sys/TextConvert.h"

namespace cli {
namespace fs = std::filesystem;
namespace {

std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '%': out += "%25"; break;
      case '\t': out += "%09"; break;
      case '\r': out += "%0D"; break;
      case '\n': out += "%0A"; break;
      default: out += c;
    }
  }
  return out;
}

std::string Unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      const std::string code = text.substr(i + 1, 2);
      char c = code == "25" ? '%' : code == "09" ? '\t' : code == "0D" ? '\r' : code == "0A" ? '\n' : 0;
      if (c != 0) {
        out += c;
        i += 2;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

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
  std::error_code ec;
  if (!fs::exists(PathFromUtf8(m_strPath), ec)) return true;
  std::ifstream in(PathFromUtf8(m_strPath), std::ios::binary);
  if (!in) {
    error = "cannot read " + m_strPath;
    return false;
  }
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> fields = Fields(line);
    if (fields.size() != 4 || fields[1].size() != 10) continue;
    SEntry entry;
    if (fields[0] == "instrumental") entry.eKind = EKind::Instrumental;
    else if (fields[0] == "withheld") entry.eKind = EKind::Withheld;
    else if (fields[0] == "missing") entry.eKind = EKind::Missing;
    else continue;
    entry.strDate = fields[1];
    entry.strArtist = Unescape(fields[2]);
    entry.strTitle = Unescape(fields[3]);
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
  for (const auto& [key, entry] : m_mapEntries)
    text += std::string(KindName(entry.eKind)) + "\t" + entry.strDate + "\t" + Escape(entry.strArtist) + "\t" +
            Escape(entry.strTitle) + "\n";
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
  m_mapEntries[Key(artist, title)] = {kind, Today(), artist, title};
  m_bChanged = true;
}

void CRunMemory::Forget(const std::string& artist, const std::string& title) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_mapEntries.erase(Key(artist, title)) > 0) m_bChanged = true;
}

}  // namespace cli
