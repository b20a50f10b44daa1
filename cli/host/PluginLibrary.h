// Loads the Versewell plug-in library the way any host does: open the shared
// library, resolve GetDllInterface, and create plug-in objects through the
// public header only.
//
// Ownership: the library, once loaded, stays loaded until the process ends
// (see the destructor); objects from CreateObject belong to the caller, who
// deletes them before the CPluginLibrary goes away.
// Failure: Load returns false with a one-line reason; nothing throws.
// Threads: one thread at a time.
#ifndef VERSEWELL_CLI_PLUGIN_LIBRARY_H
#define VERSEWELL_CLI_PLUGIN_LIBRARY_H

#include <map>
#include <string>

#include <versewell/plugin.h>

namespace cli {

class CPluginLibrary {
 public:
  CPluginLibrary() = default;
  CPluginLibrary(const CPluginLibrary&) = delete;
  CPluginLibrary& operator=(const CPluginLibrary&) = delete;
  ~CPluginLibrary();

  bool Load(const std::string& path, std::string& error);
  // A new plug-in object, or null when the library has not been loaded.
  CLyricsDllInterface* CreateObject();
  const std::string& Path() const { return m_strPath; }

 private:
  void* m_pHandle = nullptr;
  PFN_GetDllInterface m_pfnGetDllInterface = nullptr;
  std::string m_strPath;
};

// The library installed beside the running program: the same folder as the
// program (the build tree), or <prefix>/lib next to <prefix>/bin (also the
// configured library folder, such as a multiarch one). Returns the first
// candidate that exists, else the installed location, so that the error
// names a sensible path.
std::string DefaultPluginPath();

// The key/value items of the plug-in information string that the library
// carries in its read-only data ("###_PluginInfo_###Name=...;...###"), read
// from the module file. Quotes around values are removed. Empty when the
// file cannot be read or holds no such string.
std::map<std::string, std::string> ReadPluginInfo(const std::string& path);

}  // namespace cli

#endif  // VERSEWELL_CLI_PLUGIN_LIBRARY_H
