// The text file reader on arbitrary file bytes: read line by line until the
// end, under the ANSI code page the first byte picks (UTF-8, 1252, 932 or
// 936), then again after a Seek back to the start.
//
// Properties: reading ends; no line holds a line feed; the lines read after
// the Seek are the same as the first time; a UTF-16 file (mark FF FE) gives
// at most one line per two bytes, an ANSI file at most one per byte.
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "diag/StdioFileEx.h"
#include "support/FakeAnsiCodePage.h"
#include "support/TempDir.h"

namespace {

std::vector<std::wstring> ReadAll(CStdioFileEx& file, size_t limit) {
  std::vector<std::wstring> lines;
  CString line;
  while (file.ReadString(line)) {
    lines.push_back(line.Str());
    FuzzCheck(lines.size() <= limit, "reading ends");
  }
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static CTempDir* s_dir = new CTempDir();
  static const std::string s_path = s_dir->File("trace.txt");
  static const UINT CODE_PAGES[] = {65001, 1252, 932, 936};
  if (size == 0) return 0;
  ScopedFakeAnsiCodePage ansi(CODE_PAGES[data[0] % 4], CODE_PAGES[data[0] % 4]);
  const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  WriteFileBytes(s_path, bytes);

  CStdioFileEx file;
  const std::wstring path(s_path.begin(), s_path.end());
  FuzzCheck(file.Open(path.c_str(), CFile::modeRead | CFile::shareDenyNone) != 0, "the file opens");
  const bool unicode = bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE';
  const size_t limit = (unicode ? bytes.size() / 2 : bytes.size()) + 1;
  std::vector<std::wstring> first;
  try {
    first = ReadAll(file, limit);
  } catch (const std::exception&) {
    // Conversion failures may be raised by contract; the file stays usable.
  }
  for (const std::wstring& line : first) FuzzCheck(line.find(L'\n') == std::wstring::npos, "no LF in a line");
  file.Seek(0, CFile::begin);
  std::vector<std::wstring> again;
  try {
    again = ReadAll(file, limit);
  } catch (const std::exception&) {
  }
  FuzzCheck(first == again, "the same lines after a Seek to the start");
  file.Close();
  return 0;
}
