// The rules behind the CLI's answers: reading a failed download's cause from
// the plug-in's trace lines, strict title choice with page names, and the
// echo of untrusted text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/host/DownloadCause.h"
#include "cli/lookup/SongLookup.h"
#include "cli/sys/TextConvert.h"
#include "cli/lookup/TitleMatch.h"

using namespace cli;

namespace {

SCause CauseOf(const std::string& message, unsigned elapsedMs = 0, bool tooLarge = false) {
  std::optional<STraceLine> line = ParseTraceLine("23:59:59.042 1A2C WRN: " + message);
  EXPECT_TRUE(line.has_value()) << message;
  SDownloadFailure failure;
  if (line) failure.line = *line;
  failure.bBodyTooLarge = tooLarge;
  return DescribeFailure(failure, elapsedMs);
}

}  // namespace

TEST(TraceLineParsing, PicksOutTheFailureFieldsAndTheThread) {
  auto line = ParseTraceLine(
      "08:01:02.003 E0C WRN: Download fails: lyrics.wiki.example/wiki/A:B, Proxy: 127.0.0.1:8080, Response: Not "
      "Found, Error:The operation completed successfully.");
  ASSERT_TRUE(line);
  EXPECT_EQ(line->nThreadId, 0xE0Cu);
  EXPECT_EQ(line->strUrl, "lyrics.wiki.example/wiki/A:B");
  EXPECT_EQ(line->strProxy, "127.0.0.1:8080");
  EXPECT_EQ(line->strStatusText, "Not Found");
  EXPECT_EQ(line->strSystemText, "The operation completed successfully.");
  auto large = ParseTraceLine("08:01:02.003 E0C WRN: HttpDownloader::DownloadData body larger than 8388608 bytes refused");
  ASSERT_TRUE(large);
  EXPECT_TRUE(large->bBodyTooLarge);
  // The line written as a download starts names its address, and is no failure.
  auto started = ParseTraceLine("08:01:02.003 E0C DBG: Download: lyrics.wiki.example/wiki/A, Proxy: x");
  ASSERT_TRUE(started);
  EXPECT_TRUE(started->bStarted);
  EXPECT_EQ(started->nThreadId, 0xE0Cu);
  EXPECT_EQ(started->strUrl, "lyrics.wiki.example/wiki/A, Proxy: x");
  EXPECT_FALSE(line->bStarted);
  // Other lines, and lines that only look alike, are not failures.
  EXPECT_FALSE(ParseTraceLine("08:01:02.003 E0C DBG: Downloads: lyrics.wiki.example/wiki/A"));
  EXPECT_FALSE(ParseTraceLine("Download fails: x, Proxy: , Response: , Error:"));
  EXPECT_FALSE(ParseTraceLine("08:01:02.003 ZZ WRN: Download fails: x, Proxy: , Response: , Error:"));
}

TEST(TraceLineParsing, AHostileAddressOrStatusTextCannotShiftTheFields) {
  auto line = ParseTraceLine(
      "08:01:02.003 1 WRN: Download fails: h/a, Response: x, Error:y, Proxy: p, Response: Bad, Error:z, "
      "Error:The server returned an invalid or unrecognized response");
  ASSERT_TRUE(line);
  EXPECT_EQ(line->strUrl, "h/a, Response: x, Error:y");
  EXPECT_EQ(line->strProxy, "p");
  EXPECT_EQ(line->strStatusText, "Bad, Error:z");
  EXPECT_EQ(line->strSystemText, "The server returned an invalid or unrecognized response");
}

TEST(FailureCause, NetworkCausesAreNamedAndRetried) {
  struct {
    const char* szSystem;
    const char* szProxy;
    const char* szExpected;
  } cases[] = {
      {"A connection with the server could not be established", "", "connection refused"},
      {"A connection with the server could not be established", "127.0.0.1:9", "proxy 127.0.0.1:9 not answering"},
      {"The server name or address could not be resolved", "", "host name not resolved"},
      {"The server name or address could not be resolved", "px:1", "host name of the proxy px:1 not resolved"},
      {"The operation timed out", "px:1", "proxy px:1 timed out after 30.0 s"},
      {"The operation timed out", "", "timed out after 30.0 s"},
  };
  for (const auto& c : cases) {
    SCause cause = CauseOf(std::string("Download fails: h/p, Proxy: ") + c.szProxy + ", Response: , Error:" +
                           c.szSystem + "\r\n", 30000);
    EXPECT_EQ(cause.strText.rfind(c.szExpected, 0), 0u) << cause.strText;
    EXPECT_EQ(cause.eKind, EOutcome::Network);
    EXPECT_TRUE(cause.bRetry) << c.szSystem;
  }
  SCause tls = CauseOf("Download fails: h/p, Proxy: , Response: , Error:A security error occurred");
  EXPECT_EQ(tls.strText, "TLS failure");
  EXPECT_FALSE(tls.bRetry);
}

