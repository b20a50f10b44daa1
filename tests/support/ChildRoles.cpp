// The role registry and dispatch of tests/support/ChildProcess.h, shared by
// both backends.
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "support/ChildProcess.h"
#include "support/ChildProcessMarker.h"

namespace {

std::map<std::string, ChildRoleFunction>& Roles() {
  static std::map<std::string, ChildRoleFunction> s_roles;  // filled before main
  return s_roles;
}

}  // namespace

CChildRole::CChildRole(const char* name, ChildRoleFunction function) { Roles()[name] = function; }

bool RunChildRole(const std::vector<std::string>& args, int& exitCode) {
  if (args.size() < 3 || args[1] != CHILD_MARKER) return false;
  const auto found = Roles().find(args[2]);
  if (found == Roles().end()) {
    std::fprintf(stderr, "no child role named %s\n", args[2].c_str());
    exitCode = 126;
    return true;
  }
  exitCode = found->second(std::vector<std::string>(args.begin() + 3, args.end()));
  return true;
}
