// Windows backend of the command-line host's platform services (Kernel32).
//
// Paths cross this interface as UTF-8 and are converted to UTF-16 for the
// wide ("W") calls, so every name survives whatever the ANSI code page.
// Stop requests come from the console control handler, which Windows runs
// on a thread of its own: the flag is atomic and the handler only writes
// to the console.
#include "cli/sys/HostPlatform.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace hostplatform {
namespace {

std::atomic<bool> g_bStopRequested{false};
// Read once at installation, like the posix side.
bool g_bSayStopping = false;

std::wstring Wide(const std::string& text) {
  if (text.empty()) return std::wstring();
  int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], n);
  return wide;
}

std::string Narrow(const wchar_t* text, size_t length) {
  if (length == 0) return std::string();
  int n = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
  if (n <= 0) return std::string();
  std::string narrow(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), &narrow[0], n, nullptr, nullptr);
  return narrow;
}

// The system's text for a Win32 error code, without the trailing CR LF.
std::string SystemMessage(DWORD code) {
  wchar_t* buffer = nullptr;
  DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::string text;
  if (n > 0 && buffer != nullptr) {
    while (n > 0 && (buffer[n - 1] == L'\r' || buffer[n - 1] == L'\n' || buffer[n - 1] == L' ')) --n;
    text = Narrow(buffer, n);
  }
  if (buffer != nullptr) LocalFree(buffer);
  if (text.empty()) text = "error " + std::to_string(code);
  return text;
}

// The console behind a standard stream, or null when it is redirected.
HANDLE ConsoleOf(DWORD stdHandle) {
  HANDLE handle = GetStdHandle(stdHandle);
  DWORD mode = 0;
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode)) return nullptr;
  return handle;
}

// Console control handler (own thread). The first Ctrl-C or Ctrl-Break
// sets the flag and is consumed; a second one falls through to the default
// handler, which ends the process, as SA_RESETHAND does on posix. Closing
// the console, logging off and shutting down also set the flag but are not
// consumed: Windows ends the process after the handlers regardless.
BOOL WINAPI OnConsoleControl(DWORD type) {
  const bool first = !g_bStopRequested.exchange(true);
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
  if (!first) return FALSE;
  if (g_bSayStopping) {
    if (HANDLE console = ConsoleOf(STD_ERROR_HANDLE)) {
      static const wchar_t LINE[] = L"\rstopping\u2026\r\n";
      DWORD written = 0;
      WriteConsoleW(console, LINE, static_cast<DWORD>(sizeof LINE / sizeof LINE[0] - 1), &written, nullptr);
    }
  }
  return TRUE;
}

}  // namespace

std::string ExecutablePath() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return std::string();
    // A full buffer means the name was cut short: try a larger one.
    if (n < buffer.size()) return Narrow(buffer.data(), n);
    if (buffer.size() >= 32768) return std::string();
    buffer.resize(buffer.size() * 2);
  }
}

const char* PluginFileName() { return "versewell.dll"; }

