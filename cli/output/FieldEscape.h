// The escaping of text fields in the CLI's own line files (the output
// folder's index, the memory of songs without lyrics): one record per line,
// fields separated by tabs, so '%', TAB, CR and LF inside a field are written
// as %25, %09, %0D and %0A. Unescaping turns exactly those four back and
// keeps any other '%' as it is, so a hand-edited file never loses text.
// Pure functions; any thread.
#ifndef VERSEWELL_CLI_OUTPUT_FIELD_ESCAPE_H
#define VERSEWELL_CLI_OUTPUT_FIELD_ESCAPE_H

#include <string>

namespace cli {

std::string EscapeField(const std::string& text);
std::string UnescapeField(const std::string& text);

}  // namespace cli

#endif  // VERSEWELL_CLI_OUTPUT_FIELD_ESCAPE_H
