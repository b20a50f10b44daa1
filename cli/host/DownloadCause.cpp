#include "cli/host/DownloadCause.h"

#include <cstdio>
#include <cstdlib>

namespace cli {
namespace {

const char* const FAILS = "Download fails: ";
const char* const STARTS = "Download: ";
const char* const TOO_LARGE = "body larger than ";

bool StartsWith(const std::string& text, size_t at, const char* prefix) {
  return text.compare(at, std::char_traits<char>::length(prefix), prefix) == 0;
}

std::string TrimEnd(std::string text) {
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

struct SReason {
  int nStatus;
  const char* szReason;
};

const SReason REASONS[] = {
    {400, "Bad Request"}, {401, "Unauthorized"}, {402, "Payment Required"}, {403, "Forbidden"},
    {404, "Not Found"}, {405, "Method Not Allowed"}, {406, "Not Acceptable"},
    {407, "Proxy Authentication Required"}, {408, "Request Timeout"}, {409, "Conflict"}, {410, "Gone"},
    {411, "Length Required"}, {412, "Precondition Failed"}, {413, "Payload Too Large"},
    {413, "Content Too Large"}, {414, "URI Too Long"}, {415, "Unsupported Media Type"},
    {416, "Range Not Satisfiable"}, {417, "Expectation Failed"}, {421, "Misdirected Request"},
    {422, "Unprocessable Entity"}, {422, "Unprocessable Content"}, {425, "Too Early"},
    {426, "Upgrade Required"}, {428, "Precondition Required"}, {429, "Too Many Requests"},
    {431, "Request Header Fields Too Large"}, {451, "Unavailable For Legal Reasons"},
    {500, "Internal Server Error"}, {501, "Not Implemented"}, {502, "Bad Gateway"},
    {503, "Service Unavailable"}, {504, "Gateway Timeout"}, {505, "HTTP Version Not Supported"},
    {507, "Insufficient Storage"}, {508, "Loop Detected"}, {511, "Network Authentication Required"},
    {300, "Multiple Choices"}, {301, "Moved Permanently"}, {302, "Found"}, {303, "See Other"},
    {304, "Not Modified"}, {305, "Use Proxy"}, {307, "Temporary Redirect"}, {308, "Permanent Redirect"},
};

bool SameLetters(const std::string& a, const char* b) {
  size_t n = std::char_traits<char>::length(b);
  if (a.size() != n) return false;
  for (size_t i = 0; i < n; ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

std::string Seconds(unsigned ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", ms / 1000.0);
  return text;
}

}  // namespace

int StatusFromReason(const std::string& reason) {
  for (const SReason& r : REASONS)
    if (SameLetters(reason, r.szReason)) return r.nStatus;
  return 0;
}

std::optional<STraceLine> ParseTraceLine(const std::string& line) {
  // "HH:MM:SS.mmm TID TAG: message"
  size_t blank = line.find(' ');
  if (blank == std::string::npos || blank != 12) return std::nullopt;
  size_t idEnd = line.find(' ', blank + 1);
  if (idEnd == std::string::npos) return std::nullopt;
  STraceLine parsed;
  const std::string id = line.substr(blank + 1, idEnd - blank - 1);
  if (id.empty() || id.size() > 8 || id.find_first_not_of("0123456789ABCDEF") != std::string::npos)
    return std::nullopt;
  parsed.nThreadId = std::strtoul(id.c_str(), nullptr, 16);
  size_t colon = line.find(": ", idEnd);
  if (colon == std::string::npos || colon > idEnd + 5) return std::nullopt;
  size_t message = colon + 2;
  if (line.find(TOO_LARGE, message) != std::string::npos && StartsWith(line, message, "HttpDownloader::")) {
    parsed.bBodyTooLarge = true;
    return parsed;
  }
  if (StartsWith(line, message, STARTS)) {
    parsed.bStarted = true;
    parsed.strUrl = line.substr(message + std::char_traits<char>::length(STARTS));
    return parsed;
  }
  if (!StartsWith(line, message, FAILS)) return std::nullopt;
  // The address and the status text come from outside; the system text is
  // one of a fixed set and holds no ", Error:". So the last ", Error:" ends
  // the status text and the first ", Proxy: " ends the address.
  const std::string rest = line.substr(message + std::char_traits<char>::length(FAILS));
  size_t proxy = rest.find(", Proxy: ");
  size_t error = rest.rfind(", Error:");
  if (proxy == std::string::npos || error == std::string::npos || error < proxy) return std::nullopt;
  size_t response = rest.find(", Response: ", proxy);
  if (response == std::string::npos || response > error) return std::nullopt;
  parsed.strUrl = rest.substr(0, proxy);
  parsed.strProxy = rest.substr(proxy + 9, response - proxy - 9);
  parsed.strStatusText = rest.substr(response + 12, error - response - 12);
  parsed.strSystemText = TrimEnd(rest.substr(error + 8));
  return parsed;
}

SCause DescribeFailure(const SDownloadFailure& failure, unsigned elapsedMs) {
  SCause cause;
  const STraceLine& line = failure.line;
  const std::string& system = line.strSystemText;
  const bool viaProxy = !line.strProxy.empty();
  const std::string proxyName = "proxy " + line.strProxy;
  if (failure.bBodyTooLarge) {
    cause.strText = "body too large (the plug-in refuses pages above 8 MiB)";
    return cause;
  }
  if (system.find("could not be resolved") != std::string::npos) {
    cause.strText = viaProxy ? "host name of the " + proxyName + " not resolved" : "host name not resolved";
    cause.bRetry = true;
  } else if (system.find("could not be established") != std::string::npos) {
    cause.strText = viaProxy ? proxyName + " not answering (connection refused)" : "connection refused";
    cause.bRetry = true;
  } else if (system.find("timed out") != std::string::npos) {
    cause.strText = (viaProxy ? proxyName + " timed out" : "timed out") + std::string(" after ") + Seconds(elapsedMs);
    cause.bRetry = true;
  } else if (system.find("security error") != std::string::npos) {
    cause.strText = "TLS failure";
  } else if (system.find("terminated abnormally") != std::string::npos ||
             system.find("was reset") != std::string::npos) {
    cause.strText = "connection closed by the server before the page was complete";
    cause.bRetry = true;
  } else if (system.find("invalid or unrecognized response") != std::string::npos) {
    cause.strText = "invalid response from the server";
    cause.bRetry = true;
  } else if (system.find("redirect") != std::string::npos) {
    cause.strText = "redirect refused";
  } else if (system.find("URL is invalid") != std::string::npos) {
    cause.strText = "invalid address";
  } else if (!line.strStatusText.empty() || system.find("completed successfully") != std::string::npos) {
    int status = StatusFromReason(line.strStatusText);
    cause.nStatus = status;
    if (status != 0)
      cause.strText = "HTTP status " + std::to_string(status) + " " + line.strStatusText;
    else if (line.strStatusText.empty())
      cause.strText = "HTTP error status (no reason phrase sent)";
    else
      cause.strText = "HTTP error status \"" + line.strStatusText + "\"";
    if (status == 404 || status == 410) cause.eKind = EOutcome::NotFound;
    cause.bRetry = status == 429 || status >= 500 || status == 0;
  } else {
    cause.strText = system.empty() ? "download failed" : system;
    cause.bRetry = true;
  }
  return cause;
}

SCause UnknownFailure() {
  SCause cause;
  cause.strText = "download failed";
  cause.bRetry = true;
  return cause;
}

}  // namespace cli
