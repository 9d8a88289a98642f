#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <grp.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "host/clock.h"
#include "host/comm.h"
#include "hostkit/icmp_client.h"
#include "tests/support/host_fixture.h"
#include "tests/support/tcp_listener.h"

namespace nclaser::testing {
namespace {

using hostkit::NewPingProber;
using hostkit::TPingClient;
using hostkit::TPingMethod;
using hostkit::TPingProber;
using hostkit::TPingResult;

// A prober with a fixed answer that takes the whole time-out when there is none, and
// remembers what it was asked.
class TScriptedProber : public TPingProber {
public:
  explicit TScriptedProber(TPingResult Result) : FResult(Result) {}
  TPingResult Probe(const std::string& Host, int TimeoutMs) const override {
    {
      std::lock_guard<std::mutex> L(FLock);
      FHost = Host;
      FTimeout = TimeoutMs;
    }
    if (FResult == TPingResult::NoAnswer) {
      Sleep(TimeoutMs);
    }
    return FResult;
  }
  std::string Describe() const override { return "scripted"; }
  std::pair<std::string, int> Asked() const {
    std::lock_guard<std::mutex> L(FLock);
    return {FHost, FTimeout};
  }

private:
  TPingResult FResult;
  mutable std::mutex FLock;
  mutable std::string FHost;
  mutable int FTimeout = 0;
};

// What the notification events saw.
struct TEvents {
  std::mutex M;
  std::condition_variable CV;
  int Timeouts = 0;
  int Errors = 0;
  std::thread::id Thread;
  double AtMs = 0; // of the first notification
  bool SenderRight = true;

