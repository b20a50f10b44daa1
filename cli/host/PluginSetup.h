// Setting up a plug-in object's cache from the command line's options, and
// taking its trace log down again (CTraceWatch sets the log up).
//
// ConfigureCache sets "LocalCacheFolder" and returns the absolute folder it
// set (UTF-8), or an empty text when the run has no cache. A cache folder
// that cannot be created or written is no reason to stop: the run goes on
// without a cache after a "cache disabled: ..." warning. With --no-cache
// the run gets a cache of its own in a private folder (`runFolder`, which
// the caller deletes once every plug-in object is gone): nothing outlives
// the run, and still each index page and artist page is read once per run.
//
// CloseAndMergeLog calls the plug-in's "CloseAndMergeLog". The plug-in
// reports nothing about the merge, and deletes its trace file even when the
// parent log cannot be opened, so the host checks first: a parent log that
// is not UTF-16 is reported before the merge, and one that cannot be opened
// for appending is reported and left alone, with the trace file kept in the
// log folder (the parent path is cleared, which makes the plug-in close the
// log without merging). A merge that appended nothing is reported too.
//
// DescribeProxy says which proxy a run uses and where it comes from: the
// --proxy option, or (with none) the environment as libcurl reads it for an
// http:// address: no_proxy or NO_PROXY first ("*", or a host name that
// equals an entry or ends in "." plus the entry), then http_proxy (lower
// case only), all_proxy, ALL_PROXY.
//
// Failure: messages on stderr as described; nothing throws except
// std::bad_alloc.
// Threads: the main thread.
#ifndef VERSEWELL_CLI_PLUGIN_SETUP_H
#define VERSEWELL_CLI_PLUGIN_SETUP_H

#include <functional>
#include <string>

#include <versewell/plugin.h>

#include "cli/app/Options.h"

namespace cli {

std::string ConfigureCache(CLyricsDllInterface& plugin, const SOptions& options, std::string& runFolder);

void CloseAndMergeLog(CLyricsDllInterface& plugin, const SOptions& options);

using EnvironmentLookup = std::function<const char*(const char*)>;
std::string DescribeProxy(const std::string& proxyOption, const std::string& siteHost,
                          const EnvironmentLookup& getenv);

}  // namespace cli

#endif  // VERSEWELL_CLI_PLUGIN_SETUP_H
