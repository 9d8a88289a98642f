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

bool MakeAddress(const std::string& Address, std::uint16_t Port, sockaddr_in& A) {
  A = sockaddr_in{};
  A.sin_family = AF_INET;
  A.sin_port = htons(Port);
  return ::inet_pton(AF_INET, Address.c_str(), &A.sin_addr) == 1;
}

} // namespace

TClosedPort::TClosedPort(const std::string& Address, std::uint16_t Port) {
  sockaddr_in A{};
  if (!MakeAddress(Address, Port, A)) {
    throw std::runtime_error("bad address " + Address);
  }
  FFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  socklen_t Len = sizeof A;
  if (FFd < 0 || ::bind(FFd, reinterpret_cast<const sockaddr*>(&A), sizeof A) != 0 ||
      ::getsockname(FFd, reinterpret_cast<sockaddr*>(&A), &Len) != 0) {
    const std::string Why = std::strerror(errno);
    if (FFd >= 0) {
      ::close(FFd);
    }
    throw std::runtime_error("cannot bind " + Address + ": " + Why);
  }
  FPort = ntohs(A.sin_port);
}

TClosedPort::~TClosedPort() {
  ::close(FFd);
}

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
  if (FListen >= 0) {
    return true;
  }
  sockaddr_in A{};
  if (!MakeAddress(FAddress, FPort, A)) {
    errno = EINVAL;
    return false;
  }
  const int Fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (Fd < 0) {
    return false;
  }
  const int One = 1;
  ::setsockopt(Fd, SOL_SOCKET, SO_REUSEADDR, &One, sizeof One);
  if (::bind(Fd, reinterpret_cast<const sockaddr*>(&A), sizeof A) != 0 ||
      ::listen(Fd, FBacklog) != 0) {
    const int E = errno;
    ::close(Fd);
    errno = E;
    return false;
  }
  socklen_t Len = sizeof A;
  if (::getsockname(Fd, reinterpret_cast<sockaddr*>(&A), &Len) == 0) {
    FPort = ntohs(A.sin_port);
  }
  FListen = Fd;
  return true;
}

void TTcpListener::StopListening() {
  if (FListen >= 0) {
    ::close(FListen);
    FListen = -1;
  }
}

bool TTcpListener::Accept(int TimeoutMs) {
  if (FListen < 0) {
    return false;
  }
  pollfd P{FListen, POLLIN, 0};
  if (::poll(&P, 1, TimeoutMs) <= 0) {
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

std::string TTcpListener::ReadText(size_t MinCount, int TimeoutMs) {
  const auto B = Read(MinCount, TimeoutMs);
  return {B.begin(), B.end()};
}

std::string TTcpListener::ReadUntil(std::string_view Terminator, int TimeoutMs) {
  std::vector<std::uint8_t> Out;
  FPeerClosed = !ReadFdTerminated(FClient, Out, Terminator, TimeoutMs) && FClient >= 0;
  return {Out.begin(), Out.end()};
}

std::vector<std::uint8_t> TTcpListener::ReadFor(int TimeoutMs) {
  std::vector<std::uint8_t> Out;
  FPeerClosed = !ReadFdUntil(FClient, Out, TimeoutMs, [](const std::vector<std::uint8_t>&) {
    return false;
  }) && FClient >= 0;
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
  if (!MakeAddress(Address, Port, A)) {
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
