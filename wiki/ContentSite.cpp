#include "wiki/ContentSite.h"

#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "wiki/UrlCoding.h"

namespace wiki {
namespace {

const char* const HTML_TYPE = "text/html; charset=UTF-8";
constexpr size_t MAX_FILE_BYTES = 256u * 1024u * 1024u;

std::string ContentTypeOf(const std::string& name) {
  size_t dot = name.rfind('.');
  std::string ext = dot == std::string::npos ? std::string() : name.substr(dot + 1);
  if (ext == "html" || ext == "htm") return HTML_TYPE;
  if (ext == "txt") return "text/plain; charset=UTF-8";
  if (ext == "css") return "text/css";
  if (ext == "js") return "application/javascript";
  if (ext == "png") return "image/png";
  if (ext == "jpg" || ext == "jpeg") return "image/jpeg";
  if (ext == "json") return "application/json";
  return "application/octet-stream";
}

std::string PageShell(const std::string& heading, const std::string& content) {
  return "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"UTF-8\"><title>" + HtmlEscape(heading) +
         " - Lyrics Wiki</title></head>\n<body>\n<h1 id=\"firstHeading\">" + HtmlEscape(heading) + "</h1>\n" +
         content + "</body></html>\n";
}

}  // namespace

int CompareNames(const std::string& a, const std::string& b) {
  size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool IsSafeRelativeName(const std::string& name) {
  if (name.empty() || name[0] == '/' || name.find('\0') != std::string::npos) return false;
  size_t pos = 0;
  while (pos <= name.size()) {
    size_t slash = name.find('/', pos);
    if (slash == std::string::npos) slash = name.size();
    std::string part = name.substr(pos, slash - pos);
    if (part.empty() || part == "." || part == "..") return false;
    pos = slash + 1;
  }
  return true;
}

std::vector<CategoryEntry> ParseCategoryFile(const std::string& text) {
  std::vector<CategoryEntry> entries;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t t1 = line.find('\t');
    size_t t2 = t1 == std::string::npos ? t1 : line.find('\t', t1 + 1);
    if (t2 == std::string::npos) continue;
    entries.push_back({line.substr(0, t1), line.substr(t1 + 1, t2 - t1 - 1), line.substr(t2 + 1)});
  }
  return entries;
}

CContentSite::CContentSite(std::string root) : m_root(std::move(root)) {
  while (m_root.size() > 1 && m_root.back() == '/') m_root.pop_back();
}

bool CContentSite::ReadFile(const std::string& relative, std::string& bytes) const {
  std::string path = m_root + "/" + relative;
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || static_cast<size_t>(st.st_size) > MAX_FILE_BYTES)
    return false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream ss;
  ss << in.rdbuf();
  bytes = ss.str();
  return true;
}

void CContentSite::Serve(const WikiRequest& request, CHttpConnection& connection) const {
  bool head = request.method == "HEAD";
  if (request.method != "GET" && !head) {
    connection.SendResponse(405, "text/plain", "Only GET and HEAD are served.\n", {"Allow: GET, HEAD"});
    return;
  }
  const std::string& path = request.path;
  if (path.compare(0, 6, "/wiki/") == 0) {
    ServeArticle(PercentDecode(path.substr(6), false), request, connection);
    return;
  }
  if (path.compare(0, 8, "/static/") == 0) {
    std::string name = PercentDecode(path.substr(8), false);
    std::string bytes;
    if (IsSafeRelativeName(name) && ReadFile("static/" + name, bytes))
      connection.SendResponse(200, ContentTypeOf(name), bytes, {}, head);
    else
      ServeNotFound(request, connection);
    return;
  }
  if (path == "/index.php") {
    QueryParams params = ParseQuery(request.query);
    std::string title = FindParam(params, "title");
    const std::string prefix = "Category:Artists_";
    if (title.compare(0, prefix.size(), prefix) == 0) {
      ServeCategory(title.substr(prefix.size()), request, connection);
      return;
    }
    if (!title.empty()) {
      ServeArticle(title, request, connection);
      return;
    }
    ServeNotFound(request, connection);
    return;
  }
  if (path == "/") {
    std::string bytes;
    if (ReadFile("index.html", bytes))
      connection.SendResponse(200, HTML_TYPE, bytes, {}, head);
    else
      connection.SendResponse(200, HTML_TYPE, PageShell("Lyrics Wiki", "<p>Welcome to the lyrics wiki.</p>\n"), {},
                              head);
    return;
  }
  ServeNotFound(request, connection);
}

