#include "tests/support/fd_io.h"

#include <cerrno>
#include <chrono>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace nclaser::testing {

namespace {

int MsLeft(std::chrono::steady_clock::time_point Deadline) {
  const auto Left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        Deadline - std::chrono::steady_clock::now())
                        .count();
  return Left > 0 ? static_cast<int>(Left) : 0;
}

// Reads what is waiting without blocking; false on end of file or error.
bool TakeWaiting(int Fd, std::vector<std::uint8_t>& Out) {
  std::uint8_t Buf[4096];
  for (;;) {
    pollfd P{Fd, POLLIN, 0};
    if (::poll(&P, 1, 0) <= 0) {
      return true;
    }
    if ((P.revents & POLLIN) == 0) {
      return (P.revents & (POLLHUP | POLLERR | POLLNVAL)) == 0;
    }
    const ssize_t N = ::read(Fd, Buf, sizeof Buf);
    if (N < 0 && (errno == EINTR || errno == EAGAIN)) {
      continue;
    }
    if (N <= 0) {
      return false;
    }
    Out.insert(Out.end(), Buf, Buf + N);
  }
}

} // namespace

bool ReadFdMin(int Fd, std::vector<std::uint8_t>& Out, size_t MinCount, int TimeoutMs) {
  if (Fd < 0) {
    return false;
  }
  const size_t Start = Out.size();
  const auto Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
  for (;;) {
    if (!TakeWaiting(Fd, Out)) {
      return false;
    }
    const int Left = MsLeft(Deadline);
    if (Out.size() - Start >= MinCount || Left == 0) {
      return true;
    }
    pollfd P{Fd, POLLIN, 0};
    if (::poll(&P, 1, Left) < 0 && errno != EINTR) {
      return false;
    }
  }
}

bool WriteFdAll(int Fd, const void* Data, size_t Count, int TimeoutMs) {
  if (Fd < 0) {
    return false;
  }
  const auto Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
  const auto* P = static_cast<const std::uint8_t*>(Data);
  size_t Done = 0;
  while (Done < Count) {
    // send() on sockets, so that a closed peer never raises SIGPIPE.
    ssize_t N = ::send(Fd, P + Done, Count - Done, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (N < 0 && errno == ENOTSOCK) {
      N = ::write(Fd, P + Done, Count - Done);
    }
    if (N > 0) {
      Done += static_cast<size_t>(N);
      continue;
    }
    if (N < 0 && errno == EINTR) {
      continue;
    }
    if (N < 0 && errno != EAGAIN) {
      return false;
    }
    pollfd Pf{Fd, POLLOUT, 0};
    if (MsLeft(Deadline) == 0 || ::poll(&Pf, 1, MsLeft(Deadline)) <= 0) {
      return false;
    }
  }
  return true;
}

} // namespace nclaser::testing
