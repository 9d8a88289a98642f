// The text-protocol lasers (Mars, NLight, CAS, QingHua) over a real serial port on a pty
// against their simulator models: what reaches the wire and when, what the answers do,
// what the debug flag logs, the link faults, and tear-down.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "lasers/castext.h"
#include "lasers/mars.h"
#include "lasers/nlight.h"
#include "sim/castext/castext_model.h"
#include "sim/mars/mars_model.h"
#include "sim/nlight/nlight_model.h"
#include "sim/table.h"
#include "tests/support/sim_link_test.h"

namespace nclaser {
namespace {

using testing::Until;

using Texts = std::vector<std::string>;

struct TMake {
  const char* Rig; // in the simulator table
  int PauseMs;     // the thread's pause after each write
  Texts Polls;     // what the thread sends by itself
};

const TMake Mars{"mars", 200, {"?STATUS\r\n", "?IMAXUSR\r\n"}};
const TMake NLight{"nlight", 200, {"get maxpower\r"}};
const TMake CAS{"cas", 30, {}};
const TMake QingHua{"qinghua", 200, {}};

class TextEndToEnd : public testing::SimLinkTest<sim::TSimEndpoint> {
protected:
  TNcLaser& Start(const TMake& M, double DiodeCurrent = 0.0, sim::TSimOptions O = {},
                  bool Debug = false) {
    Make = M;
    UseRig(M.Rig);
    Plug(sim::StartRig(*Rig, false, "", O));
    TLaserParams P = testing::TextLaserParams(M.Rig, 1, DiodeCurrent, Debug);
    P.CfgCAS.Comm.IgnoreCommResult = false; // CAS asks for its set point when read
    return Adopt(NewRigLaser(P));
  }
  template <class T> T& As() { return static_cast<T&>(*Laser); }
  // The thread's own polls.
  bool IsPoll(const Bytes& B) const override {
    return std::find(Make.Polls.begin(), Make.Polls.end(), std::string(B.begin(), B.end())) !=
           Make.Polls.end();
  }
  Texts CommandTexts() const {
    Texts Out;
    for (const auto& C : Commands(Sim->Requests())) {
      Out.emplace_back(C.begin(), C.end());
    }
    return Out;
  }
  TMake Make = Mars;
};

TEST_F(TextEndToEnd, CommandsReachTheWireInQueueOrderWithTheirPausesAndAreLogged) {
  struct Row {
    TMake M;
    double Diode;
    std::function<void(TNcLaser&)> Ops;
    Texts Want;
    Texts Logged; // with the debug flag
  };
  const std::vector<Row> Rows = {
      {Mars,
       40.0,
       [](TNcLaser& L) {
         L.EmissionOn();
         L.SetAimingOn(true);
       },
       {"OPMD=DGC\r\n", "ISETMODE=P\r\n", "ENABLE=100\r\n", "OUT=002800000000\r\n",
        "OUT=002800000000\r\n", "ENABLE=1FF\r\n", "PILOT_EN=1\r\n"},
       {"Mars thread started", "Send Data: OPMD=DGC\r\n"}},
      {CAS,
       40.0,
       [this](TNcLaser& L) {
         L.LaserOn();
         L.LaserOn(); // emission is on already: nothing more
         L.SetAimingOn(true);
         L.SetDiodeCurrent(67.5);
         EXPECT_DOUBLE_EQ(static_cast<TCASLaser&>(L).GetDiodeCustom(), 67.5);
         EXPECT_TRUE(WaitCommands(5)); // LaserOff takes back an EMIS:1 still queued
         L.LaserOff();
       },
       {"EMIS:1\r", "SCUS:40\r", "GUID:1\r", "SCUS:68\r", "RCUS:\r", "EMIS:0\r"},
       // The echoes are only logged, as bytes.
       {"Open serial port successfully", "CAS thread started", "Rev Data: 45 4D 49 53 3A 31 0D"}},
      {QingHua,
       0.0,
       [this](TNcLaser& L) {
         L.LaserOn();
         L.SetDiodeCurrent(80.0);
         L.SetDiodeCurrent(100.0);
         EXPECT_TRUE(WaitCommands(5)); // LaserOff takes back a "w60 1" still queued
         L.LaserOff();
       },
       {"w60 1\r\n", "w65 0\r\n", "w61 80\r\n", "w65 0\r\n", "w61 100\r\n", "w60 0\r\n"},
       {"Open serial port successfully!", "QingHua thread start"}},
  };
  for (const auto& R : Rows) {
    SCOPED_TRACE(R.M.Rig);
    Host->App.ClearLines();
    WriteLog->Clear();
    TNcLaser& L = Start(R.M, R.Diode, {}, true);
    R.Ops(L);
    ASSERT_TRUE(WaitCommands(R.Want.size(), 6000));
    EXPECT_EQ(CommandTexts(), R.Want);
    // Every write, polls included, keeps the pause after the one before, on the laser's own
    // clock (a pause is a sleep: it never ends early).
    const auto All = WriteLog->Writes();
    EXPECT_GE(All.size(), R.Want.size());
    for (size_t I = 1; I < All.size(); ++I) {
      EXPECT_GE(All[I].TimeMs - All[I - 1].TimeMs, R.M.PauseMs - 1.0) << I;
    }
    for (const auto& T : R.Logged) {
      EXPECT_TRUE(Host->App.WaitForLine(T, 3000)) << T;
    }
    Stop();
  }
}

TEST_F(TextEndToEnd, NLightSwitchesTheSystemBeforeTheEnableAndConnectsOnItsMaximum) {
  TNcLaser& L = Start(NLight, 0.0, {{"maxpower", "8"}}, true);
  auto& N = As<TNLightLaser>();
  // 8 W is no proof of a link: the thread goes on asking.
  ASSERT_TRUE(WaitCount("get maxpower\r", 3));
  EXPECT_DOUBLE_EQ(N.GetMaxPower(), 8.0);
  EXPECT_FALSE(N.Connected());
  Sim->With<sim::TNLightModel>([](auto& M) { M.SetMaxPower(1500.0); });
  ASSERT_TRUE(Until([&] { return N.Connected(); }, 3000));
  EXPECT_DOUBLE_EQ(N.GetMaxPower(), 1500.0);
  const int Asked = Count("get maxpower\r");
  // Every read is logged, the empty ones of each cycle too; a maximum that comes unasked
  // later is still taken.
  EXPECT_EQ(Host->App.CountContaining("Recv Data: 1500.0\r\n"), 1);
  const auto EmptyReads = [&] {
    const auto Lines = Host->App.Lines();
    return std::count_if(Lines.begin(), Lines.end(),
                         [](const auto& X) { return X.Text == "Recv Data: "; });
  };
  EXPECT_TRUE(Until([&] { return EmptyReads() > 3; }, 3000));
  const std::string Unasked = "2000\r\n";
  Sim->SendRaw({reinterpret_cast<const std::uint8_t*>(Unasked.data()), Unasked.size()});
  ASSERT_TRUE(Until([&] { return N.GetMaxPower() == 2000.0; }, 3000));

  const double T0 = NowMs();
  L.EmissionOn();
  EXPECT_GE(ElapsedMs(T0), 3490.0);
  L.SetAimingOn(true);
  L.EmissionOff();
  ASSERT_TRUE(WaitCommands(5, 6000));
  EXPECT_EQ(CommandTexts(), (Texts{"set syson 1\r", "set enable 1\r", "set aimingon 1\r",
                                   "set enable 0\r", "set syson 0\r"}));
  const auto C = CommandRequests(Sim->Requests());
  EXPECT_GE(C[1].TimeMs - C[0].TimeMs, 2950.0); // each waited up to a cycle in the queue
  EXPECT_GE(C[4].TimeMs - C[3].TimeMs, 170.0);
  EXPECT_EQ(Count("get maxpower\r"), Asked);
  EXPECT_EQ(Connected(), 1);
}

TEST_F(TextEndToEnd, MarsFixesTheFormatOnTheFirstStatusAndNamesTheLastAlarmBitSet) {
  struct Step {
    std::uint64_t Word;
    std::string Alarm; // empty: none
    int Format = 0;    // nonzero: the laser answers in this format from now on
  };
  struct Row {
    const char* Format;
    TMarsLaser::TVersion Version;
    std::vector<Step> Steps;
    Texts Logged; // with the debug flag
  };
  const auto Bit = [](int N) { return std::uint64_t{1} << N; };
  const Row Rows[] = {
      {"101",
       TMarsLaser::TVersion::Ver101,
       {{Bit(27), SV101Err.Get()},
        {Bit(31) | Bit(27) | Bit(16), SV101ServerTimeOut.Get()},
        {Bit(16), SV101CurrentErr.Get()},
        {0, ""}},
       {"PwrStr = 2710", "MaxPower = 1000", "STATUS = 08000000",
        "STATUS = 00 08 00 00 00 00 00 00 ", "Send Data: ?STATUS\r\n"}},
      {"102",
       TMarsLaser::TVersion::Ver102,
       {{Bit(63), SV102ServerTimeOut.Get()},
        {Bit(53), SV102InterLockErr.Get()},
        // 8 digits now, still read with the 16-digit table: bit 27 is the broken line.
        {Bit(27), SV102BreakLineErr.Get(), 101},
        {0, ""}},
       {"STATUS = 8000000000000000"}},
  };
  for (const auto& R : Rows) {
    SCOPED_TRACE(R.Format);
    Host->App.ClearLines();
    TNcLaser& L = Start(Mars, 50.0, {{"format", R.Format}, {"maxpower", "1000"}}, true);
    auto& M = As<TMarsLaser>();
    ASSERT_TRUE(Until([&] { return M.Connected() && M.GetVersion() == R.Version; }, 5000));
    // The set point follows the reported maximum from then on, and the maximum is no
    // longer asked for.
    L.SetDiodeCurrent(60.0);
    ASSERT_TRUE(WaitCount("OUT=177000000000\r\n", 1));
    const int Asked = Count("?IMAXUSR\r\n");
    ASSERT_TRUE(WaitCount("?STATUS\r\n", Count("?STATUS\r\n") + 3));
    EXPECT_EQ(Count("?IMAXUSR\r\n"), Asked);
    EXPECT_EQ(Connected(), 1);
    for (const auto& S : R.Steps) {
      SCOPED_TRACE(S.Alarm);
      Sim->With<sim::TMarsModel>([&](auto& X) {
        X.SetFormat(S.Format != 0 ? S.Format : X.Format());
        X.SetStatusWord(S.Word);
      });
      ASSERT_TRUE(Until(
          [&] {
            L.UpdateAlarms();
            return Host->Alarms.Count() == (S.Alarm.empty() ? 0U : 1U) &&
                   L.GetAlarmDesc() == "RerId" + SLaserAlarm.Get() + " Des: " + S.Alarm;
          },
          5000));
      if (!S.Alarm.empty()) {
        EXPECT_EQ(Host->Alarms.Active().at(0).Desc, L.GetAlarmDesc());
      }
    }
    EXPECT_EQ(M.GetVersion(), R.Version);
    for (const auto& T : R.Logged) {
      EXPECT_GE(Host->App.CountContaining(T), 1) << T;
    }
    Stop();
  }
}

TEST_F(TextEndToEnd, MarsSurvivesBadLinesAndReadsTheStatusAgainAfterwards) {
  Start(Mars);
  auto& M = As<TMarsLaser>();
  ASSERT_TRUE(Until([&] { return M.GetVersion() == TMarsLaser::TVersion::Ver101; }, 5000));
  struct Fault {
    const char* Name;
    std::function<void(bool)> Set;
    bool Blocks; // false: the answers still get through
  };
  const std::vector<Fault> Faults = {
      {"silence", [&](bool On) { Sim->SetSilent(On); }, true},
      {"garbage", [&](bool On) { Sim->SetGarbage(On); }, true},
      {"garbled lines",
       [&](bool On) { Sim->With<sim::TMarsModel>([&](auto& S) { S.SetGarbledLines(On); }); }, true},
      // Pieces 5 ms apart are whole again by the time the thread reads, after its pause.
      {"split lines", [&](bool On) { Sim->SetSplit(On ? 3 : 0, 5); }, false},
  };
  for (const auto& F : Faults) {
    SCOPED_TRACE(F.Name);
    F.Set(true);
    Sim->With<sim::TMarsModel>([](auto& S) { S.SetAlarmBit(28, true); });
    if (F.Blocks) {
      const int Polled = Count("?STATUS\r\n");
      ASSERT_TRUE(WaitCount("?STATUS\r\n", Polled + 4));
      M.UpdateAlarms();
      EXPECT_EQ(Host->Alarms.Count(), 0U); // the warning bit never got through
      F.Set(false);
    }
    ASSERT_TRUE(AlarmsBecome(1));
    Sim->With<sim::TMarsModel>([](auto& S) { S.SetAlarmBit(28, false); });
    ASSERT_TRUE(AlarmsBecome(0));
    F.Set(false);
  }
  EXPECT_EQ(M.GetVersion(), TMarsLaser::TVersion::Ver101);
}

TEST_F(TextEndToEnd, AnUnpluggedPortIsReopenedAndTearDownIsPromptAndQuiet) {
  // A command of each make that goes out at once, switched on and off.
  struct TSwitch {
    TMake M;
    std::function<void(TNcLaser&, bool)> Op;
    std::string On, Off;
  };
  const auto Aim = [](TNcLaser& L, bool On) { L.SetAimingOn(On); };
  const TSwitch Switches[] = {
      {Mars, Aim, "PILOT_EN=1\r\n", "PILOT_EN=0\r\n"},
      {NLight, Aim, "set aimingon 1\r", "set aimingon 0\r"},
      {CAS, Aim, "GUID:1\r", "GUID:0\r"},
      {QingHua, [](TNcLaser& L, bool On) { On ? L.LaserOn() : L.LaserOff(); }, "w60 1\r\n",
       "w60 0\r\n"},
  };
  for (const auto& R : Switches) {
    SCOPED_TRACE(R.M.Rig);
    TNcLaser& L = Start(R.M);
    R.Op(L, true);
    ASSERT_TRUE(WaitCount(R.On, 1));
    Sim->Unplug();
    Sleep(100);
    R.Op(L, false);
    Sleep(300);
    EXPECT_EQ(Count(R.Off), 0);
    Sim->Replug();
    ASSERT_TRUE(WaitCount(R.Off, 1, 3000));
    TearDownQuietly(1000.0, 400);
    Sim->Stop();
  }
}

} // namespace
} // namespace nclaser
