// ITextReportSink: where the text routines report what they leave as it is
// (a bad numeric character reference, an invalid pattern, an unconvertible
// string). The caller passes the sink in; the trace log implements it
// (diag/TraceLog.h: TraceLogReports()), so text/ knows nothing of the log.
//
// Levels are the trace log's numbers (a smaller number is more severe);
// TEXT_REPORT_ERROR and TEXT_REPORT_WARNING are the two text reports use.
//
// DefaultTextReports() is the sink of callers that pass none: the one
// installed with SetDefaultTextReports (the trace log installs itself when
// the program starts), else a sink that drops every report.
//
// Failure: see Report. Threads: sinks are called from any thread;
// the default may be read from any thread.
#ifndef VERSEWELL_TEXT_REPORT_SINK_H
#define VERSEWELL_TEXT_REPORT_SINK_H

constexpr int TEXT_REPORT_ERROR = 10;
constexpr int TEXT_REPORT_WARNING = 20;

class ITextReportSink {
 public:
  // Whether a report at `level` would be kept: composing one may be skipped
  // otherwise.
  virtual bool WillReport(int level) = 0;
  // May raise (allocation); LogNarrowMessage catches.
  virtual void Report(int level, const wchar_t* message) = 0;

 protected:
  ~ITextReportSink() = default;
};

ITextReportSink& DefaultTextReports();
// Installs the default sink (null: reports are dropped). The sink must
// outlive every later report.
void SetDefaultTextReports(ITextReportSink* sink);

#endif  // VERSEWELL_TEXT_REPORT_SINK_H
