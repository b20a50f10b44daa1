// A loopback port that refuses connections for as long as the object lives:
// a TCP socket bound to 127.0.0.1 on a free port that never listens, so no
// other process can take the port between choosing it and connecting to it.
//
// One implementation per platform: tests/support/RefusingPort.cpp (posix
// sockets) and tests/support/win32/RefusingPort.cpp (Winsock). A socket that
// cannot be bound is reported as a test failure (ADD_FAILURE) and Port() is
// then 0. Owned by the creating test; not shared between threads.
#ifndef VERSEWELL_TESTS_SUPPORT_REFUSING_PORT_H
#define VERSEWELL_TESTS_SUPPORT_REFUSING_PORT_H

#include <cstdint>

class CRefusingPort {
 public:
  CRefusingPort();
  ~CRefusingPort();
  CRefusingPort(const CRefusingPort&) = delete;
  CRefusingPort& operator=(const CRefusingPort&) = delete;
  int Port() const { return m_port; }

 private:
  intptr_t m_socket = -1;  // a file descriptor or a SOCKET
  int m_port = 0;
};

#endif  // VERSEWELL_TESTS_SUPPORT_REFUSING_PORT_H
