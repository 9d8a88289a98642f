// Latency of the stand-in host's links: one-way pty latency through the serial port in both
// directions, loopback TCP round trip through the TCP client, the overshoot of a connect
// time-out, and one ping per method allowed here. Usage: bench_links [runs]
#include <chrono>
#include <cstdlib>
#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include "bench/bench_util.h"
#include "host/clock.h"
#include "hostkit/host.h"
#include "hostkit/icmp_client.h"
#include "hostkit/serial_port.h"
#include "hostkit/tcp_client.h"

using namespace nclaser;
using nclaser::bench::Report;
using nclaser::bench::Summarize;

namespace {

// A raw pty pair; the near end's path goes to the serial port.
struct TPty {
  int Master = -1;
  int Slave = -1;
  std::string Path;
  TPty() {
    Master = ::posix_openpt(O_RDWR | O_NOCTTY);
    char Name[128] = {};
    if (Master < 0 || ::grantpt(Master) != 0 || ::unlockpt(Master) != 0 ||
        ::ptsname_r(Master, Name, sizeof Name) != 0) {
      std::perror("pty");
      std::exit(1);
    }
    Path = Name;
    Slave = ::open(Name, O_RDWR | O_NOCTTY);
    termios T{};
    ::tcgetattr(Slave, &T);
    ::cfmakeraw(&T);
    ::tcsetattr(Slave, TCSANOW, &T);
  }
  ~TPty() {
    ::close(Slave);
    ::close(Master);
  }
};

void BenchSerial(int Runs) {
  TPty Pty;
  auto Map = std::make_shared<hostkit::TSerialPortMap>();
  Map->Set(1, Pty.Path);
  hostkit::TSerialPort Port(Map);
  Port.SetSettings("115200,n,8,1");
  Port.SetCommPort(1);
  Port.SetActive(true);
  if (!Port.GetActive()) {
    std::printf("serial port did not open: %s\n", Port.LastError().c_str());
    return;
  }
  std::vector<double> Out;
  std::vector<double> In;
  char Buf[64];
  for (int I = 0; I < Runs; ++I) {
    double T0 = NowMs();
    Port.Write("0123456789", 10);
    int Got = 0;
    while (Got < 10) {
      Got += static_cast<int>(::read(Pty.Master, Buf, sizeof Buf));
    }
    Out.push_back(ElapsedMs(T0));
    T0 = NowMs();
    (void)!::write(Pty.Master, "0123456789", 10);
    Got = 0;
    while (Got < 10 && Port.WaitForInput(1000)) {
      Got += Port.Read(Buf, sizeof Buf);
    }
    In.push_back(ElapsedMs(T0));
  }
  Report("serial_pty", "write_to_far_end", Summarize(Out), "ms");
  Report("serial_pty", "far_end_to_read", Summarize(In), "ms");
}

int Listen(const char* Address, int Backlog, std::uint16_t& Port) {
  sockaddr_in A{};
  A.sin_family = AF_INET;
  ::inet_pton(AF_INET, Address, &A.sin_addr);
  const int L = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  socklen_t Len = sizeof A;
  if (L < 0 || ::bind(L, reinterpret_cast<sockaddr*>(&A), sizeof A) != 0 ||
      ::listen(L, Backlog) != 0 || ::getsockname(L, reinterpret_cast<sockaddr*>(&A), &Len) != 0) {
    std::perror("listen");
    std::exit(1);
  }
  Port = ntohs(A.sin_port);
  return L;
}

void BenchTcp(int Runs) {
  std::uint16_t Port = 0;
  const int L = Listen("127.0.9.1", 4, Port);
  std::thread Echo([L] {
    const int C = ::accept(L, nullptr, nullptr);
    char Buf[1024];
    for (;;) {
      const ssize_t N = ::recv(C, Buf, sizeof Buf, 0);
      if (N <= 0) {
        break;
      }
      ::send(C, Buf, static_cast<size_t>(N), MSG_NOSIGNAL);
    }
    ::close(C);
  });
  hostkit::TTcpClient Client;
  Client.SetRemoteHost("127.0.9.1");
  Client.SetRemotePort(std::to_string(Port));
  std::vector<double> Connect;
  double T0 = NowMs();
  Client.ConnectTimeout(1000);
  Connect.push_back(ElapsedMs(T0));
  std::vector<double> Rtt;
  char Buf[1024];
  for (int I = 0; I < Runs && Client.GetConnected(); ++I) {
    T0 = NowMs();
    Client.SendBuf("status?\r", 8, 0);
    int Got = 0;
    bool Ready = false;
    while (Got < 8 && Client.Select(&Ready, nullptr, nullptr, 1000)) {
      Got += std::max(0, Client.ReceiveBuf(Buf, sizeof Buf, 0));
    }
    Rtt.push_back(ElapsedMs(T0));
  }
  Client.Disconnect();
  Echo.join();
  ::close(L);
  Report("tcp_loopback", "connect", Summarize(Connect), "ms");
  Report("tcp_loopback", "round_trip", Summarize(Rtt), "ms");
}

void BenchConnectTimeout(int Runs) {
  std::uint16_t Port = 0;
  const int L = Listen("127.0.9.2", 0, Port);
  sockaddr_in A{};
  A.sin_family = AF_INET;
  A.sin_port = htons(Port);
  ::inet_pton(AF_INET, "127.0.9.2", &A.sin_addr);
  std::vector<int> Fillers;
  for (int I = 0; I < 16; ++I) { // until the accept queue is full and handshakes go unanswered
    const int F = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    Fillers.push_back(F);
    ::connect(F, reinterpret_cast<sockaddr*>(&A), sizeof A);
    pollfd P{F, POLLOUT, 0};
    if (::poll(&P, 1, 200) == 0) {
      break;
    }
  }
  hostkit::TTcpClient Client;
  Client.SetRemoteHost("127.0.9.2");
  Client.SetRemotePort(std::to_string(Port));
  std::vector<double> Over;
  for (int I = 0; I < Runs; ++I) {
    const double T0 = NowMs();
    Client.ConnectTimeout(100);
    Over.push_back(ElapsedMs(T0) - 100);
  }
  for (const int F : Fillers) {
    ::close(F);
  }
  ::close(L);
  Report("tcp_connect_timeout", "100ms.overshoot", Summarize(Over), "ms");
}

void BenchPing(int Runs) {
  for (const auto M : {hostkit::TPingMethod::RawIcmp, hostkit::TPingMethod::DatagramIcmp,
                       hostkit::TPingMethod::TcpProbe}) {
    const auto P = hostkit::NewPingProber(M);
    if (!P) {
      std::printf("%-28s not allowed here\n", hostkit::PingMethodName(M));
      continue;
    }
    std::vector<double> Lat;
    for (int I = 0; I < Runs; ++I) {
      const double T0 = NowMs();
      P->Probe("127.0.0.1", 1000);
      Lat.push_back(ElapsedMs(T0));
    }
    Report(std::string("ping ") + hostkit::PingMethodName(M), "127.0.0.1", Summarize(Lat), "ms");
  }
}

} // namespace

int main(int argc, char** argv) {
  const int Runs = argc > 1 ? std::atoi(argv[1]) : 200;
  std::printf("# link latencies, %d runs each\n", Runs);
  BenchSerial(Runs);
  BenchTcp(Runs);
  BenchConnectTimeout(std::max(1, Runs / 10));
  BenchPing(Runs);
  return 0;
}
