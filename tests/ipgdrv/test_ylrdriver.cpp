#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <thread>

#include "host/clock.h"
#include "host/errors.h"
#include "hostkit/comm_factory.h"
#include "hostkit/icmp_client.h"
#include "ipgdrv/ylrdriver.h"
#include "params/textbuf.h"
#include "sim/ylr/ylr_model.h"
#include "strings/messages.h"
#include "tests/support/fake_links.h"
#include "tests/support/host_fixture.h"
#include "tests/support/tcp_listener.h"

namespace nclaser {
namespace {

using testing::TFakeLink;
using testing::TFakeLinkFactory;

class YlrDriver : public testing::HostTest {
protected:
  void SetUp() override {
    HostTest::SetUp();
    auto F = std::make_unique<TFakeLinkFactory>();
    Link = F->Link;
    Host->Comm = std::move(F);
    CommFactory = Host->Comm.get();
    Cfg.Initialize();
    Cfg.IPGType = ltYLRComm;
  }
  void TearDown() override {
    Drv.reset();
    HostTest::TearDown();
  }

  void Make() { Drv = std::make_unique<TIPGYLRDriver>(nullptr, Cfg); }

  // Lets a laser model answer everything the driver writes.
  void Answer() {
    Link->With([this](TFakeLink& L) {
      L.Responder = [this](const std::string& T) {
        return sim::ToText(sim::FeedModel(Model, ModelInput, sim::ToBytes(T), NowMs()));
      };
    });
  }

  // Writes other than the monitor's own status polls.
  std::vector<std::string> Sent() const {
    std::vector<std::string> W = Link->WritesCopy();
    W.erase(std::remove(W.begin(), W.end(), "STA\r"), W.end());
    return W;
  }

  // The ping client reports a lost answer, on this thread.
  void PingFails() {
    TIcmpClient* I = Link->With([](TFakeLink& L) { return L.Icmp; });
    ASSERT_NE(I, nullptr);
    I->OnTimeout(I);
  }

  int LinesWith(const std::string& Part) const { return Host->App.CountContaining(Part); }

