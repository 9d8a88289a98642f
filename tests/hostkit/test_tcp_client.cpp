#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstdint>
#include <thread>

#include <sys/socket.h>
#include <unistd.h>

#include "host/clock.h"
#include "host/comm.h"
#include "hostkit/icmp_client.h"
#include "hostkit/resolve.h"
#include "hostkit/tcp_client.h"
#include "tests/support/host_fixture.h"
#include "tests/support/tcp_listener.h"

namespace nclaser::testing {
namespace {

class TcpClientTest : public HostTest {
protected:
  std::unique_ptr<TKdTcpClient> Client(const std::string& Address, std::uint16_t Port) {
    auto C = NewTcpClient();
    C->SetRemoteHost(Address);
    C->SetRemotePort(std::to_string(Port));
    return C;
  }
  // A client connected to Srv, which has accepted it.
  std::unique_ptr<TKdTcpClient> Connected(TTcpListener& Srv, const std::string& Address) {
    auto C = Client(Address, Srv.Port());
    EXPECT_TRUE(C->ConnectTimeout(1000));
    EXPECT_TRUE(Srv.Accept(1000));
    return C;
  }
};

// A full accept queue leaves the handshake unanswered: the connect gives up at its time-out,
// or at once when another thread disconnects.
TEST_F(TcpClientTest, UnansweredHandshakeEndsAtTheTimeOutOrADisconnect) {
  TTcpListener Srv("127.0.8.3", 0, 0);
  TBacklogFiller Filler;
  ASSERT_TRUE(Filler.Fill("127.0.8.3", Srv.Port()));
  auto C = Client("127.0.8.3", Srv.Port());
  for (const int Timeout : {150, 400}) {
    const auto T0 = NowMs();
    EXPECT_FALSE(C->ConnectTimeout(Timeout));
    const double Took = ElapsedMs(T0);
    EXPECT_GE(Took, Timeout - 5.0);
    EXPECT_LT(Took, Timeout + 100.0);
    EXPECT_FALSE(C->GetConnected());
  }
  std::thread Other([&] {
    Sleep(60);
    C->Disconnect();
  });
  const auto T0 = NowMs();
  EXPECT_FALSE(C->ConnectTimeout(3000));
  EXPECT_LT(ElapsedMs(T0), 1000.0);
  Other.join();
}

// A name server that never answers in time: every lookup of a name takes two seconds.
int SlowLookup(const char* /*Host*/, const char* /*Port*/, const addrinfo* /*Hints*/,
               addrinfo** /*Result*/) {
  Sleep(2000);
  return EAI_AGAIN;
}

TEST_F(TcpClientTest, BadAddressesFailNamesResolveAndAHangingLookupGivesUpInTime) {
  for (const char* Host : {"", "999.1.1.1x", "127.0.0.1:80"}) {
    SCOPED_TRACE(Host);
    auto C = Client(Host, 1);
    EXPECT_FALSE(C->ConnectTimeout(300));
  }
  auto C = NewTcpClient();
  C->SetRemoteHost("127.0.8.4");
  EXPECT_FALSE(C->ConnectTimeout(300)); // no port
  TTcpListener Srv("127.0.0.1", 0);
  EXPECT_TRUE(Client("localhost", Srv.Port())->ConnectTimeout(1000));

  // The connect and the ping give up within their time-outs; addresses need no lookup.
  hostkit::SetLookup(&SlowLookup);
  C = Client("laser.example", 10001);
  auto T0 = NowMs();
  EXPECT_FALSE(C->ConnectTimeout(300));
  EXPECT_LT(ElapsedMs(T0), 300.0 + 100.0);
  hostkit::TPingClient Ping(hostkit::NewPingProber(hostkit::TPingMethod::TcpProbe, 10001));
  T0 = NowMs();
  EXPECT_FALSE(Ping.Ping("laser.example", 100));
  EXPECT_LT(ElapsedMs(T0), 100.0 + 100.0);
  EXPECT_TRUE(Client("127.0.0.1", Srv.Port())->ConnectTimeout(1000));
  hostkit::SetLookup(nullptr);
}

TEST_F(TcpClientTest, ServerCloseIsNoticedAndAReconnectWorks) {
  TTcpListener Srv("127.0.8.5", 0);
  auto C = Connected(Srv, "127.0.8.5");
  EXPECT_TRUE(C->ConnectTimeout(1000)); // connecting again while connected keeps the link
  EXPECT_FALSE(Srv.Accept(50));
  // The flag alone notices the close (it is the lasers' link check).
  Srv.Drop();
  EXPECT_TRUE(Until([&] { return !C->GetConnected(); }, 1000));

  ASSERT_TRUE(C->ConnectTimeout(1000));
  ASSERT_TRUE(Srv.Accept(1000));
  // A reader notices it too: ready, 0 bytes, disconnected.
  ASSERT_TRUE(Srv.Write("last"));
  Srv.Drop();
  bool Ready = false;
  ASSERT_TRUE(C->Select(&Ready, nullptr, nullptr, 1000));
  char Buf[64];
  EXPECT_EQ(C->ReceiveBuf(Buf, sizeof Buf, 0), 4); // what came before the close is kept
  EXPECT_TRUE(C->Select(&Ready, nullptr, nullptr, 1000));
  EXPECT_EQ(C->ReceiveBuf(Buf, sizeof Buf, 0), 0);
  EXPECT_FALSE(C->GetConnected());

  // A listener that went away refuses at once, and nothing moves until it is back.
  Srv.StopListening();
  const auto T0 = NowMs();
  EXPECT_FALSE(C->ConnectTimeout(1000));
  EXPECT_LT(ElapsedMs(T0), 200.0);
  EXPECT_FALSE(C->GetConnected());
  EXPECT_EQ(C->SendBuf("x", 1, 0), -1);
  EXPECT_EQ(C->ReceiveBuf(Buf, 1, 0), -1);
  Ready = true;
  EXPECT_FALSE(C->Select(&Ready, nullptr, nullptr, 10));
  EXPECT_FALSE(Ready);
  ASSERT_TRUE(Srv.Listen());
  ASSERT_TRUE(C->ConnectTimeout(1000));
  ASSERT_TRUE(Srv.Accept(1000));
  EXPECT_EQ(C->SendBuf("ping", 4, 0), 4);
  EXPECT_EQ(Srv.Read(4, 1000), (std::vector<std::uint8_t>{'p', 'i', 'n', 'g'}));
}

TEST_F(TcpClientTest, ResetPeerFailsSendsWithoutSigpipe) {
  // Default SIGPIPE action would end the process on a send to a dead peer.
  ASSERT_NE(std::signal(SIGPIPE, SIG_DFL), SIG_ERR);
  TTcpListener Srv("127.0.8.6", 0);
  auto C = Connected(Srv, "127.0.8.6");
  Srv.Drop(true);
  Sleep(20);
  int Result = 0;
  for (int I = 0; I < 5 && Result >= 0; ++I) {
    Result = C->SendBuf("data", 4, 0);
  }
  EXPECT_EQ(Result, -1);
  EXPECT_FALSE(C->GetConnected());
}

TEST_F(TcpClientTest, SelectAndReceiveHonourTheirTimeOutsAndKeepTheLink) {
  TTcpListener Srv("127.0.8.7", 0);
  auto C = Connected(Srv, "127.0.8.7");
  dynamic_cast<hostkit::TTcpClient&>(*C).SetReceiveTimeoutMs(100);

  bool Ready = true;
  auto T0 = NowMs();
  EXPECT_FALSE(C->Select(&Ready, nullptr, nullptr, 150));
  EXPECT_FALSE(Ready);
  EXPECT_GE(ElapsedMs(T0), 140.0);
  EXPECT_LT(ElapsedMs(T0), 500.0);
  char Buf[16];
  T0 = NowMs();
  EXPECT_EQ(C->ReceiveBuf(Buf, sizeof Buf, 0), -1);
  EXPECT_GE(ElapsedMs(T0), 90.0);
  EXPECT_LT(ElapsedMs(T0), 600.0);
  EXPECT_TRUE(C->GetConnected());

  std::thread Server([&] {
    Sleep(60);
    Srv.Write("late");
  });
  T0 = NowMs();
  EXPECT_TRUE(C->Select(&Ready, nullptr, nullptr, 3000));
  EXPECT_TRUE(Ready);
  EXPECT_GE(ElapsedMs(T0), 40.0);
  EXPECT_LT(ElapsedMs(T0), 1000.0);
  Server.join();

  bool Writable = false;
  EXPECT_TRUE(C->Select(nullptr, &Writable, nullptr, 100));
  EXPECT_TRUE(Writable);
}

TEST_F(TcpClientTest, DisconnectFromAnotherThreadEndsAWaitingSelect) {
  TTcpListener Srv("127.0.8.9", 0);
  auto C = Connected(Srv, "127.0.8.9");
  std::atomic<bool> Stop{false};
  std::thread Watcher([&] {
    while (!Stop.load()) {
      (void)C->GetConnected();
    }
  });
  std::thread Other([&] {
    Sleep(60);
    C->Disconnect();
  });
  const auto T0 = NowMs();
  bool Ready = false;
  C->Select(&Ready, nullptr, nullptr, 5000);
  EXPECT_LT(ElapsedMs(T0), 1000.0);
  char Buf[8];
  EXPECT_LE(C->ReceiveBuf(Buf, sizeof Buf, 0), 0);
  Other.join();
  Stop = true;
  Watcher.join();
  EXPECT_FALSE(C->GetConnected());
  // The server sees the close; the client can connect again.
  Srv.Read(SIZE_MAX, 100);
  EXPECT_TRUE(Srv.PeerClosed());
  ASSERT_TRUE(C->ConnectTimeout(1000));
  EXPECT_TRUE(Srv.Accept(1000));
}

} // namespace
} // namespace nclaser::testing
