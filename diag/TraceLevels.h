// Trace levels: a smaller number is more severe. A line is written when its
// level is at most the threshold; the threshold 0 writes nothing.
#ifndef VERSEWELL_DIAG_TRACE_LEVELS_H
#define VERSEWELL_DIAG_TRACE_LEVELS_H

constexpr int TRACE_NONE = 0;
constexpr int TRACE_ERROR = 10;
constexpr int TRACE_WARNING = 20;
constexpr int TRACE_INFO = 30;
constexpr int TRACE_DEBUG = 40;

#endif  // VERSEWELL_DIAG_TRACE_LEVELS_H
