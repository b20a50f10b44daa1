// TrustExtraCaFileForTesting (platform/HttpTransportTesting.h) on Windows.
//
// WinHTTP verifies server certificates through the CryptoAPI chain engine
// of the current user, and offers no per-request "extra trust anchor". So
// the test authority goes into the current user's ROOT store for as long as
// the hook says so, and comes out again on an empty path (and at the next
// call). Verification itself is never relaxed.
//
// This file is linked into the Windows test programs only, never into
// versewell.dll: the DLL neither carries the hook nor imports crypt32. Run
// the tests in a private WINEPREFIX (cmake/WindowsTests.cmake does): on real
// Windows, adding to the user's ROOT store asks the user for consent.
// Threads: set-up only, as the header says.
#include <mutex>
#include <string>
#include <vector>

#include "platform/HttpTransportTesting.h"
#include "platform/win32/WinApi.h"
#include <wincrypt.h>

namespace platform {
namespace {

std::mutex g_mutex;
std::vector<std::vector<BYTE>> g_vAdded;  // DER of the certificates this hook added

std::string ReadAll(const std::wstring& path) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::string();
  std::string text;
  char buffer[4096];
  DWORD got = 0;
  while (::ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
  ::CloseHandle(file);
  return text;
}

void RemoveAdded(HCERTSTORE root) {
  for (const std::vector<BYTE>& der : g_vAdded) {
    PCCERT_CONTEXT wanted = ::CertCreateCertificateContext(X509_ASN_ENCODING, der.data(),
                                                           static_cast<DWORD>(der.size()));
    if (wanted == nullptr) continue;
    PCCERT_CONTEXT found = ::CertFindCertificateInStore(root, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, wanted,
                                                        nullptr);
    if (found != nullptr) ::CertDeleteCertificateFromStore(found);  // frees `found`
    ::CertFreeCertificateContext(wanted);
  }
  g_vAdded.clear();
}

}  // namespace

void TrustExtraCaFileForTesting(const std::wstring& pemFile) {
  std::lock_guard<std::mutex> lock(g_mutex);
  HCERTSTORE root = ::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"ROOT");
  if (root == nullptr) return;  // HTTPS to the test server then fails verification, as promised
  RemoveAdded(root);
  // Every PEM block of the file; one that does not decode is skipped, so a
  // broken file leaves the system's store alone.
  const std::string text = pemFile.empty() ? std::string() : ReadAll(pemFile);
  const std::string begin = "-----BEGIN CERTIFICATE-----";
  const std::string end = "-----END CERTIFICATE-----";
  for (size_t at = text.find(begin); at != std::string::npos; at = text.find(begin, at + 1)) {
    const size_t stop = text.find(end, at);
    if (stop == std::string::npos) break;
    const std::string block = text.substr(at, stop + end.size() - at);
    DWORD size = 0;
    if (!::CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER, nullptr,
                                &size, nullptr, nullptr))
      continue;
    std::vector<BYTE> der(size);
    if (!::CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER,
                                der.data(), &size, nullptr, nullptr))
      continue;
    der.resize(size);
    if (::CertAddEncodedCertificateToStore(root, X509_ASN_ENCODING, der.data(), size,
                                           CERT_STORE_ADD_REPLACE_EXISTING, nullptr))
      g_vAdded.push_back(der);
  }
  ::CertCloseStore(root, 0);
}

}  // namespace platform
