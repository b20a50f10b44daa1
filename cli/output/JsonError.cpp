// The JSON error object; see JsonError.h.
#include "cli/output/JsonError.h"

namespace cli {

const char* ErrorKindName(EErrorKind kind) {
  switch (kind) {
    case EErrorKind::NotFound: return "not_found";
    case EErrorKind::Network: return "network";
    case EErrorKind::Usage: return "usage";
    case EErrorKind::Interrupted: return "interrupted";
    case EErrorKind::Write: return "write";
    case EErrorKind::Internal: return "internal";
  }
  return "internal";
}

nlohmann::ordered_json JsonError(EErrorKind kind, const std::string& message, const std::string& url,
                                 const std::string& cause, const std::vector<std::string>& suggestions) {
  auto textOrNull = [](const std::string& text) {
    return text.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(text);
  };
  nlohmann::ordered_json error = {
      {"kind", ErrorKindName(kind)}, {"message", message}, {"url", textOrNull(url)}, {"cause", textOrNull(cause)}};
  if (!suggestions.empty()) error["suggestions"] = suggestions;
  return {{"error", std::move(error)}};
}

}  // namespace cli
