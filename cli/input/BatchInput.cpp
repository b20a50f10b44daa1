#include "cli/input/BatchInput.h"

namespace cli {
namespace {

std::string Trim(const std::string& text) {
  const char* blanks = " \t\r\n\v\f";
  size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return std::string();
  size_t last = text.find_last_not_of(blanks);
  return text.substr(first, last - first + 1);
}

bool HasControl(const std::string& text) {
  for (char c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return true;
  return false;
}

}  // namespace

bool ParseBatchLine(const std::string& line, SBatchSong& song, std::string& reason) {
  reason.clear();
  if (line.size() > MAX_BATCH_LINE_BYTES) {
    reason = "line longer than " + std::to_string(MAX_BATCH_LINE_BYTES) + " bytes";
    return false;
  }
  std::string trimmed = Trim(line);
  if (trimmed.empty() || trimmed[0] == '#') return false;
  std::string artist, title;
  size_t tab = trimmed.find('\t');
  size_t dash = trimmed.find(" - ");
  if (tab != std::string::npos) {
    artist = trimmed.substr(0, tab);
    title = trimmed.substr(tab + 1);
  } else if (dash != std::string::npos) {
    artist = trimmed.substr(0, dash);
    title = trimmed.substr(dash + 3);
  } else {
    reason = "expected \"Artist<TAB>Title\" or \"Artist - Title\"";
    return false;
  }
  artist = Trim(artist);
  title = Trim(title);
  if (artist.empty() || title.empty()) {
    reason = artist.empty() ? "the artist is empty" : "the title is empty";
    return false;
  }
  if (HasControl(artist) || HasControl(title)) {
    reason = "control characters in the artist or title";
    return false;
  }
  song.strArtist = std::move(artist);
  song.strTitle = std::move(title);
  return true;
}

SBatchInput ReadBatchInput(std::istream& in) {
  SBatchInput result;
  std::string line;
  size_t number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (number == 1 && line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    SBatchSong song;
    std::string reason;
    if (ParseBatchLine(line, song, reason)) {
      song.nLine = number;
      result.vecSongs.push_back(std::move(song));
    } else if (!reason.empty()) {
      result.vecProblems.push_back({number, reason});
    }
  }
  return result;
}

}  // namespace cli
