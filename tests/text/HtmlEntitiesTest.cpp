// DecodeHtmlEntities: the table, worked examples, bad references, and a
// differential test against the literal row-by-row / restart-from-the-start
// procedure kept here as the oracle.
#include "text/HtmlEntities.h"

#include <climits>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "diag/TraceLevels.h"
#include "support/FakeAnsiCodePage.h"
#include "support/TraceCapture.h"
#include "text/CodePageConversion.h"

namespace {

// ---------------------------------------------------------------------------
// The named references, written out here independently of the decoder's
// table: the 252 of HTML 4.01 with their standard code points plus "&apos;",
// "&nbsp;" giving a plain space, in replacement order ("&nbsp;", "&quot;",
// "&apos;", "&lt;", "&gt;", then ascending by code unit, "&amp;" last).
// ---------------------------------------------------------------------------
struct SExpectedRow {
  const char* pszName;
  unsigned nCode;
};

const SExpectedRow kExpectedRows[] = {
    {"&nbsp;", 0x0020}, {"&quot;", 0x0022}, {"&apos;", 0x0027}, {"&lt;", 0x003C},
    {"&gt;", 0x003E}, {"&iexcl;", 0x00A1}, {"&cent;", 0x00A2}, {"&pound;", 0x00A3},
    {"&curren;", 0x00A4}, {"&yen;", 0x00A5}, {"&brvbar;", 0x00A6}, {"&sect;", 0x00A7},
    {"&uml;", 0x00A8}, {"&copy;", 0x00A9}, {"&ordf;", 0x00AA}, {"&laquo;", 0x00AB},
    {"&not;", 0x00AC}, {"&shy;", 0x00AD}, {"&reg;", 0x00AE}, {"&macr;", 0x00AF},
    {"&deg;", 0x00B0}, {"&plusmn;", 0x00B1}, {"&sup2;", 0x00B2}, {"&sup3;", 0x00B3},
    {"&acute;", 0x00B4}, {"&micro;", 0x00B5}, {"&para;", 0x00B6}, {"&middot;", 0x00B7},
    {"&cedil;", 0x00B8}, {"&sup1;", 0x00B9}, {"&ordm;", 0x00BA}, {"&raquo;", 0x00BB},
    {"&frac14;", 0x00BC}, {"&frac12;", 0x00BD}, {"&frac34;", 0x00BE}, {"&iquest;", 0x00BF},
    {"&Agrave;", 0x00C0}, {"&Aacute;", 0x00C1}, {"&Acirc;", 0x00C2}, {"&Atilde;", 0x00C3},
    {"&Auml;", 0x00C4}, {"&Aring;", 0x00C5}, {"&AElig;", 0x00C6}, {"&Ccedil;", 0x00C7},
    {"&Egrave;", 0x00C8}, {"&Eacute;", 0x00C9}, {"&Ecirc;", 0x00CA}, {"&Euml;", 0x00CB},
    {"&Igrave;", 0x00CC}, {"&Iacute;", 0x00CD}, {"&Icirc;", 0x00CE}, {"&Iuml;", 0x00CF},
    {"&ETH;", 0x00D0}, {"&Ntilde;", 0x00D1}, {"&Ograve;", 0x00D2}, {"&Oacute;", 0x00D3},
    {"&Ocirc;", 0x00D4}, {"&Otilde;", 0x00D5}, {"&Ouml;", 0x00D6}, {"&times;", 0x00D7},
    {"&Oslash;", 0x00D8}, {"&Ugrave;", 0x00D9}, {"&Uacute;", 0x00DA}, {"&Ucirc;", 0x00DB},
    {"&Uuml;", 0x00DC}, {"&Yacute;", 0x00DD}, {"&THORN;", 0x00DE}, {"&szlig;", 0x00DF},
    {"&agrave;", 0x00E0}, {"&aacute;", 0x00E1}, {"&acirc;", 0x00E2}, {"&atilde;", 0x00E3},
    {"&auml;", 0x00E4}, {"&aring;", 0x00E5}, {"&aelig;", 0x00E6}, {"&ccedil;", 0x00E7},
    {"&egrave;", 0x00E8}, {"&eacute;", 0x00E9}, {"&ecirc;", 0x00EA}, {"&euml;", 0x00EB},
    {"&igrave;", 0x00EC}, {"&iacute;", 0x00ED}, {"&icirc;", 0x00EE}, {"&iuml;", 0x00EF},
    {"&eth;", 0x00F0}, {"&ntilde;", 0x00F1}, {"&ograve;", 0x00F2}, {"&oacute;", 0x00F3},
    {"&ocirc;", 0x00F4}, {"&otilde;", 0x00F5}, {"&ouml;", 0x00F6}, {"&divide;", 0x00F7},
    {"&oslash;", 0x00F8}, {"&ugrave;", 0x00F9}, {"&uacute;", 0x00FA}, {"&ucirc;", 0x00FB},
    {"&uuml;", 0x00FC}, {"&yacute;", 0x00FD}, {"&thorn;", 0x00FE}, {"&yuml;", 0x00FF},
    {"&OElig;", 0x0152}, {"&oelig;", 0x0153}, {"&Scaron;", 0x0160}, {"&scaron;", 0x0161},
    {"&Yuml;", 0x0178}, {"&fnof;", 0x0192}, {"&circ;", 0x02C6}, {"&tilde;", 0x02DC},
    {"&Alpha;", 0x0391}, {"&Beta;", 0x0392}, {"&Gamma;", 0x0393}, {"&Delta;", 0x0394},
    {"&Epsilon;", 0x0395}, {"&Zeta;", 0x0396}, {"&Eta;", 0x0397}, {"&Theta;", 0x0398},
    {"&Iota;", 0x0399}, {"&Kappa;", 0x039A}, {"&Lambda;", 0x039B}, {"&Mu;", 0x039C},
    {"&Nu;", 0x039D}, {"&Xi;", 0x039E}, {"&Omicron;", 0x039F}, {"&Pi;", 0x03A0},
    {"&Rho;", 0x03A1}, {"&Sigma;", 0x03A3}, {"&Tau;", 0x03A4}, {"&Upsilon;", 0x03A5},
    {"&Phi;", 0x03A6}, {"&Chi;", 0x03A7}, {"&Psi;", 0x03A8}, {"&Omega;", 0x03A9},
    {"&alpha;", 0x03B1}, {"&beta;", 0x03B2}, {"&gamma;", 0x03B3}, {"&delta;", 0x03B4},
    {"&epsilon;", 0x03B5}, {"&zeta;", 0x03B6}, {"&eta;", 0x03B7}, {"&theta;", 0x03B8},
    {"&iota;", 0x03B9}, {"&kappa;", 0x03BA}, {"&lambda;", 0x03BB}, {"&mu;", 0x03BC},
    {"&nu;", 0x03BD}, {"&xi;", 0x03BE}, {"&omicron;", 0x03BF}, {"&pi;", 0x03C0},
    {"&rho;", 0x03C1}, {"&sigmaf;", 0x03C2}, {"&sigma;", 0x03C3}, {"&tau;", 0x03C4},
    {"&upsilon;", 0x03C5}, {"&phi;", 0x03C6}, {"&chi;", 0x03C7}, {"&psi;", 0x03C8},
    {"&omega;", 0x03C9}, {"&thetasym;", 0x03D1}, {"&upsih;", 0x03D2}, {"&piv;", 0x03D6},
    {"&ensp;", 0x2002}, {"&emsp;", 0x2003}, {"&thinsp;", 0x2009}, {"&zwnj;", 0x200C},
    {"&zwj;", 0x200D}, {"&lrm;", 0x200E}, {"&rlm;", 0x200F}, {"&ndash;", 0x2013},
    {"&mdash;", 0x2014}, {"&lsquo;", 0x2018}, {"&rsquo;", 0x2019}, {"&sbquo;", 0x201A},
    {"&ldquo;", 0x201C}, {"&rdquo;", 0x201D}, {"&bdquo;", 0x201E}, {"&dagger;", 0x2020},
    {"&Dagger;", 0x2021}, {"&bull;", 0x2022}, {"&hellip;", 0x2026}, {"&permil;", 0x2030},
    {"&prime;", 0x2032}, {"&Prime;", 0x2033}, {"&lsaquo;", 0x2039}, {"&rsaquo;", 0x203A},
    {"&oline;", 0x203E}, {"&frasl;", 0x2044}, {"&euro;", 0x20AC}, {"&image;", 0x2111},
    {"&weierp;", 0x2118}, {"&real;", 0x211C}, {"&trade;", 0x2122}, {"&alefsym;", 0x2135},
    {"&larr;", 0x2190}, {"&uarr;", 0x2191}, {"&rarr;", 0x2192}, {"&darr;", 0x2193},
    {"&harr;", 0x2194}, {"&crarr;", 0x21B5}, {"&lArr;", 0x21D0}, {"&uArr;", 0x21D1},
    {"&rArr;", 0x21D2}, {"&dArr;", 0x21D3}, {"&hArr;", 0x21D4}, {"&forall;", 0x2200},
    {"&part;", 0x2202}, {"&exist;", 0x2203}, {"&empty;", 0x2205}, {"&nabla;", 0x2207},
    {"&isin;", 0x2208}, {"&notin;", 0x2209}, {"&ni;", 0x220B}, {"&prod;", 0x220F},
    {"&sum;", 0x2211}, {"&minus;", 0x2212}, {"&lowast;", 0x2217}, {"&radic;", 0x221A},
    {"&prop;", 0x221D}, {"&infin;", 0x221E}, {"&ang;", 0x2220}, {"&and;", 0x2227},
    {"&or;", 0x2228}, {"&cap;", 0x2229}, {"&cup;", 0x222A}, {"&int;", 0x222B},
    {"&there4;", 0x2234}, {"&sim;", 0x223C}, {"&cong;", 0x2245}, {"&asymp;", 0x2248},
    {"&ne;", 0x2260}, {"&equiv;", 0x2261}, {"&le;", 0x2264}, {"&ge;", 0x2265},
    {"&sub;", 0x2282}, {"&sup;", 0x2283}, {"&nsub;", 0x2284}, {"&sube;", 0x2286},
    {"&supe;", 0x2287}, {"&oplus;", 0x2295}, {"&otimes;", 0x2297}, {"&perp;", 0x22A5},
    {"&sdot;", 0x22C5}, {"&lceil;", 0x2308}, {"&rceil;", 0x2309}, {"&lfloor;", 0x230A},
    {"&rfloor;", 0x230B}, {"&lang;", 0x2329}, {"&rang;", 0x232A}, {"&loz;", 0x25CA},
    {"&spades;", 0x2660}, {"&clubs;", 0x2663}, {"&hearts;", 0x2665}, {"&diams;", 0x2666},
    {"&amp;", 0x0026},
};
constexpr size_t EXPECTED_ROW_COUNT = sizeof kExpectedRows / sizeof kExpectedRows[0];
static_assert(EXPECTED_ROW_COUNT == 253, "the list has 253 rows");

// ---------------------------------------------------------------------------
// The oracle: the procedure exactly as written, slow on purpose.
// ---------------------------------------------------------------------------

// Replaces every occurrence of `from` in the string as it was, left to right,
// without overlap; the inserted characters are not searched again.
void ReplaceAll(std::wstring& s, const std::wstring& from, wchar_t to) {
  std::wstring out;
  size_t pos = 0;
  for (;;) {
    size_t hit = s.find(from, pos);
    if (hit == std::wstring::npos) break;
    out.append(s, pos, hit - pos);
    out.push_back(to);
    pos = hit + from.size();
  }
  out.append(s, pos, std::wstring::npos);
  s.swap(out);
}

// Leftmost "&#([0-9]+);" at or after `from`.
bool FindReference(const std::wstring& s, size_t from, size_t& start, size_t& end) {
  for (size_t i = from; i + 1 < s.size(); ++i) {
    if (s[i] != L'&' || s[i + 1] != L'#') continue;
    size_t j = i + 2;
    while (j < s.size() && s[j] >= L'0' && s[j] <= L'9') ++j;
    if (j > i + 2 && j < s.size() && s[j] == L';') {
      start = i;
      end = j + 1;
      return true;
    }
  }
  return false;
}

std::wstring Widened(const std::string& narrow) { return std::wstring(CAnsiToWide(narrow.c_str()).Get()); }
std::string Narrowed(const std::wstring& wide) { return std::string(CWideToAnsi(wide.c_str()).Get()); }

// Decodes `s` in place and returns the messages the procedure writes.
std::vector<std::wstring> OracleDecode(std::wstring& s) {
  std::vector<std::wstring> messages;
  for (const SExpectedRow& row : kExpectedRows) {
    std::wstring name(row.pszName, row.pszName + std::strlen(row.pszName));
    ReplaceAll(s, name, static_cast<wchar_t>(row.nCode));
  }
  if (s.empty()) {
    messages.push_back(L"Input string is empty");
    return messages;
  }
  size_t reported = 0;  // bad references found so far: the first ones from the start
  for (;;) {
    size_t pos = 0, skipped = 0, start = 0, end = 0;
    bool replaced = false;
    while (FindReference(s, pos, start, end)) {
      pos = end;
      if (skipped < reported) {
        ++skipped;
        continue;
      }
      std::wstring reference = s.substr(start, end - start);
      long long value = 0;
      for (size_t k = start + 2; k + 1 < end; ++k) {
        value = value * 10 + (s[k] - L'0');
        if (value > INT_MAX) value = static_cast<long long>(INT_MAX) + 1;
      }
      if (value >= 1 && value <= 65535) {
        ReplaceAll(s, reference, static_cast<wchar_t>(value));
        replaced = true;
        break;
      }
      int shown = value > INT_MAX ? INT_MAX : static_cast<int>(value);
      messages.push_back(Widened("Bad &#nnn; code: \"" + Narrowed(reference) + "\" => " + std::to_string(shown) +
                                 " ; string is:\n\t\"" + Narrowed(s) + "\""));
      ++reported;
      ++skipped;
    }
    if (!replaced) break;
  }
  return messages;
}

class HtmlEntitiesTest : public ::testing::Test {
 protected:
  ScopedFakeAnsiCodePage m_ansi{65001, 65001};
  CTraceCapture m_trace;

