// The debugger output channel (OutputDebugStringW). On posix the text goes to
// standard error, but only while a debugger (a tracer) is attached to the
// process, or when the environment variable VERSEWELL_DEBUG_OUTPUT is set to
// 1 at the time of the call. Never throws. Any thread may call it.
#ifndef VERSEWELL_PLATFORM_DEBUG_OUTPUT_H
#define VERSEWELL_PLATFORM_DEBUG_OUTPUT_H

namespace platform {

void OutputDebugStringW(const wchar_t* text);

}  // namespace platform

#endif  // VERSEWELL_PLATFORM_DEBUG_OUTPUT_H
