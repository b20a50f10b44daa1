#include "cli/host/PluginLibrary.h"

#include <filesystem>
#include <fstream>
#include <vector>

#include "cli/sys/HostPlatform.h"
#include "cli/sys/PathText.h"

#ifndef VERSEWELL_INSTALL_LIBDIR
#define VERSEWELL_INSTALL_LIBDIR "lib"
#endif

namespace cli {

// The library stays loaded until the process ends: the program exits right
// after its one command, the library's own unload work (deleting leftover
// objects, the final log merge) runs at exit all the same, and memory that
// the library keeps for its whole life is not reported as lost, as it would
// be once its data were unmapped by an early unload.
CPluginLibrary::~CPluginLibrary() = default;

bool CPluginLibrary::Load(const std::string& path, std::string& error) {
  std::error_code ec;
  if (!std::filesystem::exists(PathFromUtf8(path), ec)) {
    error = "plug-in library not found: " + path;
    return false;
  }
  std::string message;
  void* handle = hostplatform::OpenLibrary(path, message);
  if (handle == nullptr) {
    error = "cannot load plug-in library " + path + ": " + message;
    return false;
  }
  void* entry = hostplatform::FindSymbol(handle, "GetDllInterface", message);
  if (entry == nullptr) {
    hostplatform::CloseLibrary(handle);
    error = path + " is not a Versewell plug-in: " + message;
    return false;
  }
  m_pHandle = handle;
  m_pfnGetDllInterface = reinterpret_cast<PFN_GetDllInterface>(entry);
  m_strPath = path;
  return true;
}

CLyricsDllInterface* CPluginLibrary::CreateObject() {
  return m_pfnGetDllInterface != nullptr ? m_pfnGetDllInterface() : nullptr;
}

std::string DefaultPluginPath() {
  namespace fs = std::filesystem;
  const std::string exe = hostplatform::ExecutablePath();
  const std::string file = hostplatform::PluginFileName();
  if (exe.empty()) return file;
  const fs::path bin = PathFromUtf8(exe).parent_path();
  // The program's own folder first: that is the build tree, and an
  // installed bin/ folder holds no library.
  std::vector<fs::path> candidates = {
      bin / PathFromUtf8(file),
      bin.parent_path() / VERSEWELL_INSTALL_LIBDIR / PathFromUtf8(file),
      bin.parent_path() / "lib" / PathFromUtf8(file),
  };
  std::error_code ec;
  for (const fs::path& candidate : candidates)
    if (fs::exists(candidate, ec)) return Utf8FromPath(candidate.lexically_normal());
  return Utf8FromPath(candidates[1].lexically_normal());
}

std::map<std::string, std::string> ReadPluginInfo(const std::string& path) {
  static const std::string OPEN = "###_PluginInfo_###";
  static const std::string CLOSE = "###";
  constexpr size_t MAX_INFO = 4096;
  std::map<std::string, std::string> items;
  std::ifstream in(PathFromUtf8(path), std::ios::binary);
  if (!in) return items;
  // Scan in blocks, keeping an overlap so a string across a block boundary
  // is still found whole.
  std::string window;
  std::vector<char> block(1 << 20);
  std::string info;
  while (in) {
    in.read(block.data(), static_cast<std::streamsize>(block.size()));
    window.append(block.data(), static_cast<size_t>(in.gcount()));
    size_t start = window.find(OPEN);
    if (start != std::string::npos) {
      size_t end = window.find(CLOSE, start + OPEN.size());
      if (end != std::string::npos) {
        info = window.substr(start + OPEN.size(), end - start - OPEN.size());
        break;
      }
      if (window.size() - start > MAX_INFO) {
        window.erase(0, start + OPEN.size());
        continue;
      }
      window.erase(0, start);
      continue;
    }
    if (window.size() > OPEN.size() + MAX_INFO) window.erase(0, window.size() - OPEN.size() - MAX_INFO);
  }
  size_t pos = 0;
  while (pos < info.size()) {
    size_t semi = info.find(';', pos);
    if (semi == std::string::npos) semi = info.size();
    std::string item = info.substr(pos, semi - pos);
    pos = semi + 1;
    size_t eq = item.find('=');
    if (eq == std::string::npos) continue;
    std::string value = item.substr(eq + 1);
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    items[item.substr(0, eq)] = value;
  }
  return items;
}

}  // namespace cli