TEST(FailureCause, HttpStatusDecidesKindAndRetry) {
  auto status = [](const char* reason) {
    return CauseOf(std::string("Download fails: h/p, Proxy: , Response: ") + reason +
                   ", Error:The operation completed successfully.\r\n");
  };
  SCause notFound = status("Not Found");
  EXPECT_EQ(notFound.strText, "HTTP status 404 Not Found");
  EXPECT_EQ(notFound.eKind, EOutcome::NotFound);
  EXPECT_FALSE(notFound.bRetry);
  EXPECT_EQ(status("Gone").eKind, EOutcome::NotFound);
  for (const char* retried : {"Too Many Requests", "Service Unavailable", "Internal Server Error", "Bad Gateway"}) {
    SCause cause = status(retried);
    EXPECT_EQ(cause.eKind, EOutcome::Network) << retried;
    EXPECT_TRUE(cause.bRetry) << retried;
  }
  SCause forbidden = status("Forbidden");
  EXPECT_EQ(forbidden.eKind, EOutcome::Network);
  EXPECT_FALSE(forbidden.bRetry);
  EXPECT_EQ(status("Teapot Time").strText, "HTTP error status \"Teapot Time\"");
  EXPECT_EQ(StatusFromReason("not found"), 404);
  EXPECT_EQ(StatusFromReason("Not Foundx"), 0);
}

TEST(FailureCause, ABodyTooLargeIsNamedAndNotRetried) {
  SCause cause =
      CauseOf("Download fails: h/p, Proxy: , Response: OK, Error:The data area passed to a system call is too small.",
              0, true);
  EXPECT_EQ(cause.strText.rfind("body too large", 0), 0u);
  EXPECT_FALSE(cause.bRetry);
  EXPECT_EQ(cause.eKind, EOutcome::Network);
}

TEST(OutcomeMapping, ExitCodesAndJsonErrorShape) {
  EXPECT_EQ(ExitCodeOf(EOutcome::Found), 0);
  EXPECT_EQ(ExitCodeOf(EOutcome::NotFound), 1);
  EXPECT_EQ(ExitCodeOf(EOutcome::Network), 3);
  EXPECT_EQ(ExitCodeOf(EOutcome::Interrupted), 130);
  SFailure failure;
  failure.eKind = EOutcome::Network;
  failure.strMessage = "m";
  failure.strUrl = "http://h/p";
  nlohmann::ordered_json doc = ErrorObject(failure);
  EXPECT_EQ(doc.dump(), R"({"error":{"kind":"network","message":"m","url":"http://h/p","cause":null}})");
}

TEST(StrictTitles, CloseOnlyWithinOneEditInFiveCharacters) {
  std::vector<std::wstring> titles = {L"Salt Road", L"Quill and Ink", L"Lanterns on the Weir"};
  EXPECT_TRUE(ChooseTitle(titles, {}, L"Lanterns on the Wier").bClose);
  EXPECT_FALSE(ChooseTitle(titles, {}, L"zzzzzz").bClose);
  EXPECT_FALSE(ChooseTitle(titles, {}, L"Sal").bClose);
  EXPECT_TRUE(ChooseTitle(titles, {}, L"quill and").bClose);  // the start of a title
  STitleChoice none = ChooseTitle(titles, {}, L"zzzzzz");
  EXPECT_EQ(none.vecSuggestions.size(), 3u);
  EXPECT_EQ(none.vecSuggestions.front(), none.nIndex);
}

TEST(StrictTitles, ThePagesOwnNameIsMatchedToo) {
  std::vector<std::wstring> urls = {L"h/wiki/Quillfeather:Salt_Road", L"h/wiki/Quillfeather:Salt_Road_(1998)"};
  std::vector<std::wstring> names = {PageName(urls[0]), PageName(urls[1])};
  EXPECT_EQ(names[1], L"Salt Road (1998)");
  STitleChoice c = ChooseTitle({L"Salt Road", L"Salt Road"}, names, L"salt road (1998)");
  EXPECT_TRUE(c.bExact);
  EXPECT_EQ(c.nIndex, 1u);
  EXPECT_EQ(ChooseTitle({L"Salt Road", L"Salt Road"}, names, L"Salt Road").nIndex, 0u);
  EXPECT_EQ(PageArtist(L"lyrics.wiki.example/wiki/Kettle_%26_Wren"), L"Kettle & Wren");
  EXPECT_EQ(PageArtist(L"h/wiki/Claire_Fontaine_Ensemble:%C3%80_la"), L"Claire Fontaine Ensemble");
  EXPECT_EQ(PageName(L"h/wiki/A:%C3%80_la%2"), L"\u00C0 la%2");
}

TEST(EchoedText, ControlCharactersShownAndLongTextCut) {
  EXPECT_EQ(Echo(std::string("a\x01" "b\n\x1b[31m\x7F")), "a\\x01b\\n\\x1B[31m\\x7F");
  std::string cut = Echo(std::string(500, 'x'));
  EXPECT_EQ(cut, std::string(200, 'x') + "...");
  EXPECT_EQ(Echo(std::string(200, 'y')), std::string(200, 'y'));
  EXPECT_EQ(Echo(L"\u00E0\u0085"), "\xC3\xA0\\u0085");
}
