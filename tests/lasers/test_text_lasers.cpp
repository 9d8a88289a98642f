// The text-protocol lasers (Mars, NLight, CAS, QingHua) on a scripted serial line: what
// each queues, how the answers turn into state, alarms and log lines. The wire rhythm
// over a real pty is in tests/e2e/test_text_e2e.cpp.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/clock.h"
#include "lasers/castext.h"
#include "lasers/factory.h"
#include "lasers/mars.h"
#include "lasers/nlight.h"
#include "strings/messages.h"
#include "tests/support/fake_comm_test.h"
#include "tests/support/text_params.h"

namespace nclaser {
namespace {

using testing::TBytes;

TBytes B(const std::string& S) {
  return {S.begin(), S.end()};
}

TLaserParams CommParams(TEnumLaserType Type, int Port, bool Debug = false) {
  return testing::TextLaserParams(Type, Port, 40.0, Debug);
}

class TextLaserTest : public testing::FakeCommTest {
protected:
  void SetUp() override {
    FakeCommTest::SetUp();
    // Set once: the port's thread calls it.
    Line->Responder = [this](const TBytes& W) {
      std::string A;
      {
        std::lock_guard<std::mutex> L(AnswersLock);
        const auto It = Answers.find(std::string(W.begin(), W.end()));
        if (It != Answers.end()) {
          A = It->second;
        }
      }
      if (!A.empty()) {
        Line->Feed(B(A));
      }
    };
  }
  void TearDown() override {
    Laser.reset();
    FakeCommTest::TearDown();
  }
  template <class T> T& Make(TEnumLaserType Type, int Port = 1, bool Debug = false) {
    Laser = NewLaser<T>(nullptr, CommParams(Type, Port, Debug));
    Laser->RegisterAlarms();
    return static_cast<T&>(*Laser);
  }
  std::vector<std::string> Texts() const {
    std::vector<std::string> Out;
    for (const auto& W : Line->Writes()) {
      Out.emplace_back(W.Bytes.begin(), W.Bytes.end());
    }
    return Out;
  }
  int Count(const std::string& Text) const {
    int N = 0;
    for (const auto& T : Texts()) {
      N += T == Text ? 1 : 0;
    }
    return N;
  }
  // Waits until Text has gone out N times.
  bool WaitSent(const std::string& Text, int N = 1, int TimeoutMs = 3000) {
    return Line->WaitFor([&] { return Count(Text) >= N; }, TimeoutMs);
  }
  // Answers Request with Answer from now on (an empty Answer: no more).
  void AnswerOn(const std::string& Request, const std::string& Answer) {
    std::lock_guard<std::mutex> L(AnswersLock);
    Answers[Request] = Answer;
  }
  void ClearAnswers() {
    std::lock_guard<std::mutex> L(AnswersLock);
    Answers.clear();
  }