  void Bind(TIcmpClient& C, double T0) {
    C.OnTimeout = [this, T0, &C](TIcmpClient* S) { Note(S == &C, T0, true); };
    C.OnError = [this, T0, &C](TIcmpClient* S) { Note(S == &C, T0, false); };
  }
  void Note(bool Right, double T0, bool Timeout) {
    std::lock_guard<std::mutex> L(M);
    AtMs = Timeouts + Errors == 0 ? ElapsedMs(T0) : AtMs;
    (Timeout ? Timeouts : Errors)++;
    Thread = std::this_thread::get_id();
    SenderRight = SenderRight && Right;
    CV.notify_all();
  }
  bool WaitAny(int TimeoutMs) {
    std::unique_lock<std::mutex> L(M);
    return CV.wait_for(L, std::chrono::milliseconds(TimeoutMs),
                       [&] { return Timeouts + Errors > 0; });
  }
};

class PingClientTest : public HostTest {};

TEST_F(PingClientTest, EveryMethodThisProcessMayUseAnswersForLoopback) {
  int Tried = 0;
  for (const auto M : {TPingMethod::RawIcmp, TPingMethod::DatagramIcmp, TPingMethod::TcpProbe}) {
    SCOPED_TRACE(hostkit::PingMethodName(M));
    const auto P = NewPingProber(M);
    if (!P) {
      EXPECT_NE(M, TPingMethod::TcpProbe); // the fallback is always there
      continue;
    }
    ++Tried;
    // Nothing listens on the TCP probe's port here: a refusal proves the host is there too.
    EXPECT_EQ(P->Probe("127.0.0.1", 1000), TPingResult::Answered);
    EXPECT_EQ(P->Probe("127.0.8.21", 1000), TPingResult::Answered);
    EXPECT_EQ(P->Probe("", 100), TPingResult::Failed);
    EXPECT_EQ(P->Probe("1.2.3.4.5", 100), TPingResult::Failed);
  }
  EXPECT_GE(Tried, 1);
  // The host's client takes the best of them, resolves names and says once which it took.
  auto C = NewIcmpClient();
  ASSERT_NE(C, nullptr);
  EXPECT_TRUE(C->Ping("localhost", 1000));
  C->SetHost("127.0.8.20");
  EXPECT_TRUE(C->Ping("", 100));
  std::vector<std::string> Said;
  for (const auto& L : Host->App.DebugLines()) {
    if (L.Text.rfind("Ping client: ", 0) == 0) {
      Said.push_back(L.Text);
    }
  }
  EXPECT_EQ(Said, std::vector<std::string>{"Ping client: " +
                                           dynamic_cast<TPingClient&>(*C).Prober().Describe()});
}

TEST_F(PingClientTest, OwnHostAndTimeOutStandInForEmptyArguments) {
  auto P = std::make_unique<TScriptedProber>(TPingResult::Answered);
  const auto* Probe = P.get();
  TPingClient C(std::move(P));
  EXPECT_FALSE(C.Ping("", 100)); // no host at all: nothing to ask
  C.SetHost("127.0.8.22");
  C.SetTimeout(500);
  EXPECT_TRUE(C.Ping("", 100));
  EXPECT_EQ(Probe->Asked(), std::make_pair(std::string("127.0.8.22"), 100));
  EXPECT_TRUE(C.Ping("127.0.8.23", 0));
  EXPECT_EQ(Probe->Asked(), std::make_pair(std::string("127.0.8.23"), 500));
}

TEST_F(PingClientTest, TcpProbeCountsAHandshakeAsAnswerAndSilenceAsNone) {
  TTcpListener Srv("127.0.8.24", 0, 0);
  const auto Probe = NewPingProber(TPingMethod::TcpProbe, Srv.Port());
  EXPECT_EQ(Probe->Probe("127.0.8.24", 500), TPingResult::Answered);
  TBacklogFiller Filler; // a full accept queue drops handshakes: the host looks silent
  ASSERT_TRUE(Filler.Fill("127.0.8.24", Srv.Port()));
  const auto T0 = NowMs();
  EXPECT_EQ(Probe->Probe("127.0.8.24", 150), TPingResult::NoAnswer);
  EXPECT_GE(ElapsedMs(T0), 140.0);
  EXPECT_LT(ElapsedMs(T0), 400.0);
}

// Asynchronous pings return at once and report on a thread of their own: silence as a
// time-out once it is due, a failure (or no host at all) as an error, an answer not at all.
// The client's destructor waits for every pending one.
TEST_F(PingClientTest, AsyncPingsNotifyFromTheirOwnThreadsAndAreAwaitedAtTheEnd) {
  struct TCase {
    TPingResult Result;
    const char* Host;
    int Timeouts;
    int Errors;
  };
  const TCase Cases[] = {
      {TPingResult::NoAnswer, "127.0.8.25", 3, 0},
      {TPingResult::Failed, "127.0.8.26", 0, 3},
      {TPingResult::Answered, "127.0.8.26", 0, 0},
      {TPingResult::Answered, "", 0, 3},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(std::to_string(C.Timeouts) + " " + C.Host);
    TEvents E;
    const auto T0 = NowMs();
    {
      TPingClient Client(std::make_unique<TScriptedProber>(C.Result));
      E.Bind(Client, T0);
      for (int I = 0; I < 3; ++I) {
        Client.PingAsync(C.Host, 300);
      }
      EXPECT_LT(ElapsedMs(T0), 200.0);
      if (C.Timeouts > 0) {
        EXPECT_EQ(Client.Pending(), 3);
      }
    }
    std::lock_guard<std::mutex> L(E.M);
    EXPECT_EQ(E.Timeouts, C.Timeouts);
    EXPECT_EQ(E.Errors, C.Errors);
    EXPECT_TRUE(E.SenderRight);
    if (C.Timeouts + C.Errors > 0) {
      EXPECT_NE(E.Thread, std::this_thread::get_id());
    }
    if (C.Timeouts > 0) {
      EXPECT_GE(E.AtMs, 295.0);
    }
  }
}

TEST_F(PingClientTest, RealEchoAnswersAsAnUnprivilegedUser) {
  if (::geteuid() != 0) {
    GTEST_SKIP() << "already unprivileged: the loopback test covers it";
  }
  const pid_t Pid = ::fork();
  ASSERT_GE(Pid, 0);
  if (Pid == 0) {
    if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) {
      ::_exit(3);
    }
    if (NewPingProber(TPingMethod::RawIcmp) != nullptr) {
      ::_exit(2);
    }
    TPingClient C;
    ::_exit(C.Ping("127.0.0.1", 1000) && C.Ping("127.0.8.28", 1000) ? 0 : 1);
  }
  int Status = 0;
  ASSERT_EQ(::waitpid(Pid, &Status, 0), Pid);
  ASSERT_TRUE(WIFEXITED(Status));
  if (WEXITSTATUS(Status) == 3) {
    GTEST_SKIP() << "cannot drop privileges here";
  }
  EXPECT_NE(WEXITSTATUS(Status), 2) << "raw sockets still allowed after dropping root";
  EXPECT_EQ(WEXITSTATUS(Status), 0);
}

// Answers every echo request it sees on the loopback: properly while Right, else only with
// replies whose identifier or sequence number is one off, which a prober must not take.
class TEchoForger {
public:
  std::atomic<bool> Right{true};
  TEchoForger() : FFd(::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP)) {}
  ~TEchoForger() {
    FStop = true;
    FThread.join();
    ::close(FFd);
  }
  bool Ok() const { return FFd >= 0; }

private:
  void Run() {
    std::uint8_t Buf[1500] = {};
    while (!FStop) {
      pollfd P{FFd, POLLIN, 0};
      const ssize_t N = ::poll(&P, 1, 20) > 0 ? ::recv(FFd, Buf, sizeof Buf, 0) : 0;
      const ssize_t Off = N > 0 ? (Buf[0] & 0x0F) * 4 : 0;
      if (N < Off + 8 || Buf[Off] != 8) {
        continue; // not an echo request
      }
      for (const int Flip : Right ? std::vector<int>{-1} : std::vector<int>{5, 7}) {
        std::vector<std::uint8_t> R(Buf + Off, Buf + N);
        R[0] = R[2] = R[3] = 0; // an echo reply, checksum to come
        if (Flip > 0) {
          R[static_cast<size_t>(Flip)] ^= 1; // low byte of the identifier or the sequence
        }
        std::uint32_t Sum = 0;
        for (size_t I = 0; I < R.size(); I += 2) {
          Sum += static_cast<std::uint32_t>(R[I] << 8 | (I + 1 < R.size() ? R[I + 1] : 0));
        }
        Sum = (Sum & 0xFFFF) + (Sum >> 16);
        Sum = ~(Sum + (Sum >> 16));
        R[2] = static_cast<std::uint8_t>(Sum >> 8);
        R[3] = static_cast<std::uint8_t>(Sum);
        sockaddr_in To{};
        To.sin_family = AF_INET;
        To.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::sendto(FFd, R.data(), R.size(), 0, reinterpret_cast<sockaddr*>(&To), sizeof To);
      }
    }
  }
  int FFd;
  std::atomic<bool> FStop{false};
  std::thread FThread{[this] { Run(); }};
};