  static std::wstring Decode(std::wstring s) {
    DecodeHtmlEntities(s);
    return s;
  }
};

}  // namespace

TEST(NamedEntityTableTest, EveryNameAndCodeInReplacementOrder) {
  for (size_t i = 0; i < EXPECTED_ROW_COUNT; ++i) {
    ASSERT_NE(nullptr, NamedEntityTable[i].pszName) << "the table ends early, at row " << i;
    EXPECT_STREQ(kExpectedRows[i].pszName, NamedEntityTable[i].pszName) << "row " << i;
    EXPECT_EQ(kExpectedRows[i].nCode, NamedEntityTable[i].nCode) << "row " << i << " " << kExpectedRows[i].pszName;
  }
  EXPECT_EQ(nullptr, NamedEntityTable[EXPECTED_ROW_COUNT].pszName) << "the table has more than 253 rows";
}

TEST_F(HtmlEntitiesTest, EveryNamedReferenceDecodesThroughThePublicCall) {
  // Each reference alone, and all of them in one text between markers.
  std::wstring all, expected;
  for (const SExpectedRow& row : kExpectedRows) {
    const std::wstring name(row.pszName, row.pszName + std::strlen(row.pszName));
    EXPECT_EQ(std::wstring(1, static_cast<wchar_t>(row.nCode)), Decode(name)) << row.pszName;
    all += L"|" + name;
    expected += L"|" + std::wstring(1, static_cast<wchar_t>(row.nCode));
  }
  EXPECT_EQ(expected, Decode(all));
  EXPECT_TRUE(m_trace.Messages().empty());
}

