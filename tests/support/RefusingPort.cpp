// CRefusingPort on posix sockets.
#include "support/RefusingPort.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

CRefusingPort::CRefusingPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  m_socket = fd;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    ADD_FAILURE() << "cannot bind a loopback socket";
    return;
  }
  m_port = ntohs(a.sin_port);
}

CRefusingPort::~CRefusingPort() {
  if (m_socket >= 0) close(static_cast<int>(m_socket));
}
