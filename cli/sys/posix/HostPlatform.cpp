// POSIX backend of the command-line host's platform services.
#include "platform/posix/IcuCalls.h"
#include "cli/sys/HostPlatform.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <locale>
#include <system_error>
#include <vector>

namespace hostplatform {
namespace {

std::atomic<bool> g_bStopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler needs a lock-free flag");
// Read once at installation: isatty is not safe inside a signal handler.
bool g_bSayStopping = false;

// Clears the line (a progress bar, the terminal's "^C") and says the signal
// was heard; the running download ends within moments.
const char STOPPING_LINE[] = "\r\033[Kstopping\u2026\n";

extern "C" void OnStopSignal(int) {
  const bool first = !g_bStopRequested.exchange(true);
  if (first && g_bSayStopping) {
    const int saved = errno;
    ssize_t ignored = write(STDERR_FILENO, STOPPING_LINE, sizeof STOPPING_LINE - 1);
    (void)ignored;
    errno = saved;
  }
}

}  // namespace

std::string ExecutablePath() {
  char buffer[PATH_MAX + 1];
  ssize_t n = readlink("/proc/self/exe", buffer, PATH_MAX);
  if (n <= 0) return std::string();
  return std::string(buffer, static_cast<size_t>(n));
}

const char* PluginFileName() { return "libversewell.so"; }

void* OpenLibrary(const std::string& path, std::string& error) {
  dlerror();
  // Lazy binding for what the plug-in brings along (libcurl's tree of some
  // thirty libraries): binding all of their functions up front costs a
  // one-shot run a third of its start-up. The plug-in itself is linked to
  // bind at once (-z now), so a function it lacks still fails this call
  // rather than a later one.
  void* handle = dlopen(path.c_str(), RTLD_LAZY | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* message = dlerror();
    error = message != nullptr ? message : "unknown loader error";
  }
  return handle;
}

void* FindSymbol(void* library, const char* name, std::string& error) {
  dlerror();
  void* symbol = dlsym(library, name);
  if (symbol == nullptr) {
    const char* message = dlerror();
    error = message != nullptr ? message : std::string("symbol ") + name + " is null";
  }
  return symbol;
}

void CloseLibrary(void* library) {
  if (library != nullptr) dlclose(library);
}

void InstallStopHandlers() {
  g_bSayStopping = StderrIsTerminal();
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  // SA_RESETHAND: a second signal takes the default action, so a user whose
  // first Ctrl-C is not honoured soon enough can still end the program.
  action.sa_flags = SA_RESETHAND | SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

bool StopRequested() { return g_bStopRequested.load(); }

void RequestStop() { g_bStopRequested.store(true); }

bool StderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

bool StdinIsTerminal() { return isatty(STDIN_FILENO) == 1; }

int StderrColumns() {
  struct winsize size;
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

long ProcessId() { return static_cast<long>(getpid()); }

bool SyncFile(const std::string& path, std::string& error) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = std::generic_category().message(errno);
    return false;
  }
  int rc;
  do rc = fsync(fd);
  while (rc != 0 && errno == EINTR);
  if (rc != 0) error = std::generic_category().message(errno);
  close(fd);
  return rc == 0;
}

void SyncFolder(const std::string& folder) {
  int fd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

std::FILE* OpenFile(const std::string& path, const char* mode) { return std::fopen(path.c_str(), mode); }

bool CanWrite(const std::string& path) { return access(path.c_str(), W_OK) == 0; }

unsigned long CurrentThreadId() { return static_cast<unsigned long>(syscall(SYS_gettid)); }

std::string MakePrivateFolder(std::string& error) {
  const char* tmp = std::getenv("TMPDIR");
  std::string base = (tmp != nullptr && tmp[0] == '/') ? tmp : "/tmp";
  std::string pattern = base + "/versewell-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr) {  // mode 0700
    error = "cannot create a folder in " + base + ": " + std::strerror(errno);
    return std::string();
  }
  return std::string(buffer.data());
}

size_t MaxFileNameBytes(const std::string& folder) {
  long limit = pathconf(folder.c_str(), _PC_NAME_MAX);
  return limit > 0 && limit < 4096 ? static_cast<size_t>(limit) : 255;
}

std::string UserCacheFolder() {
  const char* xdg = std::getenv("XDG_CACHE_HOME");
  // The XDG base directory rules ignore relative values.
  if (xdg != nullptr && xdg[0] == '/') return std::string(xdg) + "/versewell";
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] != '\0') {
    std::string folder(home);
    if (folder.back() != '/') folder += '/';
    return folder + ".cache/versewell";
  }
  return std::string();
}

std::string UserConfigFile() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg != nullptr && xdg[0] == '/') return std::string(xdg) + "/versewell/config";
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] != '\0') {
    std::string folder(home);
    if (folder.back() != '/') folder += '/';
    return folder + ".config/versewell/config";
  }
  return std::string();
}

bool WriteText(std::FILE* stream, const std::string& text) {
  return std::fwrite(text.data(), 1, text.size(), stream) == text.size();
}

bool LowerCase(std::wstring& text) {
  static const std::locale* locale = []() -> const std::locale* {
    for (const char* name : {"C.UTF-8", "C.utf8", "en_US.UTF-8"}) {
      try {
        return new std::locale(name);
      } catch (const std::exception&) {
      }
    }
    return nullptr;
  }();
  if (locale == nullptr) return false;
  if (!text.empty()) std::use_facet<std::ctype<wchar_t>>(*locale).tolower(&text[0], &text[0] + text.size());
  return true;
}

int CharacterColumns(char32_t c) {
  if (c > 0x10FFFF) return 1;
  // ICU is loaded on the first character that needs it; without ICU (not
  // installed) every character counts as one column.
  const platform::SIcuCalls* icu = platform::IcuCalls();
  if (icu == nullptr) return 1;
  UChar32 u = static_cast<UChar32>(c);
  int8_t category = icu->u_charType(u);
  if (category == U_CONTROL_CHAR) return 0;
  if (category == U_NON_SPACING_MARK || category == U_ENCLOSING_MARK || category == U_FORMAT_CHAR) return 0;
  if (c >= 0x1160 && c <= 0x11FF) return 0;  // Hangul medial vowels and final consonants join the syllable
  int width = icu->u_getIntPropertyValue(u, UCHAR_EAST_ASIAN_WIDTH);
  if (width == U_EA_WIDE || width == U_EA_FULLWIDTH) return 2;
  if (icu->u_hasBinaryProperty(u, UCHAR_EMOJI_PRESENTATION)) return 2;
  return 1;
}

}  // namespace hostplatform
