// A fresh directory under the system's temporary folder, removed with its
// contents when the object goes out of scope. Also small file helpers.
#ifndef VERSEWELL_TESTS_SUPPORT_TEMP_DIR_H
#define VERSEWELL_TESTS_SUPPORT_TEMP_DIR_H

#include <string>
#include <vector>

class CTempDir {
 public:
  CTempDir();
  ~CTempDir();
  const std::string& Path() const { return m_path; }
  std::wstring WPath() const;
  // Full path of `name` inside the directory, joined with the platform's
  // separator (the folder's own path uses it too).
  std::string File(const std::string& name) const;
  // Names of the entries, sorted.
  std::vector<std::string> List() const;

 private:
  std::string m_path;
};

std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);
// Decodes UTF-16LE bytes (without interpreting a BOM) into wide text.
std::wstring DecodeUtf16Le(const std::string& bytes);
std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);

#endif
