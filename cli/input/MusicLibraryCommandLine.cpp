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
  command->add_flag("--dry-run", options.bDryRun,
                    "Print what would be fetched and written, skipping what a real run skips; download nothing");
  command->add_flag("--force", options.bForce,
                    "Fetch and replace lyrics that already exist (a .lrc file beside a song included), and look up "
                    "remembered songs again");
  command->add_flag("--retry-missing", options.bRetryMissing,
                    "Look up again the songs an earlier run found instrumental, withheld or not on the wiki "
                    "(remembered in .versewell-remembered of the output or library folder)");
}

}  // namespace

void DeclareBatchCommand(CLI::App& batch, SOptions& options, SMusicLibraryCommandLine& state) {
  batch.add_option("FILE", state.strBatchInput, "The song list; - or nothing reads standard input")->type_name("FILE|-");
  batch.add_option("--out", options.strOutDir, "Save each song's lyrics under DIR")->type_name("DIR");
  batch
      .add_option("--template", options.strTemplate,
                  "Layout of the files below --out, as for fetch-all (default \"{artist}/{title}.txt\")")
      ->type_name("PATTERN")
      ->check([](const std::string& text) {
        COutputTemplate layout;
        std::string error;
        return layout.Parse(text, error) ? std::string() : error;
      });
  AddCommonOptions(&batch, options);
  batch.footer(R"(
Examples:
  printf 'Quillfeather\tSalt Road\nCorrie Fen - Loch Lomond\n' | versewell batch --out lyrics/
  versewell batch songs.txt --jsonl --jobs 4 > lyrics.jsonl)");
}

void DeclareLibraryCommand(CLI::App& library, SOptions& options, SMusicLibraryCommandLine& state) {
  library.add_option("DIR", state.strLibraryDir, "The music folder, walked recursively, or one audio file")->required();
  library.add_flag("--embed", options.bEmbed, "Write the lyrics into each file's tag instead of a .txt file beside it");
  library.add_flag("--follow-links", options.bFollowLinks,
                   "Also edit files that links inside the folder lead to outside it");
  library.add_flag("--chown-ok", options.bChownOk,
                   "Edit files whose owner or group cannot be kept (they become the runner's)");
  AddCommonOptions(&library, options);
  library.footer(R"(
Examples:
  versewell library ~/Music --dry-run
  versewell library ~/Music --embed --jobs 4)");
}

std::string TakeBatchCommand(const SMusicLibraryCommandLine& state, SOptions& options) {
  options.eCommand = ECommand::Batch;
  options.vecArgs = {state.strBatchInput.empty() ? std::string("-") : state.strBatchInput};
  if (options.strOutDir.empty() && !options.bJsonl && !options.bDryRun) return "batch needs --out DIR, --jsonl or both";
  return std::string();
}

std::string TakeLibraryCommand(const SMusicLibraryCommandLine& state, SOptions& options) {
  options.eCommand = ECommand::Library;
  options.vecArgs = {state.strLibraryDir};
  if (!AudioTagsAvailable())
    return "library is not available in this build (it has no audio tag reader); use batch instead";
  if (state.strLibraryDir.empty()) return "library needs a music folder";
  return std::string();
}

}  // namespace cli
