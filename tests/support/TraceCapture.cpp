#include "support/TraceCapture.h"

#include "diag/TraceFileWriter.h"
#include "diag/TraceLog.h"

CTraceCapture::CTraceCapture(int level, const wchar_t* sourceName) {
  g_TraceLog.Close();
  g_TraceLog.Open(m_dir.WPath().c_str(), sourceName, level);
}

CTraceCapture::~CTraceCapture() { g_TraceLog.Close(); }

std::wstring CTraceCapture::TraceFilePath() const { return g_TraceLog.GetTraceFilePath().GetString(); }

std::vector<std::wstring> CTraceCapture::Lines() const {
  std::vector<std::wstring> lines;
  std::string path = ToUtf8(TraceFilePath());
  if (path.empty() || !FileExists(path)) return lines;
  std::string bytes = ReadFileBytes(path);
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE)
    bytes.erase(0, 2);
  std::wstring text = DecodeUtf16Le(bytes);
  size_t pos = 0;
  for (size_t hit; (hit = text.find(L"\r\n", pos)) != std::wstring::npos; pos = hit + 2)
    lines.push_back(text.substr(pos, hit - pos));
  if (pos < text.size()) lines.push_back(text.substr(pos));
  return lines;
}

std::vector<std::wstring> CTraceCapture::Messages() const {
  std::vector<std::wstring> out;
  for (const std::wstring& line : Lines()) {
    // "hh:mm:ss.mmm TID TAG: message"
    size_t first = line.find(L' ');
    size_t second = first == std::wstring::npos ? first : line.find(L' ', first + 1);
    size_t colon = second == std::wstring::npos ? second : line.find(L": ", second);
    out.push_back(colon == std::wstring::npos ? line : line.substr(colon + 2));
  }
  return out;
}

bool CTraceCapture::Contains(const std::wstring& text) const {
  for (const std::wstring& m : Messages())
    if (m.find(text) != std::wstring::npos) return true;
  return false;
}

int CTraceCapture::Count(const std::wstring& text, int level) const {
  int n = 0;
  std::wstring tag = level > 0 ? CTraceFileWriter::LevelTag(level) : L"";
  for (const std::wstring& line : Lines()) {
    size_t first = line.find(L' ');
    size_t second = first == std::wstring::npos ? first : line.find(L' ', first + 1);
    size_t colon = second == std::wstring::npos ? second : line.find(L": ", second);
    if (colon == std::wstring::npos) continue;
    std::wstring lineTag = line.substr(second + 1, colon - second - 1);
    if (line.substr(colon + 2) == text && (level <= 0 || lineTag == tag)) ++n;
  }
  return n;
}