  std::mutex AnswersLock;
  std::map<std::string, std::string> Answers;
  TNcLaserPtr Laser;
};

TEST_F(TextLaserTest, WithoutAPortOnlyFlagsChangeAndTheAnalogOutputCarriesThePower) {
  {
    auto& L = Make<TMarsLaser>(eltMars, 0);
    EXPECT_FALSE(L.HasCommThread());
    EXPECT_DOUBLE_EQ(L.GetMaxPower(), 0.0);
    EXPECT_DOUBLE_EQ(Host->IO.GetDA(0), 4.0);
    EXPECT_FALSE(L.SetDiodeCustom(70.0));
    EXPECT_DOUBLE_EQ(L.GetDiodeCustom(), 70.0);
    L.EmissionOn();
    L.SetAimingOn(true);
    EXPECT_TRUE(L.GetIsEmissionOn());
    EXPECT_TRUE(L.GetIsAimingOn());
  }
  {
    auto& L = Make<TNLightLaser>(CfgNLight, 0);
    const double T0 = NowMs();
    L.EmissionOn(); // no waits without a port
    EXPECT_LT(ElapsedMs(T0), 1000.0);
    EXPECT_TRUE(L.GetIsEmissionOn());
    EXPECT_TRUE(L.SetDiodeCustom(50.0)); // the analog output is NLight's own path
    EXPECT_DOUBLE_EQ(Host->IO.GetDA(0), 5.0);
  }
  {
    auto& L = Make<TCASLaser>(eltCAS, 0);
    EXPECT_FALSE(L.SetDiodeCustom(150.0));
    EXPECT_DOUBLE_EQ(L.GetDiodeCustom(), 150.0);
    L.SetDiodeCurrent(70.0);
    EXPECT_DOUBLE_EQ(Host->IO.GetDA(0), 7.0);
  }
  {
    auto& L = Make<TQingHuaLaser>(eltQingHua, 0);
    L.LaserOn();
    EXPECT_TRUE(L.GetIsLaserOn());
    L.LaserOff();
    EXPECT_FALSE(L.GetIsLaserOn());
    EXPECT_FALSE(L.SetDiodeCustom(80.0));
  }
  Laser.reset();
  EXPECT_EQ(Line->PortsAlive(), 0);
  EXPECT_TRUE(Line->Writes().empty());
}

TEST_F(TextLaserTest, MarsStatusFormatAndAlarms) {
  struct Row {
    std::vector<std::string> Answers; // status answers, in order
    TMarsLaser::TVersion Version;
    std::string Alarm; // empty: no alarm
  };
  const std::vector<Row> Rows = {
      {{"STATUS=08000000\r\n"}, TMarsLaser::TVersion::Ver101, SV101Err.Get()},
      {{"STATUS=0000000000000000\r\n"}, TMarsLaser::TVersion::Ver102, ""},
      {{"STATUS=88010000\r\n"}, TMarsLaser::TVersion::Ver101, SV101ServerTimeOut.Get()},
      {{"STATUS=00010000\r\n"}, TMarsLaser::TVersion::Ver101, SV101CurrentErr.Get()},
      {{"STATUS=0A000000\r\n"}, TMarsLaser::TVersion::Ver101, SV101Err.Get()},
      {{"STATUS=0020000000000000\r\n"}, TMarsLaser::TVersion::Ver102, SV102InterLockErr.Get()},
      // The first answer fixes the format: a later 8-digit word is read with the 16-digit
      // table, where bit 27 is the broken line.
      {{"STATUS=0000000000000000\r\n", "STATUS=08000000\r\n"},
       TMarsLaser::TVersion::Ver102,
       SV102BreakLineErr.Get()},
      // Not status words: nothing changes.
      {{"STATUS=0800000\r\n", "STATUS=08Z00000\r\n"}, TMarsLaser::TVersion::VerN, ""},
  };
  for (const auto& R : Rows) {
    SCOPED_TRACE(R.Answers.back());
    ClearAnswers();
    auto& L = Make<TMarsLaser>(eltMars);
    for (const auto& A : R.Answers) {
      Line->Feed(B(A));
    }
    // Chunks are read in order: once this one is taken, so are the answers.
    Line->Feed(B("PMAX_CW=00C8\r\n"));
    ASSERT_TRUE(Line->WaitFor([&] { return L.GetMaxPower() == 20.0; }, 3000));
    EXPECT_EQ(L.GetVersion(), R.Version);
    L.UpdateAlarms();
    EXPECT_EQ(Host->Alarms.IsActive(L.GetAlarmID()), !R.Alarm.empty());
    EXPECT_EQ(L.GetAlarmDesc(), "RerId" + SLaserAlarm.Get() + " Des: " + R.Alarm);
    if (!R.Alarm.empty()) {
      // The bit clears: so does the alarm, at the next poll.
      Line->Feed(B(R.Version == TMarsLaser::TVersion::Ver101 ? "STATUS=00000000\r\n"
                                                             : "STATUS=0000000000000000\r\n"));
      ASSERT_TRUE(Line->WaitFor(
          [&] {
            return L.GetLaserState() == std::vector<std::uint8_t>(L.GetLaserState().size(), 0);
          },
          3000));
      L.UpdateAlarms();
      EXPECT_FALSE(Host->Alarms.IsActive(L.GetAlarmID()));
    }
    Laser.reset();
  }
}

TEST_F(TextLaserTest, MarsDebugLinesTellWhatWasParsed) {
  auto& L = Make<TMarsLaser>(eltMars, 1, true);
  Line->Feed(B("pmax_cw=03e8\r\n"));
  ASSERT_TRUE(Host->App.WaitForLine("MaxPower = 100", 3000));
  Line->Feed(B("STATUS=0A00000F\r\n"));
  ASSERT_TRUE(Host->App.WaitForLine("STATUS = 00 0A 00 00 00 00 00 0F ", 3000));
  EXPECT_EQ(Host->App.CountContaining("PwrStr = 03e8"), 1);
  EXPECT_EQ(Host->App.CountContaining("STATUS = 0A00000F"), 1);
  EXPECT_EQ(Host->App.CountContaining("Mars thread started"), 1);
  EXPECT_TRUE(Host->App.WaitForLine("Send Data: ?STATUS\r\n", 3000));
  // 100 W proves the link.
  EXPECT_TRUE(L.Connected());
}

TEST_F(TextLaserTest, NLightLogsEveryReadAndTakesEveryLaterMaximum) {
  auto& L = Make<TNLightLaser>(CfgNLight, 1, true);
  AnswerOn("get maxpower\r", "1500.0\r\n");
  ASSERT_TRUE(Line->WaitFor([&] { return L.Connected(); }, 3000));
  Line->Feed(B("2000\r\n")); // unasked, after the link is proven: taken silently
  ASSERT_TRUE(Line->WaitFor([&] { return L.GetMaxPower() == 2000.0; }, 3000));
  EXPECT_EQ(Host->App.CountContaining(SLaserConnectedOk.Get()), 1);
  EXPECT_EQ(Host->App.CountContaining("Recv Data: 1500.0\r\n"), 1);
  // Every cycle's empty read is logged too.
  const auto EmptyReads = [&] {
    int N = 0;
    for (const auto& Ln : Host->App.Lines()) {
      N += Ln.Text == "Recv Data: " ? 1 : 0;
    }
    return N;
  };
  EXPECT_TRUE(Line->WaitFor([&] { return EmptyReads() > 3; }, 3000));
}

TEST_F(TextLaserTest, NLightEmissionOffDuringEmissionOnsWaitKeepsTheEnableBack) {
  auto& L = Make<TNLightLaser>(CfgNLight);
  std::thread On([&] { L.EmissionOn(); });
  ASSERT_TRUE(WaitSent("set syson 1\r"));
  const double T0 = NowMs();
  L.EmissionOff();
  On.join();
  EXPECT_LT(ElapsedMs(T0), 2000.0); // the waiting EmissionOn gave up at once
  ASSERT_TRUE(WaitSent("set syson 0\r"));
  Sleep(300);
  EXPECT_EQ(Count("set enable 1\r"), 0);
  EXPECT_FALSE(L.GetIsEmissionOn());
}

TEST_F(TextLaserTest, CASLogsWhatItReadsAndStartsOnTheAnalogOutput) {
  Make<TCASLaser>(eltCAS, 1, true);
  // The configured set point went to the analog output: the thread did not exist yet.
  EXPECT_DOUBLE_EQ(Host->IO.GetDA(0), 4.0);
  Line->Feed(TBytes{0x4F, 0x4B, 0x0D});
  EXPECT_TRUE(Host->App.WaitForLine("Rev Data: 4F 4B 0D ", 3000));
  EXPECT_EQ(Host->App.CountContaining("Open serial port successfully"), 1);
  EXPECT_EQ(Host->App.CountContaining("CAS thread started"), 1);
  EXPECT_TRUE(Line->Writes().empty());
}

TEST_F(TextLaserTest, CASAsksForItsSetPointWhenAnswersCount) {
  TLaserParams P = CommParams(eltCAS, 1);
  P.CfgCAS.Comm.IgnoreCommResult = false;
  Laser = NewLaser<TCASLaser>(nullptr, P);
  auto& L = static_cast<TCASLaser&>(*Laser);
  L.SetDiodeCustom(30.0);
  EXPECT_DOUBLE_EQ(L.GetDiodeCustom(), 30.0);
  ASSERT_TRUE(WaitSent("RCUS:\r"));
  EXPECT_EQ(Texts(), (std::vector<std::string>{"SCUS:30\r", "RCUS:\r"}));
}

TEST_F(TextLaserTest, QingHuaWaitsBetweenModeAndPowerAndNeverReads) {
  auto& L = Make<TQingHuaLaser>(eltQingHua, 1, true);
  Line->Feed(B("ignored\r\n"));
  const double T0 = NowMs();
  EXPECT_TRUE(L.SetDiodeCustom(7.0));
  EXPECT_GE(ElapsedMs(T0), 99.0);
  ASSERT_TRUE(WaitSent("w61 07\r\n", 1, 5000));
  EXPECT_EQ(Line->PendingInput(), 1U); // still waiting there
  EXPECT_EQ(Host->App.CountContaining("Open serial port successfully!"), 1);
  EXPECT_EQ(Host->App.CountContaining("QingHua thread start"), 1);
  EXPECT_TRUE(Host->App.DebugLines().empty());
}

} // namespace
} // namespace nclaser
