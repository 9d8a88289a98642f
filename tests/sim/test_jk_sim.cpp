#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "host/clock.h"
#include "protocols/jk.h"
#include "sim/jk_sim.h"

namespace nclaser {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The laser's end of the line, opened straight with POSIX.
class TNearEnd {
public:
  explicit TNearEnd(const std::string& Path) {
    FFd = ::open(Path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (FFd >= 0) {
      termios T{};
      ::tcgetattr(FFd, &T);
      ::cfmakeraw(&T);
      ::tcsetattr(FFd, TCSANOW, &T);
    }
  }
  ~TNearEnd() {
    if (FFd >= 0) {
      ::close(FFd);
    }
  }
  bool Ok() const { return FFd >= 0; }
  void Send(const Bytes& B) { ASSERT_EQ(::write(FFd, B.data(), B.size()), ssize_t(B.size())); }
  void Cmd(std::uint8_t Addr, const Bytes& Data) { Send(jk::BuildFrame(Addr, Data)); }
  // What arrives within TimeoutMs, returning early once MinCount bytes are in.
  Bytes Recv(size_t MinCount, int TimeoutMs) {
    Bytes Out;
    const double Start = NowMs();
    while (Out.size() < MinCount && ElapsedMs(Start) < TimeoutMs) {
      pollfd P{FFd, POLLIN, 0};
      if (::poll(&P, 1, 5) > 0 && (P.revents & POLLIN) != 0) {
        std::uint8_t B[256];
        const ssize_t N = ::read(FFd, B, sizeof(B));
        if (N > 0) {
          Out.insert(Out.end(), B, B + N);
        }
      }
    }
    return Out;
  }

private:
  int FFd = -1;
};

class JKSimTest : public ::testing::Test {
protected:
  void SetUp() override {
    Sim.Start();
    Near = std::make_unique<TNearEnd>(Sim.DevicePath());
    ASSERT_TRUE(Near->Ok());
  }
  Bytes Ask(const Bytes& Data, size_t Expect, int TimeoutMs = 1000) {
    Near->Cmd(1, Data);
    return Near->Recv(Expect, TimeoutMs);
  }
  sim::TJKSim Sim;
  std::unique_ptr<TNearEnd> Near;
};

TEST_F(JKSimTest, AnswersStatusAndFollowsTheEmissionSequence) {
  EXPECT_EQ(Ask({0x03}, 7), jk::BuildFrame(1, Bytes{0x03, 0x00}));
  Near->Cmd(1, {0x02}); // not ready: ignored
  Near->Cmd(1, {0x05});
  EXPECT_EQ(Ask({0x03}, 7), jk::BuildFrame(1, Bytes{0x03, 0x01}));
  Near->Cmd(1, {0x01});
  Near->Cmd(1, {0x02});
  EXPECT_EQ(Ask({0x03}, 7), jk::BuildFrame(1, Bytes{0x03, 0x03}));
  Near->Cmd(1, {0x00});
  EXPECT_EQ(Ask({0x03}, 7), jk::BuildFrame(1, Bytes{0x03, 0x00}));
  ASSERT_TRUE(Sim.WaitFrames([](const auto& F) { return F.size() == 9; }, 1000));
  for (const auto& F : Sim.Frames()) {
    EXPECT_TRUE(F.CrcOk);
  }
  EXPECT_EQ(Sim.CountFunction(0x03), 4);
  EXPECT_EQ(Sim.Commands().size(), 5U);
}

TEST_F(JKSimTest, StandbyAfterTheReadyDelay) {
  Sim.Stop();
  sim::TJKSim Slow(sim::TJKSimOptions{.ReadyDelayMs = 150});
  Slow.Start();
  TNearEnd N(Slow.DevicePath());
  N.Cmd(1, {0x01});
  N.Cmd(1, {0x03});
  EXPECT_EQ(N.Recv(7, 1000), jk::BuildFrame(1, Bytes{0x03, 0x00}));
  Sleep(250);
  N.Cmd(1, {0x03});
  EXPECT_EQ(N.Recv(7, 1000), jk::BuildFrame(1, Bytes{0x03, 0x02}));
}

TEST_F(JKSimTest, AimingSetPointFlagsAndParameterAnswer) {
  Near->Cmd(1, {0x10, 0xFF});
  EXPECT_EQ(Ask({0x11}, 8), jk::BuildFrame(1, Bytes{0x11, 0x00, 0xFF}));
  EXPECT_TRUE(Sim.AimingOn());
  Near->Cmd(1, {0x5D, 0x01, 0x05, 0x00, 0x00, 0x02, 0x2B});
  Near->Cmd(1, {0x5F, 0x01, 0x06, 0xFF});
  Near->Cmd(1, {0x5D, 0x01, 0x07, 0x00, 0x00, 0x01, 0x2C});
  Sim.SetState(2);
  const Bytes P = Ask({0x50, 0x01, 0x01}, 25);
  ASSERT_EQ(P.size(), 25U);
  EXPECT_EQ(P[2], 0x50);
  EXPECT_EQ(P[6], 2);
  EXPECT_EQ(P[21], 1);
  EXPECT_EQ(Sim.SetPoint(), 555);
  EXPECT_EQ(Sim.Flag(0x06), 0xFF);
  EXPECT_EQ(Sim.Value(0x07), 300);
  EXPECT_FALSE(Sim.Flag(0x01));
}

TEST_F(JKSimTest, ReportsAnAlarmInPlaceOfTheNextStatus) {
  Sim.ReportAlarm(0x0102);
  EXPECT_EQ(Ask({0x03}, 9), jk::BuildFrame(1, Bytes{0xA4, 0x00, 0x01, 0x02}));
  EXPECT_EQ(Ask({0x03}, 7), jk::BuildFrame(1, Bytes{0x03, 0x00}));
  EXPECT_EQ(Ask({0xA4}, 9), jk::BuildFrame(1, Bytes{0xA4, 0x00, 0x01, 0x02}));
}

TEST_F(JKSimTest, RecordsBadFramesAndResynchronisesAfterJunk) {
  Near->Send({0x11, 0x22, 0x7E, 0x01, 0x01, 0x00, 0x00, 0x7E}); // junk, then a bad CRC
  EXPECT_EQ(Ask({0x03}, 7), jk::BuildFrame(1, Bytes{0x03, 0x00}));
  const auto F = Sim.Frames();
  ASSERT_EQ(F.size(), 2U);
  EXPECT_FALSE(F[0].CrcOk);
  EXPECT_TRUE(F[1].CrcOk);
  EXPECT_EQ(Sim.JunkBytes(), 2);
  EXPECT_EQ(Sim.State(), 0); // the bad standby frame was not obeyed
}

TEST_F(JKSimTest, Faults) {
  Sim.SetFault(sim::TJKFault::Silence);
  EXPECT_TRUE(Ask({0x03}, 1, 150).empty());
  Sim.SetFault(sim::TJKFault::ShortAnswers);
  EXPECT_EQ(Ask({0x03}, 7, 150), (Bytes{0x7E, 0x01, 0x03}));
  Sim.SetFault(sim::TJKFault::Garbage);
  const Bytes G = Ask({0x03}, 4);
  EXPECT_GE(G.size(), 4U);
  EXPECT_NE(G, jk::BuildFrame(1, Bytes{0x03, 0x00}));
  Sim.SetFault(sim::TJKFault::None);
  Near->Recv(100, 30); // drain the rest of the garbage
  EXPECT_EQ(Ask({0x03}, 7), jk::BuildFrame(1, Bytes{0x03, 0x00}));
}

TEST_F(JKSimTest, UnplugAndReplugKeepThePath) {
  const std::string Path = Sim.DevicePath();
  Sim.Unplug();
  EXPECT_FALSE(Sim.Plugged());
  EXPECT_FALSE(TNearEnd(Path).Ok());
  Sim.Replug();
  EXPECT_EQ(Sim.DevicePath(), Path);
  TNearEnd Again(Path);
  ASSERT_TRUE(Again.Ok());
  Again.Cmd(1, {0x03});
  EXPECT_EQ(Again.Recv(7, 1000), jk::BuildFrame(1, Bytes{0x03, 0x00}));
}

TEST(JKSimLife, StopRemovesTheDeviceAndRestartWorks) {
  sim::TJKSim Sim;
  EXPECT_TRUE(Sim.DevicePath().empty());
  Sim.Start();
  const std::string Path = Sim.DevicePath();
  EXPECT_EQ(::access(Path.c_str(), F_OK), 0);
  Sim.Stop();
  EXPECT_NE(::access(Path.c_str(), F_OK), 0);
  EXPECT_FALSE(Sim.Running());
  Sim.Start();
  TNearEnd N(Sim.DevicePath());
  N.Cmd(1, {0x03});
  EXPECT_EQ(N.Recv(7, 1000).size(), 7U);
}

} // namespace
} // namespace nclaser
