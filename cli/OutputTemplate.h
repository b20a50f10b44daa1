// The layout of saved lyrics under --out: a template such as
// "{artist}/{title}.txt" whose fields are filled with file-name-safe text
// (SafeBaseName), so that nothing the wiki supplies can leave the folder.
//
// A usable template is relative, has no empty, "." or ".." part, and names
// at least {title}. Fields: {artist} and {title}.
// Threads: pure functions.
#ifndef VERSEWELL_CLI_OUTPUT_TEMPLATE_H
#define VERSEWELL_CLI_OUTPUT_TEMPLATE_H

#include <string>

namespace cli {

constexpr const char* DEFAULT_TEMPLATE = "{artist}/{title}.txt";

// Empty when the template is usable, else the reason.
std::string CheckTemplate(const std::string& templ);

// The relative path (UTF-8, "/" between parts) for one song.
std::string ExpandTemplate(const std::string& templ, const std::wstring& artist, const std::wstring& title);

}  // namespace cli

#endif  // VERSEWELL_CLI_OUTPUT_TEMPLATE_H