TEST_F(HtmlEntitiesTest, NamedReferencesDecodeOnce) {
  EXPECT_EQ(L"Tom & Jerry", Decode(L"Tom &amp; Jerry"));
  EXPECT_EQ(L"&lt;", Decode(L"&amp;lt;"));
  EXPECT_EQ(L"a b", Decode(L"a&nbsp;b"));
  EXPECT_EQ(L"\u00C9\u00E9&EACUTE;", Decode(L"&Eacute;&eacute;&EACUTE;"));
  EXPECT_EQ(L"'\u20AC\u03D1\u2665", Decode(L"&apos;&euro;&thetasym;&hearts;"));
  EXPECT_EQ(L"&AMP; &amp &unknown; &;", Decode(L"&AMP; &amp &unknown; &;"));
  EXPECT_TRUE(m_trace.Messages().empty());
}

TEST_F(HtmlEntitiesTest, NumericReferencesDecodeAllOccurrences) {
  EXPECT_EQ(L"'", Decode(L"&#39;"));
  EXPECT_EQ(L"'", Decode(L"&#039;"));
  EXPECT_EQ(L"x'y'z", Decode(L"x&#39;y&#39;z"));
  EXPECT_EQ(L"A", Decode(L"&#0065;"));
  EXPECT_EQ(L"&#x41;", Decode(L"&#x41;"));
  EXPECT_EQ(std::wstring(1, static_cast<wchar_t>(0xD800)), Decode(L"&#55296;"));
  EXPECT_EQ(std::wstring(1, static_cast<wchar_t>(0xFFFF)), Decode(L"&#65535;"));
  EXPECT_EQ(L"&#65 &#; &#-1;", Decode(L"&#65 &#; &#-1;"));
  EXPECT_TRUE(m_trace.Messages().empty());
}

