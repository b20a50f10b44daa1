#include "cli/input/MusicLibraryCommandLine.h"

#include "cli/input/AudioTags.h"
#include "cli/output/OutputTemplate.h"
#include "cli/lookup/SearchPool.h"

namespace cli {
namespace {

// Options both subcommands share.
void AddCommonOptions(CLI::App* command, SOptions& options) {
  command->add_option("-j,--jobs", options.nJobs, "Worker threads, each with its own plug-in object (default 2)")
      ->type_name("N")
      ->check(CLI::Range(1u, MAX_JOBS));
  command->add_flag("--closest", options.bClosest, "Take the closest title when no title matches");
  command->add_flag("--jsonl", options.bJsonl, "Print one JSON object per song on standard output");
  command->add_flag("--crlf", options.bCrlf, "Write lyrics with CR LF line ends (default LF)");
  command->add_flag("--dry-run", options.bDryRun, "Print what would be fetched and written; download nothing");
  command->add_flag("--force", options.bForce,
                    "Fetch and replace lyrics that already exist (a .lrc file beside a song included), and look up "
                    "remembered songs again");
  command->add_flag("--retry-missing", options.bRetryMissing,
                    "Look up again the songs an earlier run found instrumental, withheld or not on the wiki "
                    "(remembered in .versewell-remembered of the output or library folder)");
}

}  // namespace

void AddLibraryCommands(CLI::App& app, SOptions& options, SMusicLibraryCommandLine& state) {
  state.pBatch = app.add_subcommand(
      "batch", "Fetch the lyrics of a list of songs, one \"Artist<TAB>Title\" or \"Artist - Title\" per line");
  state.pBatch->add_option("FILE", state.strBatchInput, "The song list; - or nothing reads standard input")
      ->type_name("FILE|-");
  state.pBatch->add_option("--out", options.strOutDir, "Save each song's lyrics under DIR")->type_name("DIR");
  state.pBatch
      ->add_option("--template", options.strTemplate,
                   "Layout of the files below --out, as for fetch-all (default \"{artist}/{title}.txt\")")
      ->type_name("PATTERN")
      ->check([](const std::string& text) {
        COutputTemplate layout;
        std::string error;
        return layout.Parse(text, error) ? std::string() : error;
      });
  AddCommonOptions(state.pBatch, options);
  state.pBatch->footer(R"(
Examples:
  printf 'Quillfeather\tSalt Road\nCorrie Fen - Loch Lomond\n' | versewell batch --out lyrics/
  versewell batch songs.txt --jsonl --jobs 4 > lyrics.jsonl)");

  state.pLibrary = app.add_subcommand(
      "library", "Fetch lyrics for every tagged audio file (MP3, FLAC, Ogg, Opus, M4A) under a folder");
  state.pLibrary->add_option("DIR", state.strLibraryDir, "The music folder, walked recursively, or one audio file")
      ->required();
  state.pLibrary->add_flag("--embed", options.bEmbed,
                           "Write the lyrics into each file's tag instead of a .txt file beside it");
  AddCommonOptions(state.pLibrary, options);
  state.pLibrary->footer(R"(
Examples:
  versewell library ~/Music --dry-run
  versewell library ~/Music --embed --jobs 4)");
}

bool TakeLibraryCommand(const SMusicLibraryCommandLine& state, SOptions& options, std::string& error) {
  if (state.pBatch != nullptr && state.pBatch->parsed()) {
    options.eCommand = ECommand::Batch;
    options.vecArgs = {state.strBatchInput.empty() ? std::string("-") : state.strBatchInput};
    if (options.strOutDir.empty() && !options.bJsonl && !options.bDryRun)
      error = "batch needs --out DIR, --jsonl or both";
    return true;
  }
  if (state.pLibrary != nullptr && state.pLibrary->parsed()) {
    options.eCommand = ECommand::Library;
    options.vecArgs = {state.strLibraryDir};
    if (!AudioTagsAvailable())
      error = "library is not available in this build (it has no audio tag reader); use batch instead";
    else if (state.strLibraryDir.empty())
      error = "library needs a music folder";
    return true;
  }
  return false;
}

}  // namespace cli
