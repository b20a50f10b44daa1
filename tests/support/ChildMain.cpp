// main() of a test program that starts copies of itself as children (see
// support/ChildProcess.h): runs the requested role, or else the tests.
#include <gtest/gtest.h>

#include "support/ChildProcess.h"

int main(int argc, char** argv) {
  int exitCode = 0;
  if (RunChildRole(ProgramArguments(argc, argv), exitCode)) return exitCode;
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
