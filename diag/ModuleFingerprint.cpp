#include "diag/ModuleFingerprint.h"

#include <memory>
#include <mutex>
#include <vector>

#include "diag/MD5Checksum.h"
#include "diag/TraceLog.h"
#include "platform/File.h"
#include "platform/FileIo.h"
#include "platform/Module.h"

namespace {

// Reads of this size keep the system calls for a multi-megabyte library in
// the hundreds, not the thousands.
constexpr UINT READ_CHUNK = 64 * 1024;

CString DigestOf(CFile& file) {
  CMD5Checksum checksum;
  std::unique_ptr<unsigned char[]> chunk(new unsigned char[READ_CHUNK]);
  for (;;) {
    UINT read = file.Read(chunk.get(), READ_CHUNK);
    if (read < 1) break;
    checksum.Update(chunk.get(), read);
  }
  return checksum.Final();
}

// Digests already taken in this process, by file identity. A process sees
// one module file, or a handful when a host reloads a rebuilt plug-in, so a
// short list does.
struct CKnownDigest {
  platform::FileIdentity identity;
  CString strDigest;
};

// Ordinary statics, destroyed when the module is unloaded: the list must not
// outlive a plug-in that a host loads and unloads again and again.
std::mutex& KnownDigestsMutex() {
  static std::mutex s_mutex;
  return s_mutex;
}

std::vector<CKnownDigest>& KnownDigests() {
  static std::vector<CKnownDigest> s_known;
  return s_known;
}

}  // namespace

CString GetFileMD5(const CString& path) {
  // Raises CFileException when the file cannot be opened; the file closes
  // when `file` goes out of scope, also when a read raises.
  CFile file(path.GetString(), CFile::modeRead | CFile::typeBinary | CFile::shareDenyWrite);
  return DigestOf(file);
}

CString GetFileFingerprint(const CString& path) {
  CFile file(path.GetString(), CFile::modeRead | CFile::typeBinary | CFile::shareDenyWrite);
  platform::FileIdentity identity;
  const bool known = platform::CurrentFileIo().GetFileIdentity(file.m_hFile, &identity);
  if (known) {
    std::lock_guard<std::mutex> lock(KnownDigestsMutex());
    for (const CKnownDigest& entry : KnownDigests())
      if (entry.identity == identity) return entry.strDigest;
  }
  // Two threads may both hash a file seen for the first time; both get the
  // same digest, and the list keeps one.
  CString digest = DigestOf(file);
  if (known) {
    std::lock_guard<std::mutex> lock(KnownDigestsMutex());
    std::vector<CKnownDigest>& list = KnownDigests();
    bool listed = false;
    for (const CKnownDigest& entry : list) listed = listed || entry.identity == identity;
    if (!listed) list.push_back(CKnownDigest{identity, digest});
  }
  return digest;
}

CString MakeModuleFingerprint() {
  // The full path of the module, however long: a cut path would only fail.
  CString path(platform::GetOwnModulePath());
  try {
    return GetFileFingerprint(path);
  } catch (const CFileException& e) {
    wchar_t text[255];
    text[0] = L'\0';
    e.GetErrorMessage(text, 255);
    g_TraceLog.Log(TRACE_ERROR, (CString(L"Can not make MD5hash, CFileException: ") + text).GetString());
    return CString();
  }
}
