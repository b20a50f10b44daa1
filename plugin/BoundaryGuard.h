// The guard at every place where the host calls into the plug-in: whatever
// is raised underneath ends there as the operation's failure result plus one
// TRACE_ERROR line "<origin>(): stopped by an exception: <what>", never as
// an exception in the host. When even that line cannot be composed (memory
// exhausted), the result alone reports the failure.
// Threads: any thread; the trace log locks itself.
#ifndef VERSEWELL_PLUGIN_BOUNDARY_GUARD_H
#define VERSEWELL_PLUGIN_BOUNDARY_GUARD_H

#include <exception>

void LogStopped(const wchar_t* origin, const char* what) noexcept;

template <typename Result, typename Operation>
Result Guarded(const wchar_t* origin, Result failure, Operation&& operation) noexcept {
  try {
    return operation();
  } catch (const std::exception& e) {
    LogStopped(origin, e.what());
  } catch (...) {
    LogStopped(origin, "unknown exception");
  }
  return failure;
}

#endif  // VERSEWELL_PLUGIN_BOUNDARY_GUARD_H
