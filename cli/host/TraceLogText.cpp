#include "cli/host/TraceLogText.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "cli/sys/HostPlatform.h"
#include "cli/sys/PathText.h"
#include "cli/sys/TextConvert.h"

namespace cli {
namespace {

constexpr char32_t REPLACEMENT = 0xFFFD;

std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

// Length of the end of `bytes` that may be the start of an unfinished UTF-8
// sequence.
size_t UnfinishedUtf8Tail(const std::string& bytes) {
  size_t n = bytes.size();
  for (size_t back = 1; back <= 3 && back <= n; ++back) {
    unsigned char c = static_cast<unsigned char>(bytes[n - back]);
    if ((c & 0xC0) == 0x80) continue;  // continuation byte: keep looking for the lead
    size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    return length > back ? back : 0;
  }
  return 0;
}

}  // namespace

bool TraceLevelName(const std::string& value, std::string& name) {
  static const char* const NAMES[] = {"Error", "Warning", "Info", "Debug", "Detail", "Verbose"};
  for (const char* known : NAMES) {
    if (Lower(value) == Lower(known)) {
      name = known;
      return true;
    }
  }
  if (value.empty() || value.size() > 9 || value.find_first_not_of("0123456789") != std::string::npos) return false;
  long level = std::stol(value);
  if (level < 10) return false;
  name = level >= 40 ? "Debug" : level >= 30 ? "Info" : level >= 20 ? "Warning" : "Error";
  return true;
}

void CTraceTextDecoder::Emit(char32_t c, std::string& out) {
  if (c == U'\r') {
    out += '\n';
    m_bPendingCr = true;
    return;
  }
  bool lfAfterCr = c == U'\n' && m_bPendingCr;
  m_bPendingCr = false;
  if (lfAfterCr) return;
  AppendUtf8(out, c);
}

void CTraceTextDecoder::EmitUtf8(const std::string& text, std::string& out) {
  for (char c : text) {
    if (c == '\r' || c == '\n') {
      Emit(static_cast<char32_t>(c), out);
    } else {
      m_bPendingCr = false;
      out += c;
    }
  }
}

std::string CTraceTextDecoder::Feed(const char* data, size_t size) {
  std::string out;
  m_strPending.append(data, size);
  if (m_eEncoding == EEncoding::Unknown) {
    if (m_strPending.size() < 3 && m_strPending.compare(0, m_strPending.size(), "\xEF\xBB\xBF", m_strPending.size()) == 0)
      return out;  // could still become the UTF-8 mark
    if (m_strPending.size() >= 2 && m_strPending.compare(0, 2, "\xFF\xFE") == 0) {
      m_eEncoding = EEncoding::Utf16Le;
      m_strPending.erase(0, 2);
    } else if (m_strPending.size() >= 3 && m_strPending.compare(0, 3, "\xEF\xBB\xBF") == 0) {
      m_eEncoding = EEncoding::Utf8;
      m_strPending.erase(0, 3);
    } else if (m_strPending.size() < 2 && m_strPending == "\xFF") {
      return out;
    } else {
      m_eEncoding = EEncoding::Utf8;
    }
  }
  if (m_eEncoding == EEncoding::Utf16Le) {
    size_t whole = m_strPending.size() & ~static_cast<size_t>(1);
    for (size_t i = 0; i < whole; i += 2) {
      char32_t unit = static_cast<unsigned char>(m_strPending[i]) |
                      (static_cast<char32_t>(static_cast<unsigned char>(m_strPending[i + 1])) << 8);
      if (m_cHighSurrogate != 0) {
        char32_t high = m_cHighSurrogate;
        m_cHighSurrogate = 0;
        if (unit >= 0xDC00 && unit <= 0xDFFF) {
          Emit(0x10000 + ((high - 0xD800) << 10) + (unit - 0xDC00), out);
          continue;
        }
        Emit(REPLACEMENT, out);
      }
      if (unit >= 0xD800 && unit <= 0xDBFF)
        m_cHighSurrogate = unit;
      else if (unit >= 0xDC00 && unit <= 0xDFFF)
        Emit(REPLACEMENT, out);
      else
        Emit(unit, out);
    }
    m_strPending.erase(0, whole);
  } else {
    size_t keep = UnfinishedUtf8Tail(m_strPending);
    EmitUtf8(WideToUtf8(Utf8ToWide(m_strPending.substr(0, m_strPending.size() - keep))), out);
    m_strPending.erase(0, m_strPending.size() - keep);
  }
  return out;
}

std::string CTraceTextDecoder::Finish() {
  std::string out;
  if (m_eEncoding == EEncoding::Unknown && !m_strPending.empty()) {
    // A file of one or two bytes: whatever they are, read them as UTF-8.
    m_eEncoding = EEncoding::Utf8;
    EmitUtf8(WideToUtf8(Utf8ToWide(m_strPending)), out);
    m_strPending.clear();
  }
  if (m_cHighSurrogate != 0 || !m_strPending.empty()) Emit(REPLACEMENT, out);
  m_cHighSurrogate = 0;
  m_strPending.clear();
  return out;
}

bool PrintTraceFile(const std::string& path, std::string& error) {
  errno = 0;
  std::FILE* file = hostplatform::OpenFile(path, "rb");
  if (file == nullptr) {
    error = "cannot read " + path + ": " + std::error_code(errno, std::generic_category()).message();
    return false;
  }
  CTraceTextDecoder decoder;
  char buffer[65536];
  bool ok = true;
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
    std::string text = decoder.Feed(buffer, n);
    if (!text.empty() && !hostplatform::WriteText(stdout, text)) ok = false;
  }
  if (std::ferror(file)) {
    error = "cannot read " + path + ": " + std::error_code(errno, std::generic_category()).message();
    std::fclose(file);
    return false;
  }
  std::fclose(file);
  std::string rest = decoder.Finish();
  if (!rest.empty() && !hostplatform::WriteText(stdout, rest)) ok = false;
  if (std::fflush(stdout) != 0 || !ok) {
    error = "cannot write to standard output";
    return false;
  }
  return true;
}

std::string CheckParentLogEncoding(const std::string& path) {
  std::FILE* file = hostplatform::OpenFile(path, "rb");
  if (file == nullptr) return std::string();
  unsigned char mark[2] = {0, 0};
  size_t n = std::fread(mark, 1, 2, file);
  std::fclose(file);
  if (n == 0 || (n == 2 && mark[0] == 0xFF && mark[1] == 0xFE)) return std::string();
  return "the parent log " + path +
         " is not UTF-16 text (it has no FF FE mark); the trace log is appended to it as UTF-16 all the same";
}

int64_t FileSizeOrMissing(const std::string& path) {
  std::error_code ec;
  auto size = std::filesystem::file_size(PathFromUtf8(path), ec);
  return ec ? -1 : static_cast<int64_t>(size);
}

}  // namespace cli
