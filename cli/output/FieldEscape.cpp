#include "cli/output/FieldEscape.h"

namespace cli {

std::string EscapeField(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '%': out += "%25"; break;
      case '\t': out += "%09"; break;
      case '\n': out += "%0A"; break;
      case '\r': out += "%0D"; break;
      default: out += c;
    }
  }
  return out;
}

std::string UnescapeField(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text.compare(i, 3, "%25") == 0) {
      out += '%';
    } else if (text.compare(i, 3, "%09") == 0) {
      out += '\t';
    } else if (text.compare(i, 3, "%0A") == 0) {
      out += '\n';
    } else if (text.compare(i, 3, "%0D") == 0) {
      out += '\r';
    } else {
      out += text[i];
      continue;
    }
    i += 2;
  }
  return out;
}

}  // namespace cli
