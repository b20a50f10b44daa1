#include "diag/ModuleFingerprint.h"

#include "diag/MD5Checksum.h"
#include "diag/TraceLog.h"
#include "platform/File.h"
#include "platform/Module.h"

CString GetFileMD5(const CString& path) {
  // Raises CFileException when the file cannot be opened; the file closes
  // when `file` goes out of scope, also when a read raises.
  CFile file(path.GetString(), CFile::modeRead | CFile::typeBinary | CFile::shareDenyWrite);
  CMD5Checksum checksum;
  unsigned char chunk[1024];
  for (;;) {
    UINT read = file.Read(chunk, sizeof chunk);
    if (read < 1) break;
    checksum.Update(chunk, read);
  }
  return checksum.Final();
}

CString MakeModuleFingerprint() {
  // The full path of the module, however long: a cut path would only fail.
  CString path(platform::GetOwnModulePath());
  try {
    return GetFileMD5(path);
  } catch (const CFileException& e) {
    wchar_t text[255];
    text[0] = L'\0';
    e.GetErrorMessage(text, 255);
    g_TraceLog.Log(TRACE_ERROR, (CString(L"Can not make MD5hash, CFileException: ") + text).GetString());
    return CString();
  }
}
