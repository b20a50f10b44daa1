// The host side of the plug-in's trace log: level names as the command line
// takes them, reading a trace file back as UTF-8, and the checks around the
// merge into a parent log.
//
// Trace files and the merged parent log are UTF-16LE with the byte-order
// mark FF FE and CR LF line ends. CTraceTextDecoder turns such bytes into
// UTF-8 with LF line ends, chunk by chunk, so a log of any size is printed
// in constant memory. Bytes that start with EF BB BF, or carry no mark, are
// read as UTF-8; malformed input (a lone surrogate, a bad UTF-8 sequence, an
// odd last byte) becomes U+FFFD.
//
// Failure: results plus a message; nothing throws except std::bad_alloc.
// Threads: free functions are pure or touch only the named files; a decoder
// object belongs to one thread.
#ifndef VERSEWELL_CLI_TRACE_LOG_TEXT_H
#define VERSEWELL_CLI_TRACE_LOG_TEXT_H

#include <cstdint>
#include <string>

namespace cli {

// The level set when --log-dir comes without --trace-level: it keeps
// failures (10, 20) and the address of every download (40).
constexpr const char* DEFAULT_TRACE_LEVEL = "Debug";

// Maps a --trace-level value to the plug-in's level name: the names Error,
// Warning, Info, Debug, Detail and Verbose in any letter case, or a number
// (10 and up; it keeps the levels at or below it: 10-19 Error, 20-29
// Warning, 30-39 Info, 40 and more Debug). False for anything else.
bool TraceLevelName(const std::string& value, std::string& name);

class CTraceTextDecoder {
 public:
  // Converts the next bytes of the file; returns the UTF-8 text ready so far.
  std::string Feed(const char* data, size_t size);
  // The rest, after the last Feed.
  std::string Finish();

 private:
  enum class EEncoding { Unknown, Utf16Le, Utf8 };
  void Emit(char32_t c, std::string& out);
  void EmitUtf8(const std::string& text, std::string& out);  // well-formed UTF-8

  EEncoding m_eEncoding = EEncoding::Unknown;
  std::string m_strPending;   // bytes not yet decoded (mark detection, a split unit or sequence)
  char32_t m_cHighSurrogate = 0;
  bool m_bPendingCr = false;  // a CR whose LF may come with the next bytes
};

// Writes the trace file at `path` to standard output as UTF-8 with LF line
// ends. On failure `error` names the file and the system's reason.
bool PrintTraceFile(const std::string& path, std::string& error);

// What a merge into `path` will find: an empty string when the file is
// missing, empty, or starts with the UTF-16 mark FF FE; otherwise a warning
// that it is not UTF-16 text.
std::string CheckParentLogEncoding(const std::string& path);

// The size of a file, or -1 when it does not exist.
int64_t FileSizeOrMissing(const std::string& path);

}  // namespace cli

#endif  // VERSEWELL_CLI_TRACE_LOG_TEXT_H
