// The JSON error object the program prints on stdout with --json (and per
// song with --jsonl): {"error": {"kind", "message", "url", "cause"}}, plus
// "suggestions" when there are any. Every error object is built here, so
// the kinds and the keys stay the documented ones.
//
// Kinds: not_found (exit 1), network (exit 3), usage (exit 2),
// interrupted (exit 130), write (a lyrics file of batch or library could
// not be written), internal (exit 70: the program's own fault).
// "url" and "cause" are null when empty.
//
// Failure: none (std::bad_alloc aside). Threads: pure functions.
#ifndef VERSEWELL_CLI_JSON_ERROR_H
#define VERSEWELL_CLI_JSON_ERROR_H

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace cli {

enum class EErrorKind { NotFound, Network, Usage, Interrupted, Write, Internal };

// "not_found", "network", ...
const char* ErrorKindName(EErrorKind kind);

nlohmann::ordered_json JsonError(EErrorKind kind, const std::string& message, const std::string& url = std::string(),
                                 const std::string& cause = std::string(),
                                 const std::vector<std::string>& suggestions = std::vector<std::string>());

}  // namespace cli

#endif  // VERSEWELL_CLI_JSON_ERROR_H
