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

} // namespace

bool ReadFdMin(int Fd, std::vector<std::uint8_t>& Out, size_t MinCount, int TimeoutMs) {
  const size_t Start = Out.size();
  const auto Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
  std::uint8_t Buf[4096];
  while (Fd >= 0) {
    // Once enough came (or the time is up) only what is already waiting is taken.
    pollfd P{Fd, POLLIN, 0};
    const int R = ::poll(&P, 1, Out.size() - Start >= MinCount ? 0 : MsLeft(Deadline));
    if (R == 0) {
      return true;
    }
    if (R < 0 && errno == EINTR) {
      continue;
    }
    if (R < 0 || (P.revents & POLLIN) == 0) {
      return false; // hang-up or error with nothing to read
    }
    const ssize_t N = ::read(Fd, Buf, sizeof Buf);
    if (N > 0) {
      Out.insert(Out.end(), Buf, Buf + N);
    } else if (N == 0 || (errno != EINTR && errno != EAGAIN)) {
      return false;
    }
  }
  return false;
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
