#include "wiki/UrlCoding.h"

#include <cstdlib>

namespace wiki {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string PercentDecode(const std::string& text, bool plusIsBlank) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '%' && i + 2 < text.size()) {
      int hi = HexValue(text[i + 1]);
      int lo = HexValue(text[i + 2]);
      if (hi >= 0 && lo >= 0) {
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
        continue;
      }
    }
    out += (plusIsBlank && c == '+') ? ' ' : c;
  }
  return out;
}

std::string QueryEncode(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size() * 3);
  for (unsigned char c : text) {
    bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                c == '.' || c == '_' || c == '~' || c == ':';
    if (keep) {
      out += static_cast<char>(c);
    } else if (c == ' ') {
      out += '+';
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

QueryParams ParseQuery(const std::string& query) {
  QueryParams params;
  size_t pos = 0;
  while (pos <= query.size()) {
    size_t amp = query.find('&', pos);
    if (amp == std::string::npos) amp = query.size();
    std::string part = query.substr(pos, amp - pos);
    if (!part.empty()) {
      size_t eq = part.find('=');
      if (eq == std::string::npos)
        params.emplace_back(PercentDecode(part, true), std::string());
      else
        params.emplace_back(PercentDecode(part.substr(0, eq), true), PercentDecode(part.substr(eq + 1), true));
    }
    pos = amp + 1;
  }
  return params;
}

std::string FindParam(const QueryParams& params, const std::string& name, const std::string& fallback) {
  for (const auto& p : params)
    if (p.first == name) return p.second;
  return fallback;
}

bool HasParam(const QueryParams& params, const std::string& name) {
  for (const auto& p : params)
    if (p.first == name) return true;
  return false;
}

long long FindNumber(const QueryParams& params, const std::string& name, long long fallback, long long maxValue) {
  if (!HasParam(params, name)) return fallback;
  std::string text = FindParam(params, name);
  if (text.empty() || text.size() > 18) return fallback;
  long long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return fallback;
    value = value * 10 + (c - '0');
  }
  return value > maxValue ? maxValue : value;
}

std::string HtmlEscape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

}  // namespace wiki
