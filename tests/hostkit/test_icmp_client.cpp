#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <grp.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

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
using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point T0) {
  return std::chrono::duration<double, std::milli>(Clock::now() - T0).count();
}

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
      std::this_thread::sleep_for(std::chrono::milliseconds(TimeoutMs));
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
  double AtMs = 0;
  TIcmpClient* Sender = nullptr;

  void Bind(TIcmpClient& C, Clock::time_point T0) {
    C.OnTimeout = [this, T0](TIcmpClient* S) { Note(S, T0, true); };
    C.OnError = [this, T0](TIcmpClient* S) { Note(S, T0, false); };
  }
  void Note(TIcmpClient* S, Clock::time_point T0, bool Timeout) {
    std::lock_guard<std::mutex> L(M);
    (Timeout ? Timeouts : Errors)++;
    Thread = std::this_thread::get_id();
    AtMs = MsSince(T0);
    Sender = S;
    CV.notify_all();
  }
  bool WaitAny(int TimeoutMs) {
    std::unique_lock<std::mutex> L(M);
    return CV.wait_for(L, std::chrono::milliseconds(TimeoutMs),
                       [&] { return Timeouts + Errors > 0; });
  }
};

class PingClientTest : public HostTest {};

TEST_F(PingClientTest, LoopbackAnswersAndOneDebugLineNamesTheMethod) {
  auto C = NewIcmpClient();
  ASSERT_NE(C, nullptr);
  EXPECT_TRUE(C->Ping("127.0.0.1", 1000));
  EXPECT_TRUE(C->Ping("localhost", 1000));
  C->SetHost("127.0.8.20");
  EXPECT_TRUE(C->Ping("", 100));
  int Lines = 0;
  for (const auto& L : Host->App.DebugLines()) {
    if (L.Text.rfind("Ping client: ", 0) == 0) {
      ++Lines;
      EXPECT_NE(L.Text.find(dynamic_cast<TPingClient&>(*C).Prober().Describe()), std::string::npos);
    }
  }
  EXPECT_EQ(Lines, 1);
}

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
    EXPECT_EQ(P->Probe("127.0.0.1", 1000), TPingResult::Answered);
    EXPECT_EQ(P->Probe("127.0.8.21", 1000), TPingResult::Answered);
    EXPECT_EQ(P->Probe("", 100), TPingResult::Failed);
    EXPECT_EQ(P->Probe("1.2.3.4.5", 100), TPingResult::Failed);
  }
  EXPECT_GE(Tried, 1);
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

TEST_F(PingClientTest, TcpProbeCountsRefusalAsAnswerAndSilenceAsNone) {
  TTcpListener Srv("127.0.8.24", 0, 0);
  const auto Open = NewPingProber(TPingMethod::TcpProbe, Srv.Port());
  EXPECT_EQ(Open->Probe("127.0.8.24", 500), TPingResult::Answered);
  const TClosedPort Refusing("127.0.8.24");
  const auto Closed = NewPingProber(TPingMethod::TcpProbe, Refusing.Port());
  auto T0 = Clock::now();
  EXPECT_EQ(Closed->Probe("127.0.8.24", 500), TPingResult::Answered);
  EXPECT_LT(MsSince(T0), 200.0);

  // A full accept queue drops handshakes: the host looks silent.
  bool Silent = false;
  for (int I = 0; I < 16 && !Silent; ++I) {
    T0 = Clock::now();
    Silent = Open->Probe("127.0.8.24", 150) == TPingResult::NoAnswer;
  }
  ASSERT_TRUE(Silent);
  EXPECT_GE(MsSince(T0), 140.0);
  EXPECT_LT(MsSince(T0), 400.0);
}

TEST_F(PingClientTest, AsyncPingReportsSilenceOnAThreadOfItsOwn) {
  TPingClient C(std::make_unique<TScriptedProber>(TPingResult::NoAnswer));
  TEvents E;
  const auto T0 = Clock::now();
  E.Bind(C, T0);
  C.PingAsync("127.0.8.25", 400);
  EXPECT_LT(MsSince(T0), 200.0); // returns long before the answer is due
  ASSERT_TRUE(E.WaitAny(3000));
  std::lock_guard<std::mutex> L(E.M);
  EXPECT_EQ(E.Timeouts, 1);
  EXPECT_EQ(E.Errors, 0);
  EXPECT_NE(E.Thread, std::this_thread::get_id());
  EXPECT_EQ(E.Sender, &C);
  EXPECT_GE(E.AtMs, 395.0);
}