TEST_F(HtmlEntitiesTest, ReferencesMadeByDecodingAreDecodedToo) {
  EXPECT_EQ(L"\u00E9", Decode(L"&amp;#233;"));
  EXPECT_EQ(L"<", Decode(L"&#38;#60;"));
  EXPECT_EQ(L"<", Decode(L"&#38;#38;#60;"));
  EXPECT_EQ(L"\x0C", Decode(L"&#1&#50;;"));      // a decoded digit joins a reference
  EXPECT_EQ(L"A", Decode(L"&#38;&#35;65;"));     // "&" and "#" made by two references
  EXPECT_EQ(L"A", Decode(L"&#&#54;&#53;&#59;"));  // digits and ";" made one by one
}

TEST_F(HtmlEntitiesTest, BadReferencesStayAndAreReportedOncePerOccurrence) {
  EXPECT_EQ(L"&#0; A &#70000; &#0;", Decode(L"&#0; &#65; &#70000; &#0;"));
  std::vector<std::wstring> expected = {
      L"Bad &#nnn; code: \"&#0;\" => 0 ; string is:\n\t\"&#0; &#65; &#70000; &#0;\"",
      L"Bad &#nnn; code: \"&#70000;\" => 70000 ; string is:\n\t\"&#0; A &#70000; &#0;\"",
      L"Bad &#nnn; code: \"&#0;\" => 0 ; string is:\n\t\"&#0; A &#70000; &#0;\"",
  };
  EXPECT_EQ(expected, m_trace.Messages());
}

