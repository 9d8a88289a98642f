#include "hostkit/icmp_client.h"
#include "hostkit/deadline.h"
#include "hostkit/resolve.h"

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>

#include <arpa/inet.h>
#include <linux/icmp.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "host/appsys.h"

namespace nclaser::hostkit {

namespace {

constexpr std::uint8_t KEchoRequest = 8;
constexpr std::uint8_t KEchoReply = 0;
constexpr size_t KPayload = 56;

class TFd {
public:
  explicit TFd(int Fd) : FFd(Fd) {}
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
  ~TFd() {
    if (FFd >= 0) {
      ::close(FFd);
    }
  }
  int Get() const { return FFd; }

private:
  int FFd;
};

// The lookup of a name counts against the ping's time-out.
bool ResolveIPv4(const std::string& Host, double DeadlineMs, sockaddr_in& Out) {
  std::vector<TAddress> List;
  if (!ResolveWithin(Host, "", AF_INET, DeadlineMs, List) || List.empty()) {
    return false;
  }
  std::memcpy(&Out, &List.front().Addr, sizeof Out);
  return true;
}

std::uint16_t Checksum(const std::uint8_t* P, size_t N) {
  std::uint32_t Sum = 0;
  for (size_t I = 0; I + 1 < N; I += 2) {
    Sum += static_cast<std::uint32_t>(P[I] << 8 | P[I + 1]);
  }
  if (N % 2 != 0) {
    Sum += static_cast<std::uint32_t>(P[N - 1] << 8);
  }
  while ((Sum >> 16) != 0) {
    Sum = (Sum & 0xFFFF) + (Sum >> 16);
  }
  return static_cast<std::uint16_t>(~Sum);
}

std::atomic<std::uint16_t> GSequence{1};

// ICMP echo over a raw socket (IP header in front of every reply, all of the host's
// echo replies seen: ours are told apart by identifier, sequence and source) or over a
// datagram socket (the kernel owns the identifier and hands us only our own replies).
class TIcmpProber : public TPingProber {
public:
  explicit TIcmpProber(bool Raw) : FRaw(Raw) {}

  std::string Describe() const override {
    return FRaw ? "ICMP echo (raw socket)" : "ICMP echo (datagram socket)";
  }

  TPingResult Probe(const std::string& Host, int TimeoutMs) const override {
    const double Deadline = NowMs() + (TimeoutMs > 0 ? TimeoutMs : 0);
    sockaddr_in To{};
    if (!ResolveIPv4(Host, Deadline, To)) {
      return TPingResult::Failed;
    }
    const TFd S(::socket(AF_INET, (FRaw ? SOCK_RAW : SOCK_DGRAM) | SOCK_CLOEXEC | SOCK_NONBLOCK,
                         IPPROTO_ICMP));
    if (S.Get() < 0) {
      return TPingResult::Failed;
    }
    if (FRaw) {
      icmp_filter Filter{};
      Filter.data = ~(1U << ICMP_ECHOREPLY);
      ::setsockopt(S.Get(), SOL_RAW, ICMP_FILTER, &Filter, sizeof Filter);
    }
    const std::uint16_t Id = static_cast<std::uint16_t>(::getpid() ^ 0x4E43);
    const std::uint16_t Seq = GSequence.fetch_add(1);
    std::array<std::uint8_t, 8 + KPayload> Pkt{};
    Pkt[0] = KEchoRequest;
    Pkt[4] = static_cast<std::uint8_t>(Id >> 8);
    Pkt[5] = static_cast<std::uint8_t>(Id);
    Pkt[6] = static_cast<std::uint8_t>(Seq >> 8);
    Pkt[7] = static_cast<std::uint8_t>(Seq);
    for (size_t I = 8; I < Pkt.size(); ++I) {
      Pkt[I] = static_cast<std::uint8_t>(I);
    }
    const std::uint16_t Sum = Checksum(Pkt.data(), Pkt.size());
    Pkt[2] = static_cast<std::uint8_t>(Sum >> 8);
    Pkt[3] = static_cast<std::uint8_t>(Sum);
    if (::sendto(S.Get(), Pkt.data(), Pkt.size(), 0, reinterpret_cast<const sockaddr*>(&To),
                 sizeof To) < 0) {
      return TPingResult::Failed;
    }
    std::array<std::uint8_t, 1500> Buf{};
    for (;;) {
      pollfd P{S.Get(), POLLIN, 0};
      const int R = ::poll(&P, 1, MsLeft(Deadline));
      if (R < 0 && errno == EINTR) {
        continue;
      }
      if (R <= 0) {
        return TPingResult::NoAnswer;
      }
      sockaddr_in From{};
      socklen_t FromLen = sizeof From;
      const ssize_t N = ::recvfrom(S.Get(), Buf.data(), Buf.size(), 0,
                                   reinterpret_cast<sockaddr*>(&From), &FromLen);
      if (N <= 0) {
        if (N < 0 && errno != EAGAIN && errno != EINTR) {
          return TPingResult::NoAnswer; // e.g. an ICMP error reported on the socket
        }
        continue;
      }
      size_t Off = 0;
      if (FRaw) {
        Off = static_cast<size_t>(Buf[0] & 0x0F) * 4;
      }
      if (static_cast<size_t>(N) < Off + 8 || Buf[Off] != KEchoReply ||
          From.sin_addr.s_addr != To.sin_addr.s_addr) {
        continue;
      }
      const auto GotSeq = static_cast<std::uint16_t>(Buf[Off + 6] << 8 | Buf[Off + 7]);
      const auto GotId = static_cast<std::uint16_t>(Buf[Off + 4] << 8 | Buf[Off + 5]);
      if (GotSeq == Seq && (!FRaw || GotId == Id)) {
        return TPingResult::Answered;
      }
    }
  }

private:
  bool FRaw;
};

// Knocks on one TCP port: an accepted or refused connection both prove the host is there.
class TTcpProber : public TPingProber {
public:
  explicit TTcpProber(int Port) : FPort(Port) {}

