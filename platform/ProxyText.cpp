#include "platform/ProxyText.h"

#include <cctype>
#include <vector>

namespace platform {
namespace {

// One entry of a WinHTTP proxy list: "http=host:port" wins, else the first
// entry without a scheme prefix. Empty when nothing usable is there.
std::string PickProxy(const std::string& list) {
  std::vector<std::string> entries;
  std::string current;
  for (char c : list) {
    if (c == ';' || c == ' ' || c == '\t') {
      if (!current.empty()) entries.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) entries.push_back(current);
  std::string chosen;
  for (const std::string& e : entries) {
    if (e.compare(0, 5, "http=") == 0) return e.substr(5);
    if (chosen.empty() && e.find('=') == std::string::npos) chosen = e;
  }
  return chosen;
}

bool IsHostNameChar(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
         c == '_';
}

bool IsIpv6Char(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == ':' || c == '.';
}

// "1" to "65535", digits only.
bool ParsePort(const std::string& text, unsigned& port) {
  if (text.empty() || text.size() > 5) return false;
  unsigned value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value == 0 || value > 65535) return false;
  port = value;
  return true;
}

}  // namespace

bool ParseNamedProxy(const std::string& text, std::string& proxyUrl) {
  for (unsigned char c : text)
    if ((c < 0x20 && c != '\t') || c == 0x7F) return false;
  std::string proxy = PickProxy(text);
  std::string scheme = proxy.substr(0, 7);
  for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (scheme == "http://") proxy.erase(0, 7);
  if (!proxy.empty() && proxy.back() == '/') proxy.pop_back();  // "http://host:port/"

  std::string host;
  std::string portText;
  bool hasPort = false;
  if (!proxy.empty() && proxy[0] == '[') {
    size_t close = proxy.find(']');
    if (close == std::string::npos) return false;
    std::string inner = proxy.substr(1, close - 1);
    if (inner.empty() || inner.find(':') == std::string::npos) return false;
    for (unsigned char c : inner)
      if (!IsIpv6Char(c)) return false;
    host = "[" + inner + "]";
    std::string rest = proxy.substr(close + 1);
    if (!rest.empty()) {
      if (rest[0] != ':') return false;
      hasPort = true;
      portText = rest.substr(1);
    }
  } else {
    size_t colon = proxy.find(':');
    host = proxy.substr(0, colon);
    if (colon != std::string::npos) {
      hasPort = true;
      portText = proxy.substr(colon + 1);
    }
    if (host.empty()) return false;
    for (unsigned char c : host)
      if (!IsHostNameChar(c)) return false;
  }
  unsigned port = 80;
  if (hasPort && !ParsePort(portText, port)) return false;
  proxyUrl = "http://" + host + ":" + std::to_string(port);
  return true;
}

}  // namespace platform