void* OpenLibrary(const std::string& path, std::string& error) {
  // The library's own folder first for its dependencies, as a host that
  // ships it beside itself expects; no error dialog for a bad file.
  UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  HMODULE module = LoadLibraryExW(Wide(path).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  DWORD code = GetLastError();
  SetErrorMode(oldMode);
  if (module == nullptr) error = SystemMessage(code);
  return reinterpret_cast<void*>(module);
}

void* FindSymbol(void* library, const char* name, std::string& error) {
  FARPROC symbol = GetProcAddress(static_cast<HMODULE>(library), name);
  if (symbol == nullptr) error = std::string("no export ") + name + ": " + SystemMessage(GetLastError());
  return reinterpret_cast<void*>(symbol);
}

void CloseLibrary(void* library) {
  if (library != nullptr) FreeLibrary(static_cast<HMODULE>(library));
}

void InstallStopHandlers() {
  g_bSayStopping = StderrIsTerminal();
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

bool StopRequested() { return g_bStopRequested.load(); }

void RequestStop() { g_bStopRequested.store(true); }

bool StderrIsTerminal() { return ConsoleOf(STD_ERROR_HANDLE) != nullptr; }

bool StdinIsTerminal() {
  DWORD mode = 0;
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  return input != nullptr && input != INVALID_HANDLE_VALUE && GetConsoleMode(input, &mode);
}

int StderrColumns() {
  CONSOLE_SCREEN_BUFFER_INFO info;
  HANDLE console = ConsoleOf(STD_ERROR_HANDLE);
  if (console != nullptr && GetConsoleScreenBufferInfo(console, &info)) {
    int columns = info.srWindow.Right - info.srWindow.Left + 1;
    if (columns > 0) return columns;
  }
  return 80;
}

long ProcessId() { return static_cast<long>(GetCurrentProcessId()); }

unsigned long CurrentThreadId() { return static_cast<unsigned long>(GetCurrentThreadId()); }

std::string MakePrivateFolder(std::string& error) {
  // GetTempPathW gives the user's own temporary folder, which only that
  // user (and administrators) may enter; a new folder inherits that.
  wchar_t base[MAX_PATH + 1];
  DWORD n = GetTempPathW(MAX_PATH + 1, base);
  if (n == 0 || n > MAX_PATH) {
    error = "cannot find the temporary folder: " + SystemMessage(GetLastError());
    return std::string();
  }
  std::wstring prefix(base, n);
  // CreateDirectoryW fails on an existing name, so a new name is ours alone.
  unsigned long long seed = GetTickCount64() ^ (static_cast<unsigned long long>(GetCurrentProcessId()) << 32);
  for (int attempt = 0; attempt < 100; ++attempt) {
    seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
    wchar_t name[32];
    swprintf(name, 32, L"versewell-%08lx", static_cast<unsigned long>(seed >> 32));
    std::wstring folder = prefix + name;
    if (CreateDirectoryW(folder.c_str(), nullptr)) return Narrow(folder.data(), folder.size());
    DWORD code = GetLastError();
    if (code != ERROR_ALREADY_EXISTS) {
      error = "cannot create a folder in " + Narrow(prefix.data(), prefix.size()) + ": " + SystemMessage(code);
      return std::string();
    }
  }
  error = "cannot create a folder in " + Narrow(prefix.data(), prefix.size()) + ": every name was taken";
  return std::string();
}

bool SyncFile(const std::string& path, std::string& error) {
  // FlushFileBuffers needs a handle with write access.
  HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error = SystemMessage(GetLastError());
    return false;
  }
  bool ok = FlushFileBuffers(file) != 0;
  if (!ok) error = SystemMessage(GetLastError());
  CloseHandle(file);
  return ok;
}

// Windows has no folder flush; the rename callers make is durable once
// done with MOVEFILE_WRITE_THROUGH, so there is nothing to do here.
void SyncFolder(const std::string&) {}

std::FILE* OpenFile(const std::string& path, const char* mode) {
  // The mode is ASCII; widening it byte by byte is exact.
  std::wstring wideMode;
  for (const char* c = mode; *c != '\0'; ++c) wideMode += static_cast<wchar_t>(static_cast<unsigned char>(*c));
  return _wfopen(Wide(path).c_str(), wideMode.c_str());
}

bool CanWrite(const std::string& path) {
  HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

// NTFS and FAT allow 255 UTF-16 units per name. A UTF-8 name never has
// fewer bytes than UTF-16 units, so 255 bytes is a safe limit everywhere.
size_t MaxFileNameBytes(const std::string&) { return 255; }

namespace {

// An absolute folder from the environment variable `name` with `tail`
// appended; empty when the variable is unset or relative.
std::string FolderFromEnvironment(const wchar_t* name, const wchar_t* tail) {
  wchar_t buffer[32768];
  DWORD n = GetEnvironmentVariableW(name, buffer, 32768);
  if (n == 0 || n >= 32768) return std::string();
  std::wstring folder(buffer, n);
  bool absolute = (folder.size() >= 3 && folder[1] == L':' && (folder[2] == L'\\' || folder[2] == L'/')) ||
                  (folder.size() >= 2 && folder[0] == L'\\' && folder[1] == L'\\');
  if (!absolute) return std::string();
  if (folder.back() != L'\\' && folder.back() != L'/') folder += L'\\';
  folder += tail;
  return Narrow(folder.data(), folder.size());
}

}  // namespace

std::string UserConfigFile() { return FolderFromEnvironment(L"APPDATA", L"versewell\\config"); }

// Only an absolute folder ("C:\..." or "\\server\..."); a relative one
// would put the cache wherever the program happens to start.
std::string UserCacheFolder() { return FolderFromEnvironment(L"LOCALAPPDATA", L"versewell"); }

bool WriteText(std::FILE* stream, const std::string& text) {
  if (text.empty()) return true;
  HANDLE console = ConsoleOf(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
  if (console == nullptr) return std::fwrite(text.data(), 1, text.size(), stream) == text.size();
  // What the C library still buffers goes first, then the wide text.
  std::fflush(stream);
  std::wstring wide = Wide(text);
  const wchar_t* data = wide.data();
  size_t left = wide.size();
  while (left > 0) {
    // Large single writes can fail on older consoles; write in pieces.
    DWORD chunk = static_cast<DWORD>(left < 8192 ? left : 8192);
    DWORD written = 0;
    if (!WriteConsoleW(console, data, chunk, &written, nullptr) || written == 0) return false;
    data += written;
    left -= written;
  }
  return true;
}

bool LowerCase(std::wstring& text) {
  if (text.empty()) return true;
  // LCMAP_LOWERCASE maps one UTF-16 unit to one, so the length stays and
  // surrogate pairs pass through whole.
  std::wstring lower(text.size(), L'\0');
  int n = LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_LOWERCASE, text.data(), static_cast<int>(text.size()),
                        &lower[0], static_cast<int>(lower.size()), nullptr, nullptr, 0);
  if (n != static_cast<int>(text.size())) return false;
  text.swap(lower);
  return true;
}

int CharacterColumns(char32_t c) {
  if (c > 0x10FFFF) return 1;
  if (c < 0x20 || (c >= 0x7F && c < 0xA0)) return 0;
  // Ranges Kernel32 cannot describe per character: Hangul jamo (leading
  // consonants are wide, the vowels and finals join the syllable) and the
  // planes beyond the BMP, whose characters are two UTF-16 units.
  if (c >= 0x1100 && c <= 0x115F) return 2;
  if (c >= 0x1160 && c <= 0x11FF) return 0;
  if (c >= 0xAC00 && c <= 0xD7A3) return 2;  // Hangul syllables
  if (c >= 0x10000) {
    if ((c >= 0x1F300 && c <= 0x1F64F) || (c >= 0x1F900 && c <= 0x1F9FF) || (c >= 0x1F680 && c <= 0x1F6FF))
      return 2;                                         // emoji with default emoji presentation
    if (c >= 0x20000 && c <= 0x3FFFD) return 2;         // CJK extension planes
    if (c >= 0xE0000 && c <= 0xE0FFF) return 0;         // tags and variation selectors
    return 1;
  }
  wchar_t unit = static_cast<wchar_t>(c);
  WORD type1 = 0, type3 = 0;
  if (!GetStringTypeW(CT_CTYPE1, &unit, 1, &type1) || !GetStringTypeW(CT_CTYPE3, &unit, 1, &type3)) return 1;
  if (type1 & C1_CNTRL) return 0;
  if (c == 0x200B || c == 0x200C || c == 0x200D || c == 0x2060 || c == 0xFEFF) return 0;  // zero-width format characters
  if (type3 & (C3_NONSPACING | C3_DIACRITIC)) {
    // C3_DIACRITIC also marks spacing modifier letters; only the combining
    // blocks draw nothing of their own.
    if (type3 & C3_NONSPACING) return 0;
  }
  if (type3 & (C3_FULLWIDTH | C3_IDEOGRAPH | C3_HIRAGANA | C3_KATAKANA)) {
    // Half-width katakana carry C3_KATAKANA and C3_HALFWIDTH: one column.
    if (type3 & C3_HALFWIDTH) return 1;
    return 2;
  }
  return 1;
}

}  // namespace hostplatform