  std::string Describe() const override {
    return "TCP reachability probe (port " + std::to_string(FPort.load()) + ")";
  }

  void SetPort(int Port) override {
    if (Port > 0 && Port <= 65535) {
      FPort.store(Port);
    }
  }

  TPingResult Probe(const std::string& Host, int TimeoutMs) const override {
    const double Deadline = NowMs() + (TimeoutMs > 0 ? TimeoutMs : 0);
    sockaddr_in To{};
    if (!ResolveIPv4(Host, Deadline, To)) {
      return TPingResult::Failed;
    }
    To.sin_port = htons(static_cast<std::uint16_t>(FPort.load()));
    const TFd S(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (S.Get() < 0) {
      return TPingResult::Failed;
    }
    int Err = 0;
    if (::connect(S.Get(), reinterpret_cast<const sockaddr*>(&To), sizeof To) != 0) {
      Err = errno;
    }
    if (Err == EINPROGRESS || Err == EINTR) {
      Err = ETIMEDOUT;
      for (;;) {
        pollfd P{S.Get(), POLLOUT, 0};
        const int R = ::poll(&P, 1, MsLeft(Deadline));
        if (R < 0 && errno == EINTR) {
          continue;
        }
        if (R > 0) {
          socklen_t Len = sizeof Err;
          if (::getsockopt(S.Get(), SOL_SOCKET, SO_ERROR, &Err, &Len) != 0) {
            Err = errno;
          }
        }
        break;
      }
    }
    switch (Err) {
    case 0:
    case ECONNREFUSED:
      return TPingResult::Answered;
    case ETIMEDOUT:
    case EHOSTUNREACH:
    case EHOSTDOWN:
      return TPingResult::NoAnswer;
    default:
      return TPingResult::Failed;
    }
  }

private:
  std::atomic<int> FPort;
};

bool IcmpSocketAllowed(bool Raw) {
  const int Fd = ::socket(AF_INET, (Raw ? SOCK_RAW : SOCK_DGRAM) | SOCK_CLOEXEC, IPPROTO_ICMP);
  if (Fd < 0) {
    return false;
  }
  ::close(Fd);
  return true;
}

} // namespace

const char* PingMethodName(TPingMethod Method) {
  switch (Method) {
  case TPingMethod::RawIcmp:
    return "raw ICMP";
  case TPingMethod::DatagramIcmp:
    return "datagram ICMP";
  case TPingMethod::TcpProbe:
    return "TCP probe";
  }
  return "?";
}

std::unique_ptr<TPingProber> NewPingProber(TPingMethod Method, int ProbePort) {
  switch (Method) {
  case TPingMethod::RawIcmp:
    return IcmpSocketAllowed(true) ? std::make_unique<TIcmpProber>(true) : nullptr;
  case TPingMethod::DatagramIcmp:
    return IcmpSocketAllowed(false) ? std::make_unique<TIcmpProber>(false) : nullptr;
  case TPingMethod::TcpProbe:
    return std::make_unique<TTcpProber>(ProbePort);
  }
  return nullptr;
}

std::unique_ptr<TPingProber> NewBestPingProber() {
  for (const auto M : {TPingMethod::RawIcmp, TPingMethod::DatagramIcmp}) {
    if (auto P = NewPingProber(M)) {
      return P;
    }
  }
  return NewPingProber(TPingMethod::TcpProbe);
}

// --- TPingClient ---------------------------------------------------------------------------

TPingClient::TPingClient(std::unique_ptr<TPingProber> Prober, TAppSystem* App, int FixedProbePort)
    : FProber(Prober ? std::move(Prober) : NewBestPingProber()), FFixedProbePort(FixedProbePort) {
  if (FFixedProbePort > 0) {
    FProber->SetPort(FFixedProbePort);
  }
  if (App != nullptr) {
    App->OutputDebugString("Ping client: " + FProber->Describe());
  }
}

void TPingClient::SetProbePort(int Port) {
  if (FFixedProbePort <= 0) {
    FProber->SetPort(Port);
  }
}

TPingClient::~TPingClient() {
  // Rounds, because a handler may start another ping while we wait.
  for (;;) {
    std::vector<TJob> Jobs;
    {
      std::lock_guard<std::mutex> L(FLock);
      Jobs.swap(FJobs);
    }
    if (Jobs.empty()) {
      break;
    }
    for (auto& J : Jobs) {
      J.Thread.join();
    }
  }
}

void TPingClient::SetHost(const std::string& Host) {
  std::lock_guard<std::mutex> L(FLock);
  FHost = Host;
}

void TPingClient::SetTimeout(int TimeoutMs) {
  std::lock_guard<std::mutex> L(FLock);
  FTimeoutMs = TimeoutMs;
}

void TPingClient::Resolve(std::string& Host, int& TimeoutMs) const {
  std::lock_guard<std::mutex> L(FLock);
  if (Host.empty()) {
    Host = FHost;
  }
  if (TimeoutMs <= 0) {
    TimeoutMs = FTimeoutMs;
  }
}

bool TPingClient::Ping(const std::string& Host, int TimeoutMs) {
  std::string H = Host;
  Resolve(H, TimeoutMs);
  return !H.empty() && FProber->Probe(H, TimeoutMs) == TPingResult::Answered;
}

void TPingClient::ReapFinished() {
  for (auto It = FJobs.begin(); It != FJobs.end();) {
    if (It->Done->load(std::memory_order_acquire)) {
      It->Thread.join();
      It = FJobs.erase(It);
    } else {
      ++It;
    }
  }
}

void TPingClient::PingAsync(const std::string& Host, int TimeoutMs) {
  std::string H = Host;
  Resolve(H, TimeoutMs);
  auto Done = std::make_shared<std::atomic<bool>>(false);
  // The handlers as they are now: the owner may rebind them while a ping is out.
  std::thread T([this, H, TimeoutMs, Done, OnTimeoutNow = OnTimeout, OnErrorNow = OnError] {
    const TPingResult R = H.empty() ? TPingResult::Failed : FProber->Probe(H, TimeoutMs);
    const TNotify& Notify = R == TPingResult::NoAnswer ? OnTimeoutNow : OnErrorNow;
    if (R != TPingResult::Answered && Notify) {
      try {
        Notify(this);
      } catch (...) {
        // A handler's failure must not end the process from a thread of ours.
      }
    }
    Done->store(true, std::memory_order_release);
  });
  std::lock_guard<std::mutex> L(FLock);
  ReapFinished();
  FJobs.push_back({std::move(T), std::move(Done)});
}

int TPingClient::Pending() const {
  std::lock_guard<std::mutex> L(FLock);
  int N = 0;
  for (const auto& J : FJobs) {
    N += J.Done->load(std::memory_order_acquire) ? 0 : 1;
  }
  return N;
}

} // namespace nclaser::hostkit
