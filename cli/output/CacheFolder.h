// The artist cache folder the command line hands the plug-in: where it is,
// whether it can be used, and how `versewell cache clear` empties it.
//
// The default is $XDG_CACHE_HOME/versewell when that variable holds an
// absolute path, else ~/.cache/versewell; --cache-dir overrides it. The
// plug-in keeps its files as <folder>/<source name>/<source id>/<c>.ARTISTCACHE
// (and writes "<file>.tmp" while it compacts one).
//
// Failure: results plus a message naming the folder and the system's reason.
// Threads: any thread; only the named folder is touched.
#ifndef VERSEWELL_CLI_CACHE_FOLDER_H
#define VERSEWELL_CLI_CACHE_FOLDER_H

#include <string>

namespace cli {

// The default cache folder; empty when neither variable gives one.
std::string DefaultCacheFolder();

// Creates the folder and writes and removes a test file in it.
bool PrepareCacheFolder(const std::string& folder, std::string& error);

// Deletes the cache files below `folder` (names ending in ".ARTISTCACHE" or
// ".ARTISTCACHE.tmp"), then every folder left empty, `folder` itself
// included. Other files are never deleted: a --cache-dir that points at a
// folder of other things loses only the cache. `kept` counts the other
// files found. A missing folder is no error.
bool ClearCacheFolder(const std::string& folder, size_t& removed, size_t& kept, std::string& error);

}  // namespace cli

#endif  // VERSEWELL_CLI_CACHE_FOLDER_H
