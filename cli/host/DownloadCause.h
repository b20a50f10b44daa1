// Why a download failed, read from the plug-in's own trace lines.
//
// The plug-in writes one warning per failed download:
//   "Download fails: URL, Proxy: P, Response: STATUS-TEXT, Error:SYSTEM-TEXT"
// and, before it, "... body larger than N bytes refused" when a body was too
// large. ParseTraceLine picks these out of one trace line; DescribeFailure
// turns a failure into a plain-words cause, an outcome kind and whether a
// retry may help. Status codes are recovered from the standard reason
// phrases, since the line carries only the server's status text.
//
// Failure: a line that is not one of these yields nothing. Threads: pure
// functions.
#ifndef VERSEWELL_CLI_DOWNLOAD_CAUSE_H
#define VERSEWELL_CLI_DOWNLOAD_CAUSE_H

#include <optional>
#include <string>

namespace cli {

// The outcome of one step of a search, and the exit code it maps to.
enum class EOutcome { Found, NotFound, Network, Interrupted };

struct STraceLine {
  unsigned long nThreadId = 0;
  bool bBodyTooLarge = false;  // the "body larger than" line, not a failure line
  bool bStarted = false;       // the "Download: " line written as a download starts, not a failure line
  std::string strUrl;
  std::string strProxy;
  std::string strStatusText;
  std::string strSystemText;  // line end removed
};

// One line of the trace file (UTF-8, without its line end).
std::optional<STraceLine> ParseTraceLine(const std::string& line);

struct SDownloadFailure {
  STraceLine line;
  bool bBodyTooLarge = false;  // the failure followed a "body larger than" line
};

struct SCause {
  EOutcome eKind = EOutcome::Network;
  std::string strText;  // "connection refused", "HTTP status 404 Not Found", ...
  bool bRetry = false;  // a network failure, 429 or 5xx
  int nStatus = 0;      // the HTTP status when known
};

// `elapsedMs` is the time spent downloading in the failed step (from the
// statistics), named for time-outs.
SCause DescribeFailure(const SDownloadFailure& failure, unsigned elapsedMs);

// The cause when the statistics show a failed download but no trace line
// says why (the user's trace level leaves failures out).
SCause UnknownFailure();

// The status code of a standard HTTP reason phrase; 0 when unknown.
int StatusFromReason(const std::string& reason);

}  // namespace cli

#endif  // VERSEWELL_CLI_DOWNLOAD_CAUSE_H
