#include "support/TempDir.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "platform/Path.h"

// Portable on purpose: the same support code runs natively and, built for
// Windows, under Wine. Paths are UTF-8 with the platform's separator.
namespace fs = std::filesystem;

namespace {

fs::path Native(const std::string& utf8) { return fs::u8path(utf8); }

// In the platform's own form ("\\" on Windows), as the system builds paths.
std::string Utf8(const fs::path& path) { return path.u8string(); }

}  // namespace

CTempDir::CTempDir() {
  std::error_code ec;
  const fs::path base = fs::temp_directory_path(ec);
  if (ec) throw std::runtime_error("no temporary folder");
  std::random_device seed;
  std::mt19937_64 random(seed());
  for (int attempt = 0; attempt < 100; ++attempt) {
    const fs::path candidate = base / ("versewell-test-" + std::to_string(random() % 1000000000ull));
    if (fs::create_directory(candidate, ec)) {
      m_path = Utf8(candidate);
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary folder");
}

CTempDir::~CTempDir() {
  std::error_code ec;
  fs::remove_all(Native(m_path), ec);
}

std::string CTempDir::File(const std::string& name) const {
  return m_path + static_cast<char>(platform::PATH_SEPARATOR) + name;
}

std::wstring CTempDir::WPath() const { return platform::FromNativePath(m_path); }

std::vector<std::string> CTempDir::List() const {
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(Native(m_path), ec), end; !ec && it != end; it.increment(ec))
    names.push_back(Utf8(it->path().filename()));
  std::sort(names.begin(), names.end());
  return names;
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(Native(path), std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(Native(path), std::ios::binary | std::ios::trunc);
  out << bytes;
}

bool FileExists(const std::string& path) {
  std::error_code ec;
  return fs::exists(Native(path), ec);
}

std::wstring DecodeUtf16Le(const std::string& bytes) {
  std::wstring out;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    uint32_t u = static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8);
    if (u >= 0xD800 && u <= 0xDBFF && i + 3 < bytes.size()) {
      uint32_t lo = static_cast<unsigned char>(bytes[i + 2]) | (static_cast<unsigned char>(bytes[i + 3]) << 8);
      if (lo >= 0xDC00 && lo <= 0xDFFF && sizeof(wchar_t) == 4) {  // a 2-byte wchar_t keeps the pair
        out += static_cast<wchar_t>(0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00));
        i += 2;
        continue;
      }
    }
    out += static_cast<wchar_t>(u);
  }
  return out;
}

std::string ToUtf8(const std::wstring& text) { return platform::ToNativePath(text); }
std::wstring FromUtf8(const std::string& text) { return platform::FromNativePath(text); }
