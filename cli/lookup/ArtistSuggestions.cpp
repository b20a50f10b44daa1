#include "cli/lookup/ArtistSuggestions.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "cli/sys/PathText.h"
#include "cli/lookup/TagForms.h"
#include "cli/sys/TextConvert.h"
#include "search/ArtistNameMatcher.h"

namespace cli {
namespace fs = std::filesystem;
namespace {

// The plug-in's price of one replaced letter; a suggestion may be at most a
// few letters off.
constexpr float LETTER_COST = 100.0f;
// Cache files are small; a bigger one is not read for a message.
constexpr std::uintmax_t MAX_CACHE_FILE_BYTES = 16u << 20;

std::wstring DecodeUtf16Le(const std::string& bytes, size_t start) {
  std::wstring out;
  for (size_t i = start; i + 1 < bytes.size(); i += 2) {
    char32_t unit = static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8);
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 3 < bytes.size()) {
      char32_t low = static_cast<unsigned char>(bytes[i + 2]) | (static_cast<unsigned char>(bytes[i + 3]) << 8);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        AppendWide(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        i += 2;
        continue;
      }
    }
    AppendWide(out, unit);
  }
  return out;
}

// "\uXXXX" and "\UXXXXXXXX" escapes resolved; any other '\' is literal.
std::wstring Unescape(const std::wstring& text) {
  std::wstring out;
  for (size_t i = 0; i < text.size(); ++i) {
    const size_t digits = (text[i] == L'\\' && i + 1 < text.size()) ? (text[i + 1] == L'u' ? 4 : text[i + 1] == L'U' ? 8 : 0) : 0;
    if (digits > 0 && i + 2 + digits <= text.size()) {
      char32_t value = 0;
      bool ok = true;
      for (size_t k = 0; k < digits && ok; ++k) {
        wchar_t c = text[i + 2 + k];
        int v = (c >= L'0' && c <= L'9') ? c - L'0' : (c >= L'a' && c <= L'f') ? c - L'a' + 10 : (c >= L'A' && c <= L'F') ? c - L'A' + 10 : -1;
        ok = v >= 0;
        value = value * 16 + static_cast<char32_t>(v);
      }
      if (ok && value <= 0x10FFFF) {
        AppendWide(out, value);
        i += 1 + digits;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

}  // namespace

std::vector<std::wstring> CacheFileNames(const std::string& bytes) {
  const bool utf16 = bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
                     static_cast<unsigned char>(bytes[1]) == 0xFE;
  const std::wstring text = utf16 ? DecodeUtf16Le(bytes, 2) : Utf8ToWide(bytes);
  std::vector<std::wstring> names;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(L'\n', start);
    if (end == std::wstring::npos) break;  // a last line without its break is incomplete
    std::wstring line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == L'\r') line.pop_back();
    if (line.size() >= 2 && line.front() == L'[' && line.back() == L']')
      names.push_back(Unescape(line.substr(1, line.size() - 2)));
  }
  return names;
}

std::vector<SArtistSuggestion> RankArtists(const std::wstring& artist, const std::vector<std::wstring>& names) {
  const std::wstring wanted = TrimWide(artist);
  // A few letters off at most: one in four, and at least two.
  const float limit = LETTER_COST * static_cast<float>(std::max<size_t>(2, wanted.size() / 4)) + 1;
  CArtistNameMatcher matcher;
  std::vector<SArtistSuggestion> ranked;
  std::vector<std::wstring> seen;
  for (const std::wstring& name : names) {
    const float distance = matcher.GetDistanceBelow(wanted, name, limit);
    if (distance >= limit) continue;
    const std::wstring key = FoldCase(TrimWide(name));
    if (std::find(seen.begin(), seen.end(), key) != seen.end()) continue;
    seen.push_back(key);
    ranked.push_back({name, distance});
  }
  std::stable_sort(ranked.begin(), ranked.end(),
                   [](const SArtistSuggestion& a, const SArtistSuggestion& b) { return a.fDistance < b.fDistance; });
  if (ranked.size() > MAX_ARTIST_SUGGESTIONS) ranked.resize(MAX_ARTIST_SUGGESTIONS);
  return ranked;
}

std::vector<SArtistSuggestion> SuggestArtists(const std::wstring& artist, const std::wstring& cacheFolder) {
  if (cacheFolder.empty()) return {};
  const std::wstring folded = FoldAccents(TrimWide(artist));
  if (folded.empty()) return {};
  wchar_t lead = folded[0];
  if (lead >= L'a' && lead <= L'z') lead = static_cast<wchar_t>(lead - 32);
  if (lead >= L'0' && lead <= L'9') lead = L'#';
  if (!((lead >= L'A' && lead <= L'Z') || lead == L'#')) return {};
  const std::string fileName = std::string(1, static_cast<char>(lead)) + ".ARTISTCACHE";
  std::vector<std::wstring> names;
  std::error_code ec;
  // <folder>/<source name>/<source id>/<letter>.ARTISTCACHE: two levels down.
  fs::recursive_directory_iterator it(PathFromUtf8(WideToUtf8(cacheFolder)), ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    if (it.depth() >= 2) it.disable_recursion_pending();
    if (Utf8FromPath(it->path().filename()) != fileName || !it->is_regular_file(ec)) continue;
    if (it->file_size(ec) > MAX_CACHE_FILE_BYTES || ec) continue;
    std::ifstream in(it->path(), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::wstring> more = CacheFileNames(bytes);
    names.insert(names.end(), more.begin(), more.end());
  }
  return RankArtists(folded != TrimWide(artist) ? folded : TrimWide(artist), names);
}

std::string AcceptingMaxDiff(float distance) {
  return std::to_string(static_cast<long long>(std::floor(distance)) + 1);
}

}  // namespace cli
