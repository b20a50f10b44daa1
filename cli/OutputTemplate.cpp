#include "cli/OutputTemplate.h"

#include <vector>

#include "cli/FileNames.h"

namespace cli {
namespace {

std::vector<std::string> SplitParts(const std::string& templ) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    size_t slash = templ.find('/', start);
    parts.push_back(templ.substr(start, slash == std::string::npos ? std::string::npos : slash - start));
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  return parts;
}

void ReplaceAll(std::string& text, const std::string& field, const std::string& value) {
  std::string out;
  size_t start = 0;
  for (size_t at; (at = text.find(field, start)) != std::string::npos; start = at + field.size())
    out += text.substr(start, at - start) + value;
  text = out + text.substr(start);
}

}  // namespace

std::string CheckTemplate(const std::string& templ) {
  if (templ.empty()) return "the template is empty";
  if (templ[0] == '/') return "the template must be a relative path";
  if (templ.find('\\') != std::string::npos) return "the template separates folders with \"/\" only";
  if (templ.find("{title}") == std::string::npos) return "the template must contain {title}";
  for (const std::string& part : SplitParts(templ))
    if (part.empty() || part == "." || part == "..") return "the template has an empty, \".\" or \"..\" folder";
  for (char c : templ)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return "the template contains control characters";
  return std::string();
}

std::string ExpandTemplate(const std::string& templ, const std::wstring& artist, const std::wstring& title) {
  const std::string safeArtist = SafeBaseName(artist);
  const std::string safeTitle = SafeBaseName(title);
  std::string path;
  for (const std::string& literal : SplitParts(templ)) {
    std::string part = literal;
    ReplaceAll(part, "{artist}", safeArtist);
    ReplaceAll(part, "{title}", safeTitle);
    if (!path.empty()) path += '/';
    path += part;
  }
  return path;
}

}  // namespace cli
