// Cache files: arbitrary bytes as an INI file, read, written and listed
// through the private-profile calls, and parsed directly.
//
// Input: three bytes give the lengths (in characters of two bytes each) of a
// section name, a key and a value that follow; the rest is the file.
// Properties:
//   - listing the sections and reading keys of the file never fails badly;
//   - a key written reads back exactly as written, its section is listed,
//     and no other section's value changes;
//   - the file stays parseable: parsing it whole gives the same content as
//     parsing it in two steps (as a grown file is read), and the compact
//     text of that content parses to itself.
#include <cwchar>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "platform/PrivateProfile.h"
#include "platform/posix/ProfileImage.h"
#include "support/TempDir.h"

namespace {

// A name as a const wchar_t* API sees it: up to its first 0.
std::wstring AsCString(std::wstring text) {
  const size_t nul = text.find(L'\0');
  if (nul != std::wstring::npos) text.resize(nul);
  return text;
}

std::vector<std::wstring> SectionNames(const std::wstring& file) {
  std::vector<wchar_t> buffer(1 << 16);
  DWORD n;
  while ((n = platform::GetPrivateProfileSectionNames(buffer.data(), static_cast<DWORD>(buffer.size()),
                                                      file.c_str())) == buffer.size() - 2)
    buffer.resize(buffer.size() * 2);
  std::vector<std::wstring> names;
  for (size_t i = 0; i < n;) {
    const std::wstring name(buffer.data() + i);
    names.push_back(name);
    i += name.size() + 1;
  }
  return names;
}

std::wstring Read(const std::wstring& file, const std::wstring& section, const std::wstring& key) {
  std::vector<wchar_t> buffer(1 << 16);
  const DWORD n = platform::GetPrivateProfileString(section.c_str(), key.c_str(), L"\x1F(none)", buffer.data(),
                                                    static_cast<DWORD>(buffer.size()), file.c_str());
  return std::wstring(buffer.data(), n);
}

void CheckParseable(const std::string& bytes) {
  platform::CProfileImage whole, grown;
  whole.Parse(bytes.data(), bytes.size(), 0);
  grown.Parse(bytes.data(), bytes.size() / 2, 0);
  const uint64_t end = grown.ValidEnd();
  grown.Parse(bytes.data() + end, bytes.size() - end, end);
  const std::string compact = whole.FormatCompact();
  FuzzCheck(compact == grown.FormatCompact(), "a file read in two steps gives what it gives whole");
  platform::CProfileImage again;
  again.Parse(compact.data(), compact.size(), 0);
  if (again.FormatCompact() != compact) {
    for (unsigned char c : compact) std::fprintf(stderr, "%02x", c);
    std::fprintf(stderr, "\n");
    for (unsigned char c : again.FormatCompact()) std::fprintf(stderr, "%02x", c);
    std::fprintf(stderr, "\n");
  }
  FuzzCheck(again.FormatCompact() == compact, "the compact text parses to itself");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static CTempDir* s_dir = new CTempDir();
  static unsigned s_counter = 0;
  if (size < 3) return 0;
  size_t lengths[3] = {data[0] % 24u, data[1] % 24u, data[2] % 40u};
  size_t pos = 3;
  std::wstring parts[3];
  for (int p = 0; p < 3; ++p) {
    const size_t bytes = std::min(size - pos, 2 * lengths[p]);
    parts[p] = AsCString(BytesToWide16(data + pos, bytes));
    pos += bytes;
  }
  const std::wstring &section = parts[0], &key = parts[1], &value = parts[2];
  const std::string fileBytes(reinterpret_cast<const char*>(data) + pos, size - pos);

  // A new name for every input: the backend keeps parsed images per path.
  const std::string path = s_dir->File("c" + std::to_string(s_counter++ % 1000) + ".ARTISTCACHE");
  WriteFileBytes(path, fileBytes);
  const std::wstring file(path.begin(), path.end());
  CheckParseable(fileBytes);

  // Read what is there, for a check after the write.
  const std::vector<std::wstring> before = SectionNames(file);
  platform::CProfileImage image;
  image.Parse(fileBytes.data(), fileBytes.size(), 0);
  const uint32_t written = image.FindSection(section.data(), section.size());
  std::vector<std::pair<std::wstring, std::wstring>> kept;
  for (size_t i = 0; i < before.size() && i < 16; ++i) {
    if (written != platform::CProfileImage::NO_INDEX &&
        image.FindSection(before[i].data(), before[i].size()) == written)
      continue;
    kept.emplace_back(before[i], Read(file, before[i], key.empty() ? L"ArtistUrl" : key));
  }

  if (!section.empty() && !key.empty()) {
    FuzzCheck(platform::WritePrivateProfileString(section.c_str(), key.c_str(), value.c_str(), file.c_str()),
              "a write to a writable file succeeds");
    FuzzCheck(Read(file, section, key) == value, "a written value reads back exactly");
    const std::vector<std::wstring> after = SectionNames(file);
    bool listed = false;
    platform::CProfileImage now;
    const std::string nowBytes = ReadFileBytes(path);
    now.Parse(nowBytes.data(), nowBytes.size(), 0);
    const uint32_t s = now.FindSection(section.data(), section.size());
    FuzzCheck(s != platform::CProfileImage::NO_INDEX, "the written section is in the file");
    for (const std::wstring& name : after) listed = listed || now.FindSection(name.data(), name.size()) == s;
    FuzzCheck(listed, "the written section is listed");
    for (const auto& entry : kept)
      FuzzCheck(Read(file, entry.first, key.empty() ? L"ArtistUrl" : key) == entry.second,
                "a write leaves other sections as they were");
    CheckParseable(nowBytes);
  }
  std::remove(path.c_str());
  return 0;
}
