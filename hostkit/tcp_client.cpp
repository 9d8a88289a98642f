#include "hostkit/tcp_client.h"
#include "hostkit/deadline.h"
#include "hostkit/resolve.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace nclaser::hostkit {

namespace {

// poll() on one descriptor, resumed after signals, up to TimeoutMs in total.
int PollOne(int Fd, short Events, int TimeoutMs, short& Revents) {
  const double Deadline = NowMs() + (TimeoutMs > 0 ? TimeoutMs : 0);
  for (;;) {
    pollfd P{Fd, Events, 0};
    const int R = ::poll(&P, 1, MsLeft(Deadline));
    if (R < 0 && errno == EINTR) {
      continue;
    }
    Revents = P.revents;
    return R;
  }
}

} // namespace

struct TTcpClient::TSocket {
  explicit TSocket(int AFd) : Fd(AFd) {}
  TSocket(const TSocket&) = delete;
  TSocket& operator=(const TSocket&) = delete;
  ~TSocket() { ::close(Fd); }
  const int Fd;
};

TTcpClient::~TTcpClient() {
  Disconnect();
}

void TTcpClient::SetRemoteHost(const std::string& Host) {
  std::lock_guard<std::mutex> L(FLock);
  FHost = Host;
}

void TTcpClient::SetRemotePort(const std::string& Port) {
  std::lock_guard<std::mutex> L(FLock);
  FPort = Port;
}

std::shared_ptr<TTcpClient::TSocket> TTcpClient::Current() {
  std::lock_guard<std::mutex> L(FLock);
  return FSocket;
}

void TTcpClient::Lost(const std::shared_ptr<TSocket>& S, const std::string& Why) {
  std::lock_guard<std::mutex> L(FLock);
  if (FSocket == S && S != nullptr) {
    FSocket.reset();
    FConnected.store(false, std::memory_order_release);
    FError = Why;
  }
}

std::string TTcpClient::LastError() const {
  std::lock_guard<std::mutex> L(FLock);
  return FError;
}