void CContentSite::ServeArticle(const std::string& title, const WikiRequest& request,
                                CHttpConnection& connection) const {
  std::string bytes;
  if (IsSafeRelativeName(title) && ReadFile("wiki/" + title + ".html", bytes)) {
    connection.SendResponse(200, HTML_TYPE, bytes, {}, request.method == "HEAD");
    return;
  }
  ServeNotFound(request, connection);
}

void CContentSite::ServeNotFound(const WikiRequest& request, CHttpConnection& connection) const {
  connection.SendResponse(404, HTML_TYPE,
                          PageShell("Not Found", "<p>There is currently no text in this page.</p>\n"), {},
                          request.method == "HEAD");
}

void CContentSite::ServeCategory(const std::string& letter, const WikiRequest& request,
                                 CHttpConnection& connection) const {
  if (!IsSafeRelativeName(letter) || letter.find('/') != std::string::npos) {
    ServeNotFound(request, connection);
    return;
  }
  std::string text;
  std::vector<CategoryEntry> entries;
  if (ReadFile("categories/Artists_" + letter + ".tsv", text)) entries = ParseCategoryFile(text);
  QueryParams params = ParseQuery(request.query);
  std::string html = RenderCategory(letter, entries, HasParam(params, "from"), FindParam(params, "from"),
                                    HasParam(params, "until"), FindParam(params, "until"));
  connection.SendResponse(200, HTML_TYPE, html, {}, request.method == "HEAD");
}

std::string CContentSite::RenderCategory(const std::string& letter, const std::vector<CategoryEntry>& entries,
                                         bool hasFrom, const std::string& from, bool hasUntil,
                                         const std::string& until) const {
  const size_t n = entries.size();
  size_t begin = 0;
  size_t end = n;
  if (hasUntil) {
    end = 0;
    while (end < n && CompareNames(entries[end].text, until) < 0) ++end;
    begin = end > CATEGORY_PAGE_SIZE ? end - CATEGORY_PAGE_SIZE : 0;
  } else {
    if (hasFrom)
      while (begin < n && CompareNames(entries[begin].text, from) < 0) ++begin;
    end = begin + CATEGORY_PAGE_SIZE < n ? begin + CATEGORY_PAGE_SIZE : n;
  }

  const std::string category = "Category:Artists_" + letter;
  const std::string base = "/index.php?title=" + QueryEncode(category);
  std::string nav;
  if (begin > 0) {
    const std::string& first = begin < n ? entries[begin].title : (hasFrom ? from : until);
    nav += "(<a href=\"" + base + "&amp;until=" + QueryEncode(first) + "\" title=\"" + HtmlEscape(category) +
           "\">previous 200</a>)";
  } else {
    nav += "(previous 200)";
  }
  if (end < n) {
    nav += " (<a href=\"" + base + "&amp;from=" + QueryEncode(entries[end].text) + "\" title=\"" +
           HtmlEscape(category) + "\">next 200</a>)";
  } else {
    nav += " (next 200)";
  }

  std::string content = "<div id=\"mw-pages\">\n<h2>Pages in category \"Artists " + HtmlEscape(letter) +
                        "\"</h2>\n" + nav + "\n<ul>\n";
  for (size_t i = begin; i < end; ++i)
    content += "<li><a href=\"" + entries[i].link + "\" title=\"" + entries[i].title + "\">" + entries[i].text +
               "</a></li>\n";
  content += "</ul>\n" + nav + "\n</div>\n";
  return PageShell(category, content);
}

}  // namespace wiki
