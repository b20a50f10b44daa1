#include "cli/input/AudioPayload.h"

#include <algorithm>
#include <cstring>

namespace cli {
namespace {

// Reads exactly `size` bytes at `offset`; false at the end of the file.
bool ReadAt(safesys::Handle file, uint64_t offset, unsigned char* buffer, size_t size) {
  int code = 0;
  if (!safesys::Seek(file, offset, code)) return false;
  size_t got = 0;
  while (got < size) {
    long long n = safesys::Read(file, reinterpret_cast<char*>(buffer) + got, size - got, code);
    if (n <= 0) return false;
    got += static_cast<size_t>(n);
  }
  return true;
}

uint64_t FileSize(safesys::Handle file) {
  safesys::SIdentity identity;
  int code = 0;
  return safesys::Identify(file, identity, code) ? identity.nSize : 0;
}

// The size of an ID3v2 tag at `offset`, 0 when there is none.
uint64_t Id3v2Size(safesys::Handle file, uint64_t offset) {
  unsigned char h[10];
  if (!ReadAt(file, offset, h, sizeof h) || std::memcmp(h, "ID3", 3) != 0) return 0;
  uint64_t size = (uint64_t(h[6] & 0x7F) << 21) | (uint64_t(h[7] & 0x7F) << 14) | (uint64_t(h[8] & 0x7F) << 7) |
                  uint64_t(h[9] & 0x7F);
  return 10 + size + ((h[5] & 0x10) != 0 ? 10 : 0);
}

bool Mpeg(safesys::Handle file, uint64_t size, PayloadRanges& ranges, std::string& error) {
  uint64_t start = Id3v2Size(file, 0);
  if (start > size) {
    error = "the ID3v2 tag runs past the end of the file";
    return false;
  }
  ranges.push_back({start, size - start});
  return true;
}

bool Flac(safesys::Handle file, uint64_t size, PayloadRanges& ranges, std::string& error) {
  uint64_t at = Id3v2Size(file, 0);
  unsigned char magic[4];
  if (!ReadAt(file, at, magic, 4) || std::memcmp(magic, "fLaC", 4) != 0) {
    error = "no FLAC stream marker";
    return false;
  }
  at += 4;
  for (;;) {
    unsigned char h[4];
    if (!ReadAt(file, at, h, 4)) {
      error = "the FLAC metadata is cut short";
      return false;
    }
    at += 4 + ((uint64_t(h[1]) << 16) | (uint64_t(h[2]) << 8) | h[3]);
    if (at > size) {
      error = "the FLAC metadata is cut short";
      return false;
    }
    if ((h[0] & 0x80) != 0) break;
  }
  ranges.push_back({at, size - at});
  return true;
}

bool Ogg(safesys::Handle file, uint64_t size, PayloadRanges& ranges, std::string& error) {
  bool audio = false;
  for (uint64_t at = 0; at < size;) {
    unsigned char h[27];
    unsigned char table[255];
    if (!ReadAt(file, at, h, sizeof h) || std::memcmp(h, "OggS", 4) != 0 || !ReadAt(file, at + 27, table, h[26])) {
      error = "an Ogg page is damaged or cut short";
      return false;
    }
    uint64_t body = 0;
    for (unsigned i = 0; i < h[26]; ++i) body += table[i];
    uint64_t granule = 0;
    for (int i = 7; i >= 0; --i) granule = (granule << 8) | h[6 + i];
    uint64_t bodyAt = at + 27 + h[26];
    if (bodyAt + body > size) {
      error = "an Ogg page is cut short";
      return false;
    }
    if (!audio && granule != 0 && granule != ~uint64_t(0)) audio = true;
    if (audio && body > 0) ranges.push_back({bodyAt, body});
    at = bodyAt + body;
  }
  return true;
}

bool Mp4(safesys::Handle file, uint64_t size, PayloadRanges& ranges, std::string& error) {
  for (uint64_t at = 0; at < size;) {
    unsigned char h[16];
    if (!ReadAt(file, at, h, 8)) {
      error = "an MP4 box is cut short";
      return false;
    }
    uint64_t box = (uint64_t(h[0]) << 24) | (uint64_t(h[1]) << 16) | (uint64_t(h[2]) << 8) | h[3];
    uint64_t header = 8;
    if (box == 1) {
      if (!ReadAt(file, at + 8, h + 8, 8)) {
        error = "an MP4 box is cut short";
        return false;
      }
      box = 0;
      for (int i = 8; i < 16; ++i) box = (box << 8) | h[i];
      header = 16;
    } else if (box == 0) {
      box = size - at;
    }
    if (box < header || at + box > size) {
      error = "an MP4 box is cut short";
      return false;
    }
    if (std::memcmp(h + 4, "mdat", 4) == 0) ranges.push_back({at + header, box - header});
    at += box;
  }
  return true;
}

}  // namespace

bool FindAudioPayload(safesys::Handle file, const std::string& extension, PayloadRanges& ranges, std::string& error) {
  ranges.clear();
  const uint64_t size = FileSize(file);
  if (extension == "mp3") return Mpeg(file, size, ranges, error);
  if (extension == "flac") return Flac(file, size, ranges, error);
  if (extension == "ogg" || extension == "oga" || extension == "opus") return Ogg(file, size, ranges, error);
  if (extension == "m4a" || extension == "mp4") return Mp4(file, size, ranges, error);
  error = "no known layout for ." + extension + " files";
  return false;
}

bool SamePayload(safesys::Handle original, safesys::Handle copy, const std::string& extension, std::string& error) {
  PayloadRanges a, b;
  std::string reason;
  if (!FindAudioPayload(original, extension, a, reason)) {
    error = "the original's audio cannot be located: " + reason;
    return false;
  }
  if (!FindAudioPayload(copy, extension, b, reason)) {
    error = "the edited copy is damaged (" + reason + ")";
    return false;
  }
  uint64_t totalA = 0, totalB = 0;
  for (const auto& r : a) totalA += r.second;
  for (const auto& r : b) totalB += r.second;
  if (totalA != totalB) {
    error = "the edited copy's audio is " + std::to_string(totalB) + " bytes, the original's " + std::to_string(totalA);
    return false;
  }
  // Walk both range lists in step, comparing in chunks.
  std::vector<unsigned char> x(1 << 16), y(1 << 16);
  size_t ia = 0, ib = 0;
  uint64_t offA = 0, offB = 0;
  while (ia < a.size() && ib < b.size()) {
    uint64_t n = std::min<uint64_t>({a[ia].second - offA, b[ib].second - offB, x.size()});
    if (n > 0) {
      if (!ReadAt(original, a[ia].first + offA, x.data(), n) || !ReadAt(copy, b[ib].first + offB, y.data(), n)) {
        error = "cannot read the audio back";
        return false;
      }
      if (std::memcmp(x.data(), y.data(), n) != 0) {
        error = "the edited copy's audio differs from the original's";
        return false;
      }
    }
    offA += n;
    offB += n;
    if (offA == a[ia].second) ++ia, offA = 0;
    if (ib < b.size() && offB == b[ib].second) ++ib, offB = 0;
  }
  return true;
}

}  // namespace cli