TEST_F(HtmlEntitiesTest, NumbersBeyond32BitsStayAndAreReported) {
  EXPECT_EQ(L"x&#99999999999;", Decode(L"x&#99999999999;"));
  EXPECT_EQ(1, m_trace.Count(L"Bad &#nnn; code: \"&#99999999999;\" => 2147483647 ; string is:\n\t\"x&#99999999999;\"",
                             TRACE_ERROR));
  EXPECT_EQ(L"&#2147483648;", Decode(L"&#2147483648;"));
  EXPECT_EQ(L"&#4294967361;", Decode(L"&#4294967361;"));  // 2^32 + 65 must not wrap to 'A'
}

TEST_F(HtmlEntitiesTest, ReportQuotesTheStringWithLaterOccurrencesAlreadyReplaced) {
  // The procedure has replaced every "&#50;" before it reaches "&#0;", which
  // joins "&#1" and "2;" further right.
  EXPECT_EQ(L"2&#0;\x0C", Decode(L"&#50;&#0;&#1&#50;;"));
  ASSERT_EQ(1u, m_trace.Messages().size());
  EXPECT_EQ(L"Bad &#nnn; code: \"&#0;\" => 0 ; string is:\n\t\"2&#0;&#12;\"", m_trace.Messages()[0]);
}

TEST_F(HtmlEntitiesTest, EmptyStringIsReportedByTheNumericPass) {
  EXPECT_EQ(L"", Decode(L""));
  EXPECT_EQ(1, m_trace.Count(L"Input string is empty", TRACE_WARNING));
  CString text;
  DecodeHtmlEntities(text);
  EXPECT_EQ(2, m_trace.Count(L"Input string is empty", TRACE_WARNING));
  CString lyrics(L"Caf&eacute; &#38; cr&egrave;me");
  DecodeHtmlEntities(lyrics);
  EXPECT_EQ(CString(L"Caf\u00E9 & cr\u00E8me"), lyrics);
}

