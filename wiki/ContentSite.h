// The lyrics wiki as served from a content folder: article pages under
// /wiki/, static files under /static/, and the generated artist category
// pages under /index.php (see wiki/CONTENT-FORMAT.md).
//
// The site reads the folder afresh for every request, so tests may change
// the content while the server runs. Paths that would leave the folder
// ("..", NUL bytes) get 404. Any thread may call Serve concurrently.
#ifndef VERSEWELL_WIKI_CONTENT_SITE_H
#define VERSEWELL_WIKI_CONTENT_SITE_H

#include <string>
#include <vector>

#include "wiki/HttpConnection.h"

namespace wiki {

struct CategoryEntry {
  std::string link;   // site-relative path
  std::string title;  // title attribute, inserted as it is
  std::string text;   // link text, inserted as it is
};

class CContentSite {
 public:
  static constexpr size_t CATEGORY_PAGE_SIZE = 200;

  explicit CContentSite(std::string root);

  // Answers `request` on `connection`.
  void Serve(const WikiRequest& request, CHttpConnection& connection) const;

  // The HTML of a category page (exposed for the server's own checks).
  // `letter` is the text after "Artists_"; `from`/`until` are decoded names,
  // used when `hasFrom`/`hasUntil` is set.
  std::string RenderCategory(const std::string& letter, const std::vector<CategoryEntry>& entries, bool hasFrom,
                             const std::string& from, bool hasUntil, const std::string& until) const;

 private:
  bool ReadFile(const std::string& relative, std::string& bytes) const;
  void ServeArticle(const std::string& title, const WikiRequest& request, CHttpConnection& connection) const;
  void ServeCategory(const std::string& letter, const WikiRequest& request, CHttpConnection& connection) const;
  void ServeNotFound(const WikiRequest& request, CHttpConnection& connection) const;

  std::string m_root;
};

// Reads an "Artists_<L>.tsv" text: link, title and text separated by tabs,
// one entry per line; lines with fewer than three fields are skipped.
std::vector<CategoryEntry> ParseCategoryFile(const std::string& text);

// Case-insensitive (ASCII letters only) byte-wise comparison: <0, 0, >0.
int CompareNames(const std::string& a, const std::string& b);

// True when a decoded relative name is safe to join to the content folder:
// not empty, no NUL, no leading '/', no "." or ".." component.
bool IsSafeRelativeName(const std::string& name);

}  // namespace wiki

#endif  // VERSEWELL_WIKI_CONTENT_SITE_H
