// The request-target encoding (platform/RequestTarget.h).
#include "platform/RequestTarget.h"

namespace platform {

std::string EncodeRequestTarget(const std::string& utf8) {
  static const char kHex[] = "0123456789ABCDEF";
  auto isHex = [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
  };
  std::string out;
  out.reserve(utf8.size() + utf8.size() / 4);
  for (size_t i = 0; i < utf8.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    if (c == '%') {
      if (i + 2 < utf8.size() && isHex(utf8[i + 1]) && isHex(utf8[i + 2]))
        out += '%';
      else
        out += "%25";
      continue;
    }
    bool unsafe = c <= 0x20 || c >= 0x7F || c == '"' || c == '<' || c == '>' || c == '#' || c == '[' ||
                  c == ']' || c == '{' || c == '}' || c == '|' || c == '\\' || c == '^' || c == '`';
    if (unsafe) {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

}  // namespace platform