TEST_F(HtmlEntitiesTest, TheTwentyFirstBadReferenceInOneCallIsNotReportedInFull) {
  // Twenty bad references are each reported in full; from the 21st on one
  // closing line counts the rest.
  const std::wstring twenty = Decode([] {
    std::wstring t;
    for (int i = 0; i < 20; ++i) t += L"&#0;";
    return t;
  }());
  EXPECT_EQ(20, m_trace.Count(L"Bad &#nnn; code: \"&#0;\" => 0 ; string is:\n\t\"" + twenty + L"\"", TRACE_ERROR));
  EXPECT_EQ(20u, m_trace.Messages().size());

  std::wstring text;
  for (int i = 0; i < 25; ++i) text += L"&#0;";
  const std::wstring expected = text;
  EXPECT_EQ(expected, Decode(text));
  EXPECT_EQ(20, m_trace.Count(L"Bad &#nnn; code: \"&#0;\" => 0 ; string is:\n\t\"" + expected + L"\"", TRACE_ERROR));
  EXPECT_EQ(1, m_trace.Count(L"Bad &#nnn; code: 5 more references left unchanged and not reported", TRACE_ERROR));
  EXPECT_EQ(20u + 21u, m_trace.Messages().size());
}

TEST_F(HtmlEntitiesTest, LongChainsOfNestedReferencesFinish) {
  std::wstring text = L"&#38;";
  for (int i = 0; i < 100000; ++i) text += L"#38;";
  text += L"#60;";
  EXPECT_EQ(L"<", Decode(text));
  std::wstring amps;
  for (int i = 0; i < 100000; ++i) amps += L"&amp;";
  EXPECT_EQ(std::wstring(100000, L'&'), Decode(amps));
}

TEST_F(HtmlEntitiesTest, MatchesTheLiteralProcedureOnGeneratedText) {
  const std::vector<std::wstring> tokens = {
      // plain text and loose pieces of references
      L"a", L"Zz", L" ", L";", L"#", L"1", L"9", L"0", L"&", L"&#", L"amp;", L"lt", L"\u00E9",
      // named
      L"&amp;", L"&lt;", L"&gt;", L"&quot;", L"&nbsp;", L"&eacute;", L"&euro;", L"&AMP;", L"&amp", L"&apos;",
      // numeric, valid (some produce "&", "#", ";" and digits)
      L"&#65;", L"&#0065;", L"&#38;", L"&#038;", L"&#35;", L"&#59;", L"&#49;", L"&#50;", L"&#48;", L"&#233;",
      L"&#55296;", L"&#65535;", L"&#12;",
      // bad
      L"&#0;", L"&#00;", L"&#70000;", L"&#65536;", L"&#99999999999;",
      // nested
      L"&amp;#38;", L"&#38;#60;", L"&#38;#38;#51;", L"&amp;#0;", L"&#38;#0;", L"&amp;amp;",
      // unterminated or not decimal
      L"&#65", L"&#x41;", L"&#;", L"&#-1;",
  };
  std::mt19937 random(20240131);
  std::uniform_int_distribution<size_t> pick(0, tokens.size() - 1);
  std::uniform_int_distribution<int> length(0, 24);
  std::vector<std::wstring> expectedMessages;
  int withReports = 0;
  for (int round = 0; round < 4000; ++round) {
    std::wstring input;
    for (int n = length(random); n > 0; --n) input += tokens[pick(random)];
    std::wstring expected = input;
    std::vector<std::wstring> messages = OracleDecode(expected);
    if (messages.size() > 20) continue;  // beyond the report limit: checked above
    if (!messages.empty() && messages[0] != L"Input string is empty") ++withReports;
    std::wstring actual = input;
    DecodeHtmlEntities(actual);
    ASSERT_EQ(expected, actual) << "input: " << std::string(CWideToAnsi(input.c_str()).Get());
    expectedMessages.insert(expectedMessages.end(), messages.begin(), messages.end());
  }
  EXPECT_GT(withReports, 100);  // the generator does exercise the reports
  std::vector<std::wstring> actualMessages = m_trace.Messages();
  ASSERT_EQ(expectedMessages.size(), actualMessages.size());
  for (size_t i = 0; i < expectedMessages.size(); ++i) ASSERT_EQ(expectedMessages[i], actualMessages[i]) << i;
}
