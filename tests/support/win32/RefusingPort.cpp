// CRefusingPort on Winsock. WSAStartup/WSACleanup bracket the object's
// lifetime (they count, so nesting with other users is fine).
#include "support/RefusingPort.h"

#include <winsock2.h>

#include <gtest/gtest.h>

CRefusingPort::CRefusingPort() {
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
    ADD_FAILURE() << "WSAStartup failed";
    return;
  }
  const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  m_socket = s == INVALID_SOCKET ? -1 : static_cast<intptr_t>(s);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int len = sizeof a;
  if (s == INVALID_SOCKET || bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    ADD_FAILURE() << "cannot bind a loopback socket";
    return;
  }
  m_port = ntohs(a.sin_port);
}

CRefusingPort::~CRefusingPort() {
  if (m_socket >= 0) closesocket(static_cast<SOCKET>(m_socket));
  WSACleanup();
}
