#include "support/TestCertificates.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <stdexcept>
#include <vector>

#include "support/TempDir.h"

extern char** environ;

namespace {

std::string ScriptPath() {
#ifdef VERSEWELL_SOURCE_DIR
  return std::string(VERSEWELL_SOURCE_DIR) + "/tests/support/make-test-certs.sh";
#else
  return "tests/support/make-test-certs.sh";
#endif
}

std::string SiteHost() {
#ifdef VERSEWELL_SITE_HOST
  return VERSEWELL_SITE_HOST;
#else
  return "lyrics.wiki.example";
#endif
}

}  // namespace

const STestCertificates& STestCertificates::Get() {
  static CTempDir* s_folder = nullptr;
  static STestCertificates s_certificates;
  if (s_folder != nullptr) return s_certificates;

  // Removed at exit with its contents (a function-local static).
  static CTempDir folder;
  std::vector<std::string> args = {"/bin/sh", ScriptPath(), folder.Path(), "127.0.0.1", "localhost", SiteHost()};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, argv.data(), environ) != 0)
    throw std::runtime_error("STestCertificates: cannot run " + ScriptPath());
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    throw std::runtime_error("STestCertificates: " + ScriptPath() + " failed");
  s_certificates = InFolder(folder.Path());
  s_folder = &folder;
  return s_certificates;
}