bool WriteSysctl(const char* Path, const char* Value) {
  std::ofstream F(Path);
  F << Value;
  F.flush();
  return static_cast<bool>(F);
}

bool LoopbackUp() {
  const int S = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (S < 0) {
    return false;
  }
  ifreq R{};
  std::strncpy(R.ifr_name, "lo", IFNAMSIZ - 1);
  bool Ok = ::ioctl(S, SIOCGIFFLAGS, &R) == 0;
  R.ifr_flags = static_cast<short>(R.ifr_flags | IFF_UP);
  Ok = Ok && ::ioctl(S, SIOCSIFFLAGS, &R) == 0;
  ::close(S);
  return Ok;
}

// Inside a network namespace of its own (made by one thread of the test, inherited by the
// threads it starts): real ICMP, with the echo answer switched off by sysctl and a forger
// answering in its stead.
TEST_F(PingClientTest, RealEchoLeftUnansweredOrWronglyAnsweredNotifiesTimeOut) {
  std::string Skip;
  std::thread T([&Skip] {
    if (::unshare(CLONE_NEWNET) != 0 || !LoopbackUp()) {
      Skip = std::string("no network namespace with a loopback: ") + std::strerror(errno);
      return;
    }
    // Unprivileged echo sockets for our group, in this namespace only.
    const std::string Range = std::to_string(::getgid()) + " " + std::to_string(::getgid());
    if (WriteSysctl("/proc/sys/net/ipv4/ping_group_range", Range.c_str())) {
      const auto P = NewPingProber(TPingMethod::DatagramIcmp);
      ASSERT_NE(P, nullptr);
      EXPECT_EQ(P->Probe("127.0.0.1", 1000), TPingResult::Answered);
    }
    auto Best = hostkit::NewBestPingProber();
    if (Best->Describe().find("ICMP") == std::string::npos) {
      Skip = "no ICMP socket allowed";
      return;
    }
    TEchoForger Forger;
    if (!Forger.Ok() || !WriteSysctl("/proc/sys/net/ipv4/icmp_echo_ignore_all", "1")) {
      Skip = "cannot silence echo or forge answers in the namespace";
      return;
    }
    TPingClient C(std::move(Best));
    EXPECT_TRUE(C.Ping("127.0.0.1", 1000)); // the forger's answers do arrive
    Forger.Right = false;
    EXPECT_FALSE(C.Ping("127.0.0.1", 100));
    TEvents E;
    E.Bind(C, NowMs());
    C.PingAsync("127.0.0.1", 200);
    E.WaitAny(3000);
    std::lock_guard<std::mutex> L(E.M);
    EXPECT_EQ(E.Timeouts, 1);
    EXPECT_EQ(E.Errors, 0);
    EXPECT_GE(E.AtMs, 195.0);
    EXPECT_LT(E.AtMs, 1000.0);
  });
  T.join();
  if (!Skip.empty()) {
    GTEST_SKIP() << Skip;
  }
}

} // namespace
} // namespace nclaser::testing
