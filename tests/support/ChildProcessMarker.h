// The first argument that makes a test program run as a child (see
// support/ChildProcess.h). Shared by the backends and the dispatch.
#ifndef VERSEWELL_TESTS_SUPPORT_CHILD_PROCESS_MARKER_H
#define VERSEWELL_TESTS_SUPPORT_CHILD_PROCESS_MARKER_H

constexpr const char* CHILD_MARKER = "--versewell-test-child";

#endif  // VERSEWELL_TESTS_SUPPORT_CHILD_PROCESS_MARKER_H
