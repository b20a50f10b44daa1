#include "text/NarrowMessage.h"

#include "text/CodePageConversion.h"

void LogNarrowMessage(ITextReportSink& reports, int level, const std::string& message) noexcept {
  try {
    CAnsiToWide wide(message.c_str(), CP_THREAD_ACP);
    reports.Report(level, wide);
    return;
  } catch (...) {
  }
  try {
    std::wstring fallback;
    fallback.reserve(message.size());
    for (char c : message) {
      if (c == '\0') break;
      fallback.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
    }
    reports.Report(level, fallback.c_str());
  } catch (...) {
  }
}

void LogNarrowMessage(int level, const std::string& message) noexcept {
  LogNarrowMessage(DefaultTextReports(), level, message);
}

std::string NarrowForMessage(const wchar_t* text) noexcept {
  try {
    CWideToAnsi narrow(text, CP_THREAD_ACP);
    return narrow.Get() != nullptr ? std::string(narrow.Get()) : std::string();
  } catch (...) {
  }
  try {
    std::string fallback;
    for (const wchar_t* p = text; p != nullptr && *p != L'\0'; ++p)
      fallback.push_back(static_cast<unsigned long>(*p) < 0x80 ? static_cast<char>(*p) : '?');
    return fallback;
  } catch (...) {
    return std::string();
  }
}