  std::shared_ptr<TFakeLink> Link;
  TIPGLaserParams Cfg{};
  std::unique_ptr<TIPGYLRDriver> Drv;
  sim::TYLRModel Model;   // used from the driver's threads only through the fake's lock
  sim::TBytes ModelInput; // a command the model has not seen whole yet
};

TEST_F(YlrDriver, RefusesTypesThatAreNotYlr) {
  for (const TIPGLaserType T : {ltYLSGemNet, ltYLSGemHW, ltYLP, ltIPGErr}) {
    Cfg.IPGType = T;
    try {
      Make();
      FAIL() << "type " << int(T) << " accepted";
    } catch (const ELaserError& E) {
      EXPECT_STREQ(E.what(), "IPG.LaserType Error Message");
    }
  }
}

TEST_F(YlrDriver, SerialPortTakesTheConfiguredLineAndOpensLazily) {
  Cfg.YLR.Comm.CommPort = 7;
  Utf8ToTextBuf("19200,e,7,2", Cfg.YLR.Comm.CommSettings);
  Link->With([](TFakeLink& L) { L.CanOpen = false; });
  Make();
  Link->With([](TFakeLink& L) {
    EXPECT_EQ(L.Port, 7);
    EXPECT_EQ(L.Settings, "19200,e,7,2");
  });
  EXPECT_FALSE(Drv->CheckConnection());
  Link->With([](TFakeLink& L) { L.CanOpen = true; });
  EXPECT_TRUE(Drv->CheckConnection());
  EXPECT_EQ(Drv->GetMonThread()->GetThreadDelay(), 50);
}

TEST_F(YlrDriver, SendsEachCommandWithOneCr) {
  Make();
  Drv->SendCmd("ABC");
  Drv->SendCmd("DEF\r");
  Drv->SendCmd("");
  Drv->StartEmission();
  Drv->StopAimingBeam();
  EXPECT_EQ(Sent(), (std::vector<std::string>{"ABC\r", "DEF\r", "EMON\rSTA\r", "ABF\rSTA\r"}));
}

TEST_F(YlrDriver, SwitchingCommandTexts) {
  Make();
  Drv->DisableEmissionControl();
  Drv->EnableEmissionControl();
  Drv->DisableExternalAimControl();
  Drv->EnableExternalAimControl();
  Drv->DisableExternalControl();
  Drv->EnableExternalControl();
  Drv->DisableGateMode();
  Drv->EnableGateMode();
  Drv->DisableModulation();
  Drv->EnableModulation();
  Drv->DisablePulseMode();
  Drv->EnablePulseMode();
  Drv->SetDigitalPowerSelect();
  Drv->StartAimingBeam();
  Drv->StopEmission();
  EXPECT_EQ(Sent(),
            (std::vector<std::string>{"DLE\r", "ELE\r", "DEABC\r", "EEABC\r", "DEC\r", "EEC\r",
                                      "DGM\r", "EGM\r", "DMOD\r", "EMOD\r", "DPM\r", "EPM\r",
                                      "SDS\r", "ABN\rSTA\r", "EMOFF\rSTA\r"}));
}

TEST_F(YlrDriver, NothingIsSentWithoutALink) {
  Link->With([](TFakeLink& L) { L.CanOpen = false; });
  Make();
  Drv->StartEmission();
  Drv->SetDiodeCurrent(50);
  std::string Reply = "stale";
  Drv->SendAndReply("RSN", 1000, Reply);
  EXPECT_EQ(Reply, "");
  EXPECT_EQ(Drv->GetMinimumCurrent(), 10.0);
  EXPECT_EQ(Drv->GetElapsedTime(), 0.0);
  EXPECT_EQ(Drv->GetModuleErrorCode(), 0);
  EXPECT_EQ(Drv->GetSerialNumber(), "");
  EXPECT_TRUE(Link->WritesCopy().empty());
}

TEST_F(YlrDriver, AnalysesSplitAndJoinedReplies) {
  Make();
  Drv->AnalyzeResponse("STA: 12");
  EXPECT_EQ(Drv->GetDeviceStatus(), 0xFFFFFFFFU);
  Drv->AnalyzeResponse("34\r");
  EXPECT_EQ(Drv->GetDeviceStatus(), 1234U);

  Drv->AnalyzeResponse("ERR: 5\rSTA: 1024\r");
  EXPECT_EQ(Drv->GetDeviceStatus(), 1024U);
  const auto Lines = Host->App.Lines();
  const auto Red =
      std::count_if(Lines.begin(), Lines.end(), [](const auto& L) { return L.Color == clRed; });
  EXPECT_EQ(Red, 1);
  EXPECT_EQ(LinesWith("Laser: ERR: 5"), 1);

  Drv->AnalyzeResponse("SDC: 45.0\r");
  EXPECT_EQ(Drv->GetDiodeCurrentEcho(), 45.0);
  Drv->AnalyzeResponse("RCS: 46.5\rSDC: high\r");
  EXPECT_EQ(Drv->GetDiodeCurrentEcho(), 46.5); // a non-number leaves it

  Drv->AnalyzeResponse("STA: 4294967296\r");
  EXPECT_EQ(Drv->GetDeviceStatus(), 0U);
  Drv->AnalyzeResponse("STA: abc\r");
  EXPECT_EQ(Drv->GetDeviceStatus(), 0U);
}

TEST_F(YlrDriver, StatusBitsAndAlarmsFollowTheMode) {
  Make();
  EXPECT_FALSE(Drv->GetStatusBit(2));
  EXPECT_FALSE(Drv->HasAlarm());
  Drv->AnalyzeResponse("STA: 512\r"); // pulse too short
  EXPECT_FALSE(Drv->HasAlarm());      // no mode yet
  Drv->SetQCWMode(false);
  EXPECT_EQ(Drv->GetAlarmBits(), 0x6308000AU);
  EXPECT_FALSE(Drv->HasAlarm());
  Drv->SetQCWMode(true);
  EXPECT_EQ(Drv->GetAlarmBits(), 0xE38A020AU);
  EXPECT_TRUE(Drv->HasAlarm());
  EXPECT_EQ(Drv->GetAlarmDesc(),
            "Laser: " + SIPGPulseTooShort.Get() + SIPGModulationDisabled.Get());
  Drv->AnalyzeResponse("STA: 4\r");
  EXPECT_TRUE(Drv->GetStatusBit(2));
  EXPECT_FALSE(Drv->GetStatusBit(-2));
  EXPECT_FALSE(Drv->HasAlarm());
}

TEST_F(YlrDriver, QueriesParseTheReplyParameter) {
  Answer();
  Make();
  EXPECT_EQ(Drv->GetElapsedTime(), 1234.5);
  EXPECT_EQ(Drv->GetLaserTemperature(), 25.3);
  EXPECT_EQ(Drv->GetMinimumCurrent(), 10.0);
  EXPECT_EQ(Drv->GetFilterWndSz(), 1.0);
  EXPECT_EQ(Drv->GetModuleErrorCode(), 0);
  EXPECT_EQ(Drv->GetSerialNumber(), "PL1234567");
  EXPECT_EQ(Drv->GetSoftwareRevision(), "YLR-SIM 1.0");
  EXPECT_EQ(Drv->GetOutputPower(), "Off");
  Drv->ResetErrors();
  const auto S = Sent();
  for (const char* C :
       {"RET\r", "RCT\r", "RNC\r", "RFWS\r", "RMEC\r", "RSN\r", "RFV\r", "ROP\r", "RERR\r"}) {
    EXPECT_NE(std::find(S.begin(), S.end(), C), S.end()) << C;
  }
  // The model answers an unknown query with an error line: the default, and a red line.
  Link->With([](TFakeLink& L) {
    L.Responder = [](const std::string&) { return std::string("ERR: BCMD\r"); };
  });
  EXPECT_EQ(Drv->GetMinimumCurrent(), 10.0);
  EXPECT_GE(LinesWith("Laser: ERR: BCMD"), 1);
}

TEST_F(YlrDriver, FirstReceptionReportsTheLinkOnceAndAgainAfterAPingFailure) {
  Cfg.IPGType = ltYLRNet;
  Utf8ToTextBuf("127.0.0.9", Cfg.YLR.Net.TcpHost);
  Cfg.YLR.Net.TcpPort = 4444;
  Answer();
  Make();
  Link->With([](TFakeLink& L) {
    EXPECT_EQ(L.RemoteHost, "127.0.0.9");
    EXPECT_EQ(L.RemotePort, "10001");
    EXPECT_EQ(L.PingHost, "127.0.0.9");
    EXPECT_EQ(L.PingTimeout, 1000);
  });
  EXPECT_EQ(Drv->GetMonThread()->GetThreadDelay(), 100);
  ASSERT_TRUE(Host->App.WaitForLine(SLaserConnectedOk.Get(), 2000));
  EXPECT_TRUE(Drv->GetConnected());
  Drv->GetSerialNumber();
  EXPECT_EQ(LinesWith(SLaserConnectedOk.Get()), 1);

  // A failed background ping drops the connection; the next check reconnects.
  PingFails();
  EXPECT_FALSE(Drv->GetConnected());
  EXPECT_EQ(LinesWith("TCP Connection Closed."), 1);
  const auto Lines = Host->App.Lines();
  const auto Closed = std::find_if(
      Lines.begin(), Lines.end(), [](const auto& L) { return L.Text == "TCP Connection Closed."; });
  ASSERT_NE(Closed, Lines.end());
  EXPECT_EQ(Closed->MessageType, mtProminent);
  EXPECT_EQ(Drv->GetSerialNumber(), "PL1234567");
  EXPECT_EQ(LinesWith(SLaserConnectedOk.Get()), 2);
  EXPECT_GE(Link->With([](TFakeLink& L) { return L.Connects; }), 2);
  // While not connected a ping failure changes nothing.
  Link->With([](TFakeLink& L) { L.Active = false; });
  PingFails();
  EXPECT_EQ(LinesWith("TCP Connection Closed."), 1);
}

TEST_F(YlrDriver, TcpLinkPingsBeforeConnectingAndWatchesWithAsyncPings) {
  Cfg.IPGType = ltYLRNet;
  Link->With([](TFakeLink& L) { L.PingAnswers = false; });
  Make();
  EXPECT_FALSE(Drv->CheckConnection());
  Link->With([](TFakeLink& L) {
    EXPECT_GE(L.SyncPings, 1);
    EXPECT_EQ(L.Connects, 0); // no connect without a ping answer
    L.PingAnswers = true;
  });
  EXPECT_TRUE(Drv->CheckConnection());
  EXPECT_TRUE(Drv->CheckConnection());
  // The watchdog pings once, then not again within 5 s.
  Sleep(300);
  EXPECT_EQ(Link->With([](TFakeLink& L) { return L.AsyncPings; }), 1);
}

TEST_F(YlrDriver, SerialDrainLastsItsTimeOutReadsLateInputAndDoesNotSpin) {
  Make();
  ASSERT_TRUE(Drv->CheckConnection());
  std::thread Late([this] {
    Sleep(40);
    Link->Inject("STA: 3\r");
  });
  Drv->LockComm(); // keep the monitor out of the way
  const int ReadsBefore = Link->With([](TFakeLink& L) { return L.Reads; });
  const double T0 = NowMs();
  std::string Reply;
  Drv->ReceiveResponse(100, Reply);
  const double Took = ElapsedMs(T0);
  Drv->UnlockComm();
  Late.join();
  EXPECT_EQ(Reply, "STA: 3\r");
  EXPECT_EQ(Drv->GetDeviceStatus(), 3U);
  EXPECT_GT(Took, 100.0);
  EXPECT_LT(Took, 180.0);
  // A spinning drain would read thousands of times in 100 ms.
  EXPECT_LT(Link->With([](TFakeLink& L) { return L.Reads; }) - ReadsBefore, 10);
}

TEST_F(YlrDriver, VanishedSerialPortLetsTheLockGoAtOnceInsteadOfSpinning) {
  Make();
  ASSERT_TRUE(Drv->CheckConnection());
  std::thread Unplug([this] {
    Sleep(30);
    Link->With([](TFakeLink& L) {
      L.CanOpen = false;
      L.Active = false;
      L.CV.notify_all();
    });
  });
  Drv->LockComm(); // keep the monitor out of the way
  const int WaitsBefore = Link->With([](TFakeLink& L) { return L.Waits; });
  const double T0 = NowMs();
  std::string Reply;
  Drv->ReceiveResponse(500, Reply);
  const double Took = ElapsedMs(T0);
  Drv->UnlockComm();
  Unplug.join();
  EXPECT_LT(Took, 200.0) << "held the lock to the end of its time-out";
  EXPECT_LT(Link->With([](TFakeLink& L) { return L.Waits; }) - WaitsBefore, 10);
}

TEST_F(YlrDriver, SetPointsAreSentInRangeOnly) {
  Cfg.YLR.IgnoreDiodeReply = true;
  Make();
  Drv->SetDiodeCurrent(100.5);
  Drv->SetDiodeCurrent(-1);
  Drv->SetFilterWndSz(0.19);
  Drv->SetFilterWndSz(5.01);
  Drv->SetPulseRate(0);
  Drv->SetPulseRate(10000000);
  Drv->SetPulseWidth(50.5);
  EXPECT_TRUE(Sent().empty());
  Drv->SetFilterWndSz(0.2);
  Drv->SetFilterWndSz(5);
  Drv->SetPulseRate(20000);
  Drv->SetPulseWidth(50);
  EXPECT_EQ(Sent(),
            (std::vector<std::string>{"SFWS 0.2\r", "SFWS 5.0\r", "SPRR 20000\r", "SPW 50.00\r"}));
}

TEST_F(YlrDriver, BlindDiodeCurrentSendsFiveTimesWithoutDraining) {
  Cfg.YLR.IgnoreDiodeReply = true;
  Make();
  Link->ClearWrites();
  Drv->LockComm();
  const int WaitsBefore = Link->With([](TFakeLink& L) { return L.Waits; });
  Drv->SetDiodeCurrent(100);
  const int Waits = Link->With([](TFakeLink& L) { return L.Waits; }) - WaitsBefore;
  Drv->UnlockComm();
  EXPECT_EQ(Sent(), std::vector<std::string>(5, "SDC 100\r"));
  EXPECT_EQ(Waits, 0);
  EXPECT_FALSE(Drv->GetIsImdState());
}

TEST_F(YlrDriver, VerifiedDiodeCurrentGivesUpAfterASecond) {
  Answer();
  Make();
  const double T0 = NowMs();
  Drv->SetDiodeCurrent(60.5); // only 60 is sent, so never confirmed
  const double Took = ElapsedMs(T0);
  EXPECT_GT(Took, 1000.0);
  EXPECT_LT(Took, 1400.0);
  const auto S = Sent();
  EXPECT_GE(S.size(), 4U);
  EXPECT_TRUE(std::all_of(S.begin(), S.end(), [](const auto& W) { return W == "SDC 60\r"; }));
}

TEST_F(YlrDriver, DebugModeLogsTraffic) {
  Cfg.YLR.DebugMode = true;
  Make();
  Drv->SetQCWMode(false);
  Drv->LockComm();
  Drv->SendCmd("RSN");
  Drv->AnalyzeResponse("STA: 5\rST");
  Drv->UnlockComm();
  EXPECT_GE(LinesWith("PC->Laser:RSN\r"), 1);
  EXPECT_GE(LinesWith("Response      = STA: 5#13ST"), 1);
  EXPECT_GE(LinesWith("Response Buf2 = ST"), 1);
  EXPECT_GE(LinesWith("IPG>>\"STA: 5\", param=\"5\""), 1);
  EXPECT_GE(LinesWith("IPG QCWMode=0, AlarmBits=6308000A, Status=       5, HasAlarm=0"), 1);
}

TEST_F(YlrDriver, LostLinkReportsArePaced) {
  Link->With([](TFakeLink& L) { L.CanOpen = false; });
  Cfg.YLR.ConnCheck.ConnCheckTimeStart = 0.002; // 172.8 ms
  Cfg.YLR.ConnCheck.ConnCheckTimeIntv = 0.01;   // 864 ms
  const double T0 = NowMs();
  Make();
  ASSERT_TRUE(Host->App.WaitForLine(SLaserConnectedFail.Get(), 2000));
  const double First = ElapsedMs(T0);
  EXPECT_GT(First, 172.0);
  EXPECT_LT(First, 600.0);
  Sleep(500);
  EXPECT_EQ(LinesWith(SLaserConnectedFail.Get()), 1);
  const double T1 = NowMs();
  while (LinesWith(SLaserConnectedFail.Get()) < 2 && ElapsedMs(T1) < 2000) {
    Sleep(5);
  }
  const double Second = ElapsedMs(T0);
  EXPECT_EQ(LinesWith(SLaserConnectedFail.Get()), 2);
  EXPECT_GT(Second - First, 864.0);
  EXPECT_LT(Second - First, 1300.0);
  const auto Lines = Host->App.Lines();
  for (const auto& L : Lines) {
    if (L.Text == SLaserConnectedFail.Get()) {
      EXPECT_EQ(L.MessageType, mtProminent);
    }
  }
}

TEST_F(YlrDriver, DefaultFirstReportWithinASecondThenNotForDays) {
  Link->With([](TFakeLink& L) { L.CanOpen = false; });
  const double T0 = NowMs();
  Make();
  ASSERT_TRUE(Host->App.WaitForLine(SLaserConnectedFail.Get(), 1500));
  EXPECT_GT(ElapsedMs(T0), 864.0);
  Sleep(300);
  EXPECT_EQ(LinesWith(SLaserConnectedFail.Get()), 1);
}

TEST_F(YlrDriver, DestroyStopsTheMonitorPromptly) {
  Answer();
  Make();
  Sleep(150);
  const double T0 = NowMs();
  Drv.reset();
  EXPECT_LT(ElapsedMs(T0), 200.0);
  const std::size_t N = Link->WritesCopy().size();
  Sleep(150);
  EXPECT_EQ(Link->WritesCopy().size(), N); // nothing runs after
}

// Where the host may not send ICMP, the ping knocks on a TCP port. A firewall in front of the
// laser that silently drops the echo port must not keep the link down: the driver has the
// knock go to the laser's own port, unless the host's configuration names another (here
// the dropped one, which proves the drop is real).
class YlrTcpKnock : public ::testing::TestWithParam<int> {};

TEST_P(YlrTcpKnock, LinkComesUpUnlessTheKnockGoesToTheDroppedEchoPort) {
  const int Configured = GetParam();
  const std::string Address = Configured == 0 ? "127.0.9.7" : "127.0.9.8";
  class TKnockOnly : public TCommFactory {
  public:
    explicit TKnockOnly(int Port) : FInner(nullptr, nullptr, Port), FPort(Port) {}
    std::unique_ptr<TCommCtrl> NewCommCtrl() override { return nullptr; }
    std::unique_ptr<TKdTcpClient> NewTcpClient() override { return FInner.NewTcpClient(); }
    std::unique_ptr<TIcmpClient> NewIcmpClient() override {
      return std::make_unique<hostkit::TPingClient>(
          hostkit::NewPingProber(hostkit::TPingMethod::TcpProbe), nullptr, FPort);
    }

  private:
    hostkit::TLinuxCommFactory FInner;
    int FPort;
  };
  hostkit::THost H;
  H.Comm = std::make_unique<TKnockOnly>(Configured);
  H.Install();
  const testing::TTcpListener Laser(Address, 10001);
  std::unique_ptr<testing::TTcpListener> Echo;
  try {
    Echo = std::make_unique<testing::TTcpListener>(Address, 7, 0);
  } catch (const std::exception& E) {
    GTEST_SKIP() << "cannot listen on the echo port here: " << E.what();
  }
  testing::TBacklogFiller Filler;
  ASSERT_TRUE(Filler.Fill(Address, 7)); // handshakes to port 7 now go unanswered
  TIPGLaserParams Cfg{};
  Cfg.Initialize();
  Cfg.IPGType = ltYLRNet;
  Utf8ToTextBuf(Address, Cfg.YLR.Net.TcpHost);
  TIPGYLRDriver Drv(nullptr, Cfg);
  bool Up = false;
  const double T0 = NowMs();
  while (!Up && ElapsedMs(T0) < 1500) {
    Up = Drv.CheckConnection();
    Sleep(Up ? 0 : 20);
  }
  EXPECT_EQ(Up, Configured != 7);
}

INSTANTIATE_TEST_SUITE_P(ConfiguredPort, YlrTcpKnock, ::testing::Values(0, 7));

} // namespace
} // namespace nclaser
