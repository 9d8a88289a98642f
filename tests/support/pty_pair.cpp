#include "tests/support/pty_pair.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include "tests/support/fd_io.h"

namespace nclaser::testing {

namespace {

void MakeRaw(int Fd) {
  termios T{};
  if (::tcgetattr(Fd, &T) == 0) {
    ::cfmakeraw(&T);
    T.c_cc[VMIN] = 0;
    T.c_cc[VTIME] = 0;
    ::tcsetattr(Fd, TCSANOW, &T);
  }
}

} // namespace

TPtyPair::TPtyPair() {
  char Dir[] = "/tmp/nclaser-pty-XXXXXX";
  if (::mkdtemp(Dir) == nullptr) {
    throw std::runtime_error(std::string("mkdtemp: ") + std::strerror(errno));
  }
  FDir = Dir;
  FLink = FDir + "/tty";
  try {
    Plug();
  } catch (...) {
    ::rmdir(FDir.c_str());
    throw;
  }
}

TPtyPair::~TPtyPair() {
  Unplug();
  ::rmdir(FDir.c_str());
}

std::string TPtyPair::TtyPath() const {
  return FTty;
}

void TPtyPair::Plug() {
  const int M = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (M < 0) {
    throw std::runtime_error(std::string("posix_openpt: ") + std::strerror(errno));
  }
  char Name[128] = {};
  if (::grantpt(M) != 0 || ::unlockpt(M) != 0 || ::ptsname_r(M, Name, sizeof Name) != 0) {
    const int E = errno;
    ::close(M);
    throw std::runtime_error(std::string("pty setup: ") + std::strerror(E));
  }
  const int S = ::open(Name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (S < 0) {
    const int E = errno;
    ::close(M);
    throw std::runtime_error(std::string(Name) + ": " + std::strerror(E));
  }
  // Raw on the near end's line discipline (that is where echo and translation happen) and
  // on the far end for good measure.
  MakeRaw(S);
  MakeRaw(M);
  ::unlink(FLink.c_str());
  if (::symlink(Name, FLink.c_str()) != 0) {
    const int E = errno;
    ::close(S);
    ::close(M);
    throw std::runtime_error(FLink + ": " + std::strerror(E));
  }
  FMaster = M;
  FSlave = S;
  FTty = Name;
}

void TPtyPair::Unplug() {
  ::unlink(FLink.c_str());
  if (FMaster >= 0) {
    ::close(FMaster);
    FMaster = -1;
  }
  if (FSlave >= 0) {
    ::close(FSlave);
    FSlave = -1;
  }
  FTty.clear();
}

void TPtyPair::Replug() {
  Unplug();
  Plug();
}

std::vector<std::uint8_t> TPtyPair::Read(size_t MinCount, int TimeoutMs) {
  std::vector<std::uint8_t> Out;
  ReadFdMin(FMaster, Out, MinCount, TimeoutMs);
  return Out;
}

std::string TPtyPair::ReadText(size_t MinCount, int TimeoutMs) {
  const auto B = Read(MinCount, TimeoutMs);
  return {B.begin(), B.end()};
}

std::string TPtyPair::ReadUntil(std::string_view Terminator, int TimeoutMs) {
  std::vector<std::uint8_t> Out;
  ReadFdTerminated(FMaster, Out, Terminator, TimeoutMs);
  return {Out.begin(), Out.end()};
}

std::vector<std::uint8_t> TPtyPair::ReadFor(int TimeoutMs) {
  std::vector<std::uint8_t> Out;
  ReadFdUntil(FMaster, Out, TimeoutMs, [](const std::vector<std::uint8_t>&) { return false; });
  return Out;
}

bool TPtyPair::Write(const void* Data, size_t Count) {
  return WriteFdAll(FMaster, Data, Count);
}

} // namespace nclaser::testing
