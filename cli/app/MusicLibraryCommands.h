// `versewell batch [FILE|-]` and `versewell library DIR`: lyrics for a list
// of songs or for every audio file under a folder, searched in parallel by a
// CSearchPool.
//
// batch    reads the songs (BatchInput.h), writes each song's lyrics under
//          --out with --template, and/or prints one JSON object per song
//          with --jsonl.
// library  reads artist and title from each audio file's tags
//          (AudioTags.h) and writes "<name>.txt" beside it, or embeds the
//          lyrics into the tag with --embed. Files that already have lyrics
//          are skipped unless --force.
// Both print a progress line on a terminal, list failures and skips on
// standard error, and end with a summary (found, not on the wiki, network
// failures, skipped, written). Exit code: 130 after Ctrl-C; else 3 when any
// download failed; else 1 when any song was not on the wiki or a file could
// not be written; else 0.
//
// Threads: called on the main thread; the pool runs the workers.
#ifndef VERSEWELL_CLI_MUSIC_LIBRARY_COMMANDS_H
#define VERSEWELL_CLI_MUSIC_LIBRARY_COMMANDS_H

#include <string>

#include "cli/app/Options.h"
#include "cli/host/PluginLibrary.h"
#include "cli/host/TraceWatch.h"

namespace cli {

// `cacheFolder`: the absolute artist cache folder, empty for none. `trace`:
// the run's trace watch (causes of failed downloads), may be null.
int RunBatch(const SOptions& options, CPluginLibrary& library, const std::wstring& cacheFolder, CTraceWatch* trace);
int RunLibrary(const SOptions& options, CPluginLibrary& library, const std::wstring& cacheFolder, CTraceWatch* trace);

}  // namespace cli

#endif  // VERSEWELL_CLI_MUSIC_LIBRARY_COMMANDS_H
