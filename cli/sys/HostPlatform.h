// The few operating-system services the command-line host needs: loading the
// plug-in library, finding the running program's own file, stop signals, the
// terminal, and the process id. The CLI's other files stay portable; this
// interface has one backend per platform (cli/sys/posix/, cli/sys/win32/), chosen in
// CMake.
//
// Failure: functions report failure through their result (an empty string, a
// null handle) and, where useful, a message in `error`; nothing throws except
// std::bad_alloc.
// Threads: InstallStopHandlers runs once on the main thread before anything
// else; StopRequested and StopSignal are safe from any thread and from inside
// the signal handler's effects. The rest may be called from any thread.
#ifndef VERSEWELL_CLI_HOST_PLATFORM_H
#define VERSEWELL_CLI_HOST_PLATFORM_H

#include <cstddef>
#include <cstdio>
#include <string>

namespace hostplatform {

// Absolute path of the running executable; empty when unknown.
std::string ExecutablePath();

// The platform's file name of the plug-in library ("libversewell.so").
const char* PluginFileName();

// Loads a shared library. Returns an opaque handle, or null with `error` set
// to the loader's message.
void* OpenLibrary(const std::string& path, std::string& error);
// Returns the address of an exported symbol, or null with `error` set.
void* FindSymbol(void* library, const char* name, std::string& error);
void CloseLibrary(void* library);

// Makes the first SIGINT or SIGTERM set the stop flag (and print "stopping…"
// on standard error when that is a terminal); a second one of the same kind
// ends the process at once, as if no handler were installed.
// Also makes a closed standard output an ordinary write error, not a signal.
void InstallStopHandlers();
bool StopRequested();
// Test hook: sets the flag as a signal would.
void RequestStop();

// True when the standard error stream is an interactive terminal.
bool StderrIsTerminal();
// True when standard input is an interactive terminal (a console on Windows).
bool StdinIsTerminal();
// Width of the terminal behind standard error in columns; 80 when unknown.
int StderrColumns();

long ProcessId();
// The id the plug-in's trace lines carry for the calling thread.
unsigned long CurrentThreadId();

// Creates a new folder only this user can enter, under the system's
// temporary folder; empty with `error` set when that fails.
std::string MakePrivateFolder(std::string& error);

// Flushes a file's data to the storage device (fsync); false with `error`
// set to the system's reason when it cannot.
bool SyncFile(const std::string& path, std::string& error);
// Makes a rename inside `folder` durable; failures are ignored (some file
// systems cannot sync a folder).
void SyncFolder(const std::string& folder);
// std::fopen for a UTF-8 path: on Windows through _wfopen, so a name the
// ANSI code page cannot spell still opens. `mode` as for std::fopen ("rb",
// "wb", "ab"). Null with errno set on failure.
std::FILE* OpenFile(const std::string& path, const char* mode);
// True when the calling process may write the existing file at `path`.
bool CanWrite(const std::string& path);

// The longest file name (bytes) the file system holding `folder` accepts;
// 255 when it cannot tell.
size_t MaxFileNameBytes(const std::string& folder);

// The user's default artist cache folder: $XDG_CACHE_HOME/versewell when
// that variable holds an absolute path, else ~/.cache/versewell (posix);
// %LOCALAPPDATA%\versewell (Windows). Empty when the environment gives none.
std::string UserCacheFolder();

// The user's configuration file: $XDG_CONFIG_HOME/versewell/config when that
// variable holds an absolute path, else ~/.config/versewell/config (posix);
// %APPDATA%\versewell\config (Windows). Empty when the environment gives
// none.
std::string UserConfigFile();

// Writes UTF-8 text to `stream` (stdout or stderr) and reports whether all
// of it was accepted. On a Windows console the text goes through the
// console's wide-character API, so every character shows whatever the
// console code page; redirected output is the UTF-8 bytes unchanged.
bool WriteText(std::FILE* stream, const std::string& text);

// Replaces every letter of `text` by its simple lower-case form, the same
// for every user: posix uses the C.UTF-8 locale (never the global one: the
// plug-in runs in this process), Windows the invariant locale. False, with
// `text` unchanged, when the platform has no such table.
bool LowerCase(std::wstring& text);

// Columns a terminal gives one character: 0 for combining marks and other
// zero-width characters, 2 for East Asian wide and full-width characters
// (CJK, Hangul, most emoji), 1 otherwise. Control characters count 0; the
// caller keeps them out of what it draws.
int CharacterColumns(char32_t c);

}  // namespace hostplatform

#endif  // VERSEWELL_CLI_HOST_PLATFORM_H
