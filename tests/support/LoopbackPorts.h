#pragma once
// Loopback TCP ports for tests and benchmarks that start real servers.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>

namespace zv::test {

// A port nobody listens on now: the system's choice for a socket bound to
// port 0 on 127.0.0.1, given back at once.
inline int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(fd);
  return ntohs(a.sin_port);
}

// A blocking TCP connection to 127.0.0.1:port (-1 when refused).
inline int ConnectLoopback(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return fd;
  ::close(fd);
  return -1;
}

// Whether something accepts connections on 127.0.0.1:port.
inline bool PortOpen(int port) {
  const int fd = ConnectLoopback(port);
  if (fd >= 0) ::close(fd);
  return fd >= 0;
}

}  // namespace zv::test
