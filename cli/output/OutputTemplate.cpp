#include "cli/output/OutputTemplate.h"

#include "cli/output/FileNames.h"
#include "cli/sys/TextConvert.h"

namespace cli {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string PercentDecode(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      out += text[i] == '_' ? ' ' : text[i];
    }
  }
  return out;
}

}  // namespace

SSongFields FieldsFromPageAddress(const std::wstring& address, const std::wstring& artistFallback,
                                  const std::wstring& titleFallback) {
  SSongFields fields{artistFallback, titleFallback};
  const std::string url = WideToUtf8(address);
  const std::string marker = "/wiki/";
  size_t start = url.find(marker);
  if (start == std::string::npos) return fields;
  start += marker.size();
  size_t end = url.find_first_of("?#", start);
  std::wstring page = Utf8ToWide(PercentDecode(url.substr(start, end == std::string::npos ? end : end - start)));
  size_t colon = page.find(L':');
  if (colon == std::wstring::npos) return fields;
  std::wstring artist = TrimWide(page.substr(0, colon));
  std::wstring title = TrimWide(page.substr(colon + 1));
  if (!artist.empty()) fields.strArtist = artist;
  if (!title.empty()) fields.strTitle = title;
  return fields;
}

COutputTemplate::COutputTemplate() {
  std::string ignored;
  Parse(DEFAULT_TEMPLATE, ignored);
}

bool COutputTemplate::Parse(const std::string& text, std::string& error) {
  std::vector<Component> components(1);
  bool hasTitle = false;
  auto literal = [&](char c) {
    Component& current = components.back();
    if (current.empty() || current.back().eKind != EPart::Literal) current.push_back({EPart::Literal, std::string()});
    current.back().strText += c;
  };
  if (text.empty()) return error = "the template is empty", false;
  if (text[0] == '/') return error = "the template must be a path below --out, not an absolute one", false;
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c == 0x7F) return error = "the template must not contain control characters", false;
    if (c == '\\') return error = "the template separates folders with \"/\", not \"\\\"", false;
    if (c == '/') {
      components.emplace_back();
    } else if (c == '{' && i + 1 < text.size() && text[i + 1] == '{') {
      literal('{');
      ++i;
    } else if (c == '}' && i + 1 < text.size() && text[i + 1] == '}') {
      literal('}');
      ++i;
    } else if (c == '{') {
      size_t close = text.find('}', i);
      if (close == std::string::npos) return error = "the template has a \"{\" without its \"}\"", false;
      std::string field = text.substr(i + 1, close - i - 1);
      if (field == "artist") {
        components.back().push_back({EPart::Artist, std::string()});
      } else if (field == "title") {
        components.back().push_back({EPart::Title, std::string()});
        hasTitle = true;
      } else {
        return error = "unknown template field {" + field + "}; the fields are {artist} and {title}", false;
      }
      i = close;
    } else if (c == '}') {
      return error = "the template has a \"}\" without its \"{\" (write \"}}\" for a brace)", false;
    } else {
      literal(static_cast<char>(c));
    }
  }
  for (const Component& component : components) {
    if (component.empty()) return error = "the template has an empty folder name (\"//\" or a \"/\" at an end)", false;
    if (component.size() == 1 && component[0].eKind == EPart::Literal &&
        (component[0].strText == "." || component[0].strText == ".."))
      return error = "the template must not contain \".\" or \"..\" as a folder", false;
  }
  if (!hasTitle) return error = "the template needs the {title} field, or every song would get the same name", false;
  m_strText = text;
  m_vecComponents = std::move(components);
  return true;
}

std::string COutputTemplate::Expand(const SSongFields& fields, const std::string& address,
                                    size_t maxComponentBytes) const {
  const std::string artist = SafeField(fields.strArtist, "unknown artist");
  const std::string title = SafeField(fields.strTitle, "untitled");
  std::string path;
  for (const Component& component : m_vecComponents) {
    std::string name;
    for (const SPart& part : component) {
      switch (part.eKind) {
        case EPart::Literal: name += part.strText; break;
        case EPart::Artist: name += artist; break;
        case EPart::Title: name += title; break;
      }
    }
    // The template's own text may begin with dots ("..{title}"); a component
    // never does, so it can be neither hidden nor a step upwards.
    size_t dots = name.find_first_not_of(". ");
    name.erase(0, dots == std::string::npos ? name.size() : dots);
    if (!path.empty()) path += '/';
    path += FinishComponent(name, address, maxComponentBytes);
  }
  return path;
}

}  // namespace cli