bool TTcpClient::GetConnected() {
  const auto S = Current();
  if (!S) {
    return false;
  }
  short Rev = 0;
  if (PollOne(S->Fd, POLLIN, 0, Rev) > 0) {
    if ((Rev & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
      Lost(S, "connection lost");
    } else if ((Rev & POLLIN) != 0) {
      // Readable with nothing to read is the peer's close; data still waiting keeps the
      // link up until it has been read.
      char C = 0;
      const ssize_t N = ::recv(S->Fd, &C, 1, MSG_PEEK | MSG_DONTWAIT);
      if (N == 0) {
        Lost(S, "closed by peer");
      } else if (N < 0 && errno != EAGAIN && errno != EINTR) {
        Lost(S, std::strerror(errno));
      }
    }
  }
  return FConnected.load(std::memory_order_acquire);
}

bool TTcpClient::ConnectTimeout(int TimeoutMs) {
  if (GetConnected()) {
    return true;
  }
  const double Deadline = NowMs() + (TimeoutMs > 0 ? TimeoutMs : 0);
  std::string Host;
  std::string Port;
  unsigned Gen = 0;
  {
    std::lock_guard<std::mutex> L(FLock);
    Host = FHost;
    Port = FPort;
    Gen = FGeneration;
  }
  auto Fail = [&](const std::string& Why) {
    std::lock_guard<std::mutex> L(FLock);
    FError = Why;
    return false;
  };
  if (Host.empty() || Port.empty()) {
    return Fail("no remote host or port");
  }
  // The name lookup counts against the time-out too.
  std::vector<TAddress> List;
  std::string LookupError;
  if (!ResolveWithin(Host, Port, AF_UNSPEC, Deadline, List, &LookupError)) {
    return Fail(LookupError + " (port " + Port + ")");
  }
  std::shared_ptr<TSocket> Made;
  std::string Why = "connect timed out";
  for (auto A = List.begin(); A != List.end() && !Made && MsLeft(Deadline) > 0; ++A) {
    const int Fd = ::socket(A->Family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (Fd < 0) {
      Why = std::strerror(errno);
      continue;
    }
    auto S = std::make_shared<TSocket>(Fd);
    const int One = 1;
    ::setsockopt(Fd, IPPROTO_TCP, TCP_NODELAY, &One, sizeof One);
    int Err = 0;
    if (::connect(Fd, reinterpret_cast<const sockaddr*>(&A->Addr), A->Len) != 0) {
      Err = errno;
    }
    if (Err == EINPROGRESS || Err == EINTR) {
      Err = ETIMEDOUT;
      // Short slices so that a Disconnect from another thread ends the attempt soon.
      while (MsLeft(Deadline) > 0) {
        short Rev = 0;
        const int R = PollOne(Fd, POLLOUT, std::min(MsLeft(Deadline), 20), Rev);
        {
          std::lock_guard<std::mutex> L(FLock);
          if (Gen != FGeneration) {
            Err = ECANCELED;
            break;
          }
        }
        if (R > 0) {
          socklen_t Len = sizeof Err;
          if (::getsockopt(Fd, SOL_SOCKET, SO_ERROR, &Err, &Len) != 0) {
            Err = errno;
          }
          break;
        }
      }
    }
    if (Err == 0) {
      Made = std::move(S);
    } else {
      Why = std::strerror(Err);
    }
  }
  if (!Made) {
    return Fail(Host + ":" + Port + ": " + Why);
  }
  std::lock_guard<std::mutex> L(FLock);
  if (Gen != FGeneration) {
    FError = "connect cancelled";
    return false;
  }
  FSocket = std::move(Made);
  FError.clear();
  FConnected.store(true, std::memory_order_release);
  return true;
}

int TTcpClient::SendBuf(const void* Buffer, int Length, int Flags) {
  const auto S = Current();
  if (!S || Length < 0 || (Buffer == nullptr && Length > 0)) {
    return -1;
  }
  const double Deadline = NowMs() + FSendTimeoutMs.load();
  const auto* P = static_cast<const char*>(Buffer);
  int Done = 0;
  while (Done < Length) {
    const ssize_t N = ::send(S->Fd, P + Done, static_cast<size_t>(Length - Done),
                             Flags | MSG_NOSIGNAL | MSG_DONTWAIT);
    if (N >= 0) {
      Done += static_cast<int>(N);
      continue;
    }
    if (errno == EINTR) {
      continue;
    }
    if (errno != EAGAIN) {
      Lost(S, std::strerror(errno));
      return -1;
    }
    short Rev = 0;
    if (MsLeft(Deadline) == 0 || PollOne(S->Fd, POLLOUT, MsLeft(Deadline), Rev) == 0) {
      // Half a message went out: the stream cannot be trusted any more.
      Lost(S, "send timed out");
      return -1;
    }
  }
  return Done;
}

bool TTcpClient::Select(bool* ReadReady, bool* WriteReady, bool* ExceptFlag, int TimeoutMs) {
  for (bool* F : {ReadReady, WriteReady, ExceptFlag}) {
    if (F != nullptr) {
      *F = false;
    }
  }
  const auto S = Current();
  if (!S) {
    return false;
  }
  short Events = 0;
  if (ReadReady != nullptr) {
    Events |= POLLIN;
  }
  if (WriteReady != nullptr) {
    Events |= POLLOUT;
  }
  if (ExceptFlag != nullptr) {
    Events |= POLLPRI;
  }
  short Rev = 0;
  if (PollOne(S->Fd, Events, TimeoutMs, Rev) <= 0) {
    return false;
  }
  const short Broken = POLLERR | POLLHUP | POLLNVAL;
  bool Any = false;
  if (ReadReady != nullptr && (Rev & (POLLIN | Broken)) != 0) {
    *ReadReady = Any = true;
  }
  if (WriteReady != nullptr && (Rev & (POLLOUT | Broken)) != 0) {
    *WriteReady = Any = true;
  }
  if (ExceptFlag != nullptr && (Rev & POLLPRI) != 0) {
    *ExceptFlag = Any = true;
  }
  return Any;
}

int TTcpClient::ReceiveBuf(void* Buffer, int Length, int Flags) {
  const auto S = Current();
  if (!S || Length <= 0 || Buffer == nullptr) {
    return -1;
  }
  const double Deadline = NowMs() + FReceiveTimeoutMs.load();
  for (;;) {
    const ssize_t N =
        ::recv(S->Fd, Buffer, static_cast<size_t>(Length), Flags | MSG_DONTWAIT | MSG_NOSIGNAL);
    if (N > 0) {
      return static_cast<int>(N);
    }
    if (N == 0) {
      Lost(S, "closed by peer");
      return 0;
    }
    if (errno == EINTR) {
      continue;
    }
    if (errno != EAGAIN) {
      Lost(S, std::strerror(errno));
      return -1;
    }
    short Rev = 0;
    if (MsLeft(Deadline) == 0 || PollOne(S->Fd, POLLIN, MsLeft(Deadline), Rev) == 0) {
      return -1;
    }
  }
}

void TTcpClient::Disconnect() {
  std::shared_ptr<TSocket> S;
  {
    std::lock_guard<std::mutex> L(FLock);
    ++FGeneration;
    S = std::move(FSocket);
    FSocket.reset();
    FConnected.store(false, std::memory_order_release);
  }
  if (S) {
    // Wakes any call waiting on the socket; the descriptor closes when the last one leaves.
    ::shutdown(S->Fd, SHUT_RDWR);
  }
}

} // namespace nclaser::hostkit