TEST_F(PingClientTest, AsyncPingReportsErrorsAndKeepsQuietOnAnswers) {
  {
    TPingClient C(std::make_unique<TScriptedProber>(TPingResult::Failed));
    TEvents E;
    E.Bind(C, Clock::now());
    C.PingAsync("127.0.8.26", 100);
    ASSERT_TRUE(E.WaitAny(3000));
    std::lock_guard<std::mutex> L(E.M);
    EXPECT_EQ(E.Errors, 1);
    EXPECT_EQ(E.Timeouts, 0);
  }
  {
    TEvents E;
    {
      TPingClient C(std::make_unique<TScriptedProber>(TPingResult::Answered));
      E.Bind(C, Clock::now());
      C.PingAsync("127.0.8.26", 100);
      C.PingAsync("127.0.8.26", 100);
    } // waits for both
    EXPECT_EQ(E.Timeouts + E.Errors, 0);
  }
  {
    // No host anywhere: the ping cannot be made.
    TPingClient C(std::make_unique<TScriptedProber>(TPingResult::Answered));
    TEvents E;
    E.Bind(C, Clock::now());
    C.PingAsync("", 100);
    ASSERT_TRUE(E.WaitAny(3000));
    std::lock_guard<std::mutex> L(E.M);
    EXPECT_EQ(E.Errors, 1);
  }
}

TEST_F(PingClientTest, DestructorWaitsForEveryPendingPing) {
  TEvents E;
  const auto T0 = Clock::now();
  {
    TPingClient C(std::make_unique<TScriptedProber>(TPingResult::NoAnswer));
    E.Bind(C, T0);
    for (int I = 0; I < 3; ++I) {
      C.PingAsync("127.0.8.27", 200);
    }
    EXPECT_EQ(C.Pending(), 3);
  }
  EXPECT_GE(MsSince(T0), 190.0);
  std::lock_guard<std::mutex> L(E.M);
  EXPECT_EQ(E.Timeouts, 3);
}

TEST_F(PingClientTest, RealEchoAnswersAsAnUnprivilegedUser) {
  if (::geteuid() != 0) {
    // Already unprivileged: the plain loopback test covers it.
    TPingClient C;
    EXPECT_TRUE(C.Ping("127.0.0.1", 1000));
    return;
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

// Inside a network namespace of its own (made by one thread of the test, inherited by the
// ping threads it starts): real ICMP, with the echo answer switched off by sysctl.
struct TNamespaceRun {
  std::string Skip;
  bool RangeWritten = false;
  bool DatagramAllowed = false;
  TPingResult DatagramResult = TPingResult::Failed;
  TPingResult BeforeSilence = TPingResult::Failed;
  bool SyncPing = true;
  int Timeouts = 0;
  int Errors = 0;
  double NotifiedAtMs = 0;
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

TEST_F(PingClientTest, RealEchoLeftUnansweredNotifiesTimeOut) {
  TNamespaceRun Run;
  std::thread T([&Run] {
    if (::unshare(CLONE_NEWNET) != 0) {
      Run.Skip = std::string("no network namespace: ") + std::strerror(errno);
      return;
    }
    if (!LoopbackUp()) {
      Run.Skip = "cannot bring up loopback in the namespace";
      return;
    }
    // Unprivileged echo sockets for our group, in this namespace only.
    const std::string Range = std::to_string(::getgid()) + " " + std::to_string(::getgid());
    Run.RangeWritten = WriteSysctl("/proc/sys/net/ipv4/ping_group_range", Range.c_str());
    if (Run.RangeWritten) {
      if (const auto P = NewPingProber(TPingMethod::DatagramIcmp)) {
        Run.DatagramAllowed = true;
        Run.DatagramResult = P->Probe("127.0.0.1", 1000);
      }
    }
    auto Best = hostkit::NewBestPingProber();
    if (Best->Describe().find("ICMP") == std::string::npos) {
      Run.Skip = "no ICMP socket allowed";
      return;
    }
    Run.BeforeSilence = Best->Probe("127.0.0.1", 1000);
    if (!WriteSysctl("/proc/sys/net/ipv4/icmp_echo_ignore_all", "1")) {
      Run.Skip = "cannot silence echo in the namespace";
      return;
    }
    TPingClient C(std::move(Best));
    Run.SyncPing = C.Ping("127.0.0.1", 100);
    TEvents E;
    const auto T0 = Clock::now();
    E.Bind(C, T0);
    C.PingAsync("127.0.0.1", 200);
    E.WaitAny(3000);
    std::lock_guard<std::mutex> L(E.M);
    Run.Timeouts = E.Timeouts;
    Run.Errors = E.Errors;
    Run.NotifiedAtMs = E.AtMs;
  });
  T.join();
  if (!Run.Skip.empty()) {
    GTEST_SKIP() << Run.Skip;
  }
  EXPECT_EQ(Run.DatagramAllowed, Run.RangeWritten);
  if (Run.DatagramAllowed) {
    EXPECT_EQ(Run.DatagramResult, TPingResult::Answered);
  }
  EXPECT_EQ(Run.BeforeSilence, TPingResult::Answered);
  EXPECT_FALSE(Run.SyncPing);
  EXPECT_EQ(Run.Timeouts, 1);
  EXPECT_EQ(Run.Errors, 0);
  EXPECT_GE(Run.NotifiedAtMs, 195.0);
  EXPECT_LT(Run.NotifiedAtMs, 1000.0);
}

} // namespace
} // namespace nclaser::testing
