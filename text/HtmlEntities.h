// Decoding of HTML character references in text cut out of wiki pages.
//
// DecodeHtmlEntities works in place, in two passes: first the named
// references of NamedEntityTable (case-sensitive; "&nbsp;" becomes a plain
// space; "&amp;" is decoded last, so "&amp;lt;" gives "&lt;"), then the
// decimal numeric references "&#digits;". A numeric reference from 1 to 65535
// becomes that single code unit (surrogate values included); a reference
// that a decoded one brings into being ("&#38;#60;", "&amp;#60;") is decoded
// too. Every other numeric reference (0, above 65535, digits beyond 32 bits)
// stays and is reported once per occurrence at TEXT_REPORT_ERROR (to the
// report sink passed in, text/ReportSink.h) with the string
// as it stands at that moment; after MAX_REPORTED_BAD_REFERENCES such
// reports one closing line counts the rest, so hostile text cannot flood the
// log. A string longer than BAD_REFERENCE_QUOTE_LIMIT characters is quoted
// as an excerpt: up to BAD_REFERENCE_CONTEXT characters on either side of
// the reference, "..." where it is cut, then " (excerpt of a text of N
// characters)" with the length the numeric pass was given. A report is only
// composed when the sink will keep it. Hexadecimal references, unknown names and references without ";"
// stay unchanged and are not reported. An empty string logs "Input string
// is empty" at TEXT_REPORT_WARNING.
//
// Cost: linear in the text length, whatever the mix of references (one scan
// for the named pass, one streaming pass for the numeric references); a
// report that is written costs the excerpt (and the reference), not the text.
// Failure: nothing is raised for bad references; allocation failures raise
//   std::bad_alloc. Threads: any thread; the table is read-only.
#ifndef VERSEWELL_TEXT_HTML_ENTITIES_H
#define VERSEWELL_TEXT_HTML_ENTITIES_H

#include <cstddef>
#include <cstdint>
#include <string>

#include <versewell/cstring.h>

#include "text/ReportSink.h"

struct NamedEntity {
  const char* pszName;  // the whole reference, "&" and ";" included
  uint16_t nCode;       // the code unit that replaces it
};

// 253 rows in replacement order, ended by a row whose name is null.
extern const NamedEntity NamedEntityTable[];
extern const size_t NAMED_ENTITY_COUNT;

constexpr int MAX_REPORTED_BAD_REFERENCES = 20;
constexpr size_t BAD_REFERENCE_QUOTE_LIMIT = 200;
constexpr size_t BAD_REFERENCE_CONTEXT = 100;

// Bad references and the empty string are reported to `reports`.
void DecodeHtmlEntities(std::wstring& text, ITextReportSink& reports = DefaultTextReports());
void DecodeHtmlEntities(CString& text, ITextReportSink& reports = DefaultTextReports());

#endif  // VERSEWELL_TEXT_HTML_ENTITIES_H
