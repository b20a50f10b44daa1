// The layout of saved lyrics below an output folder: a template such as
// "{artist}/{title}.txt" (the default), and the song's page name it is
// filled from.
//
// A template is a relative path with "/" between components. Its fields are
// {artist} and {title}; "{{" and "}}" stand for literal braces. Parse
// refuses an absolute path, a backslash, an empty, "." or ".." component,
// control characters, an unknown field, an unmatched brace and a template
// without {title}, with a message that says which. Expand makes every field
// safe (SafeField) before it becomes part of a path and completes every
// component (FinishComponent), so whatever the wiki sends, the result is a
// relative path of plain components that stays below the output folder.
//
// Failure: Parse reports through its result and `error`; Expand cannot fail.
// Threads: a parsed template is immutable; Expand may run on any number of
// threads at once.
#ifndef VERSEWELL_CLI_OUTPUT_TEMPLATE_H
#define VERSEWELL_CLI_OUTPUT_TEMPLATE_H

#include <string>
#include <vector>

namespace cli {

constexpr const char* DEFAULT_TEMPLATE = "{artist}/{title}.txt";

// What the wiki says about one song.
struct SSongFields {
  std::wstring strArtist;  // the wiki's artist name
  std::wstring strTitle;   // the song's title as its page is named
};

// The artist and title from a song page address such as
// "lyrics.wiki.example/wiki/Quillfeather:Salt_Road_(1998)": the page name
// after "/wiki/", up to "?" or "#", percent escapes decoded as UTF-8, "_"
// read as a blank, split at its first ":". Either part that cannot be read
// that way falls back to the given artist name or list title.
SSongFields FieldsFromPageAddress(const std::wstring& address, const std::wstring& artistFallback,
                                  const std::wstring& titleFallback);

class COutputTemplate {
 public:
  // The default template.
  COutputTemplate();

  bool Parse(const std::string& text, std::string& error);

  // The relative path ("/" between components, UTF-8) for one song.
  // `maxComponentBytes` bounds each component; a longer one is shortened
  // with a hash of `address`.
  std::string Expand(const SSongFields& fields, const std::string& address, size_t maxComponentBytes) const;

  const std::string& Text() const { return m_strText; }

 private:
  enum class EPart { Literal, Artist, Title };
  struct SPart {
    EPart eKind;
    std::string strText;  // literal text
  };
  using Component = std::vector<SPart>;

  std::string m_strText;
  std::vector<Component> m_vecComponents;
};

}  // namespace cli

#endif  // VERSEWELL_CLI_OUTPUT_TEMPLATE_H
