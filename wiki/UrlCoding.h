// Percent-coding and query parsing for the loopback test wiki server.
//
// Pure functions over byte strings; no state, any thread may call them.
// Malformed escapes ("%G1", a trailing "%") are kept as they are, so that a
// hostile request can never make a decoder read past its input.
#ifndef VERSEWELL_WIKI_URL_CODING_H
#define VERSEWELL_WIKI_URL_CODING_H

#include <map>
#include <string>
#include <vector>

namespace wiki {

// Decodes %XX escapes; with `plusIsBlank` a '+' becomes a blank (query
// values), otherwise it stays (paths).
std::string PercentDecode(const std::string& text, bool plusIsBlank);

// Encodes every byte outside A-Z a-z 0-9 - . _ ~ : as %XX, and a blank as
// '+', the form the category pages use in their "until=" and "from=" links.
std::string QueryEncode(const std::string& text);

// Splits "a=1&b=2" into decoded pairs, in order; a part without '=' gets an
// empty value. Later duplicates do not replace earlier ones in Find.
typedef std::vector<std::pair<std::string, std::string>> QueryParams;
QueryParams ParseQuery(const std::string& query);
// The first value of `name`, or `fallback` when the query has none.
std::string FindParam(const QueryParams& params, const std::string& name, const std::string& fallback = "");
bool HasParam(const QueryParams& params, const std::string& name);
// The first value of `name` read as a decimal count within [0, maxValue];
// anything missing or malformed gives `fallback`.
long long FindNumber(const QueryParams& params, const std::string& name, long long fallback, long long maxValue);

// Escapes & < > " for insertion into HTML text or attributes.
std::string HtmlEscape(const std::string& text);

}  // namespace wiki

#endif  // VERSEWELL_WIKI_URL_CODING_H
