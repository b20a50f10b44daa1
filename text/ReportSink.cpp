// The default text report sink; see ReportSink.h.
#include "text/ReportSink.h"

#include <atomic>

namespace {

class CDroppedReports : public ITextReportSink {
 public:
  bool WillReport(int) override { return false; }
  void Report(int, const wchar_t*) override {}
};

CDroppedReports g_droppedReports;
std::atomic<ITextReportSink*> g_pDefaultReports{nullptr};

}  // namespace

ITextReportSink& DefaultTextReports() {
  ITextReportSink* sink = g_pDefaultReports.load(std::memory_order_acquire);
  return sink != nullptr ? *sink : g_droppedReports;
}

void SetDefaultTextReports(ITextReportSink* sink) { g_pDefaultReports.store(sink, std::memory_order_release); }
