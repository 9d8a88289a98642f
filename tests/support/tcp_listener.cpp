#include "tests/support/tcp_listener.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "tests/support/fd_io.h"

namespace nclaser::testing {

namespace {

// A TCP socket listening on Address:Port (0: any free port, written back to Port); -1 with
// errno on failure.
int Listening(const std::string& Address, std::uint16_t& Port, int Backlog) {
  sockaddr_in A{};
  A.sin_family = AF_INET;
  A.sin_port = htons(Port);
  if (::inet_pton(AF_INET, Address.c_str(), &A.sin_addr) != 1) {
    errno = EINVAL;
    return -1;
  }
  const int Fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  const int One = 1;
  socklen_t Len = sizeof A;
  if (Fd < 0 || ::setsockopt(Fd, SOL_SOCKET, SO_REUSEADDR, &One, sizeof One) != 0 ||
      ::bind(Fd, reinterpret_cast<const sockaddr*>(&A), sizeof A) != 0 ||
      ::listen(Fd, Backlog) != 0 || ::getsockname(Fd, reinterpret_cast<sockaddr*>(&A), &Len) != 0) {
    const int E = errno;
    if (Fd >= 0) {
      ::close(Fd);
    }
    errno = E;
    return -1;
  }
  Port = ntohs(A.sin_port);
  return Fd;
}

} // namespace

TTcpListener::TTcpListener(std::string Address, std::uint16_t Port, int Backlog)
    : FAddress(std::move(Address)), FPort(Port), FBacklog(Backlog) {
  if (!Listen()) {
    throw std::runtime_error("cannot listen on " + FAddress + ":" + std::to_string(Port) + ": " +
                             std::strerror(errno));
  }
}

TTcpListener::~TTcpListener() {
  Drop();
  StopListening();
}

bool TTcpListener::Listen() {
  if (FListen < 0) {
    FListen = Listening(FAddress, FPort, FBacklog);
  }
  return FListen >= 0;
}

void TTcpListener::StopListening() {
  if (FListen >= 0) {
    ::close(FListen);
    FListen = -1;
  }
}

bool TTcpListener::Accept(int TimeoutMs) {
  pollfd P{FListen, POLLIN, 0};
  if (FListen < 0 || ::poll(&P, 1, TimeoutMs) <= 0) {
    return false;
  }
  const int C = ::accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
  if (C < 0) {
    return false;
  }
  Drop();
  FClient = C;
  FPeerClosed = false;
  return true;
}

std::vector<std::uint8_t> TTcpListener::Read(size_t MinCount, int TimeoutMs) {
  std::vector<std::uint8_t> Out;
  FPeerClosed = !ReadFdMin(FClient, Out, MinCount, TimeoutMs) && FClient >= 0;
  return Out;
}

bool TTcpListener::Write(const void* Data, size_t Count) {
  return WriteFdAll(FClient, Data, Count);
}

void TTcpListener::Drop(bool Reset) {
  if (FClient < 0) {
    return;
  }
  if (Reset) {
    const linger L{1, 0};
    ::setsockopt(FClient, SOL_SOCKET, SO_LINGER, &L, sizeof L);
  }
  ::close(FClient);
  FClient = -1;
}

bool TBacklogFiller::Fill(const std::string& Address, std::uint16_t Port) {
  sockaddr_in A{};
  A.sin_family = AF_INET;
  A.sin_port = htons(Port);
  if (::inet_pton(AF_INET, Address.c_str(), &A.sin_addr) != 1) {
    return false;
  }
  for (int I = 0; I < 16; ++I) {
    const int Fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    FFds.push_back(Fd);
    if (::connect(Fd, reinterpret_cast<const sockaddr*>(&A), sizeof A) == 0) {
      continue;
    }
    pollfd P{Fd, POLLOUT, 0};
    if (::poll(&P, 1, 200) == 0) {
      return true;
    }
  }
  return false;
}

TBacklogFiller::~TBacklogFiller() {
  for (const int Fd : FFds) {
    ::close(Fd);
  }
}

} // namespace nclaser::testing
