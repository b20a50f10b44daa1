// The certificates of the HTTPS tests, made fresh once per test process by
// tests/support/make-test-certs.sh (the openssl command line) in a
// temporary folder that is removed at exit. No key lives in the repository.
//
// Get() throws std::runtime_error when the certificates cannot be made.
// Not thread-safe on first use; call it from the test's thread.
#ifndef VERSEWELL_TESTS_SUPPORT_TEST_CERTIFICATES_H
#define VERSEWELL_TESTS_SUPPORT_TEST_CERTIFICATES_H

#include <string>

struct STestCertificates {
  std::string strCaFile;         // the test authority; trust it with TrustExtraCaFileForTesting
  std::string strServerCert;     // for 127.0.0.1, localhost and the site host, signed by the authority
  std::string strServerKey;
  std::string strWrongHostCert;  // for wrong-host.example only, signed by the authority
  std::string strWrongHostKey;

  static const STestCertificates& Get();
  // The file names make-test-certs.sh writes into `folder`.
  static STestCertificates InFolder(const std::string& folder) {
    STestCertificates c;
    c.strCaFile = folder + "/ca.pem";
    c.strServerCert = folder + "/server.pem";
    c.strServerKey = folder + "/server.key";
    c.strWrongHostCert = folder + "/wrong-host.pem";
    c.strWrongHostKey = folder + "/wrong-host.key";
    return c;
  }
};

#endif  // VERSEWELL_TESTS_SUPPORT_TEST_CERTIFICATES_H
