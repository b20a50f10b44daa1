// STestCertificates for test programs that run under Wine: the certificates
// are made on the Linux side by tests/support/make-test-certs.sh (the
// openssl command line), started through /bin/sh as the wiki server is.
// Wine cannot wait for a Linux process it started, so the shell writes
// "done" or "failed" into the folder when the script has ended.
#include "support/TestCertificates.h"

#include <windows.h>

#include <chrono>
#include <stdexcept>
#include <thread>

#include "support/TempDir.h"
#include "support/win32/WineHost.h"

namespace {

constexpr int MAKE_TIMEOUT_MS = 60000;

std::string Quote(const std::string& arg) { return "'" + arg + "'"; }

}  // namespace

const STestCertificates& STestCertificates::Get() {
  static CTempDir* s_folder = nullptr;
  static STestCertificates s_certificates;
  if (s_folder != nullptr) return s_certificates;

  static CTempDir folder;  // removed at exit with its contents
  const std::string unixFolder = WineUnixPath(folder.Path());
  const std::string script = std::string(VERSEWELL_SOURCE_DIR) + "/tests/support/make-test-certs.sh";
  const std::string shell = "/bin/sh " + Quote(script) + " " + Quote(unixFolder) +
                            " 127.0.0.1 localhost lyrics.wiki.example >/dev/null 2>&1 && : >" +
                            Quote(unixFolder + "/done") + " || : >" + Quote(unixFolder + "/failed");
  if (!StartNativeProgram("Z:\\bin\\sh -c \"" + shell + "\""))
    throw std::runtime_error("STestCertificates: cannot run " + script);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(MAKE_TIMEOUT_MS);
  while (!FileExists(folder.File("done")) && !FileExists(folder.File("failed")) &&
         std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  if (!FileExists(folder.File("done"))) throw std::runtime_error("STestCertificates: " + script + " failed");
  s_certificates = InFolder(folder.Path());
  s_folder = &folder;
  return s_certificates;
}
