// Every laser class takes a stop while another thread is inside its longest operation: the
// operation that blocks longest or starts a sequence runs on one thread, EmissionOff (or
// LaserOff, for the makes whose emission is LaserOn's) comes from this one while it runs,
// and from the moment the stop returned nothing switching emission or a power-on step on
// appears, on the wire (the simulator's stamped requests) or on the I/O timeline, and the
// operation returns within its own bound.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <numeric>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "lasers/factory.h"
#include "params/schema.h"
#include "params/textbuf.h"
#include "protocols/jk.h"
#include "protocols/raycus.h"
#include "protocols/spi.h"
#include "protocols/yls.h"
#include "sim/table.h"
#include "tests/lasers/io_laser_support.h"
#include "tests/support/serial_params.h"
#include "tests/support/sim_link_test.h"

namespace nclaser {
namespace {

using TOnTest = std::function<bool(const std::string&)>;

constexpr int KNoInput = 250; // the one input port this machine lacks

// What a switch-on looks like on the wire, by byte text.
TOnTest Starts(std::vector<std::string> Any) {
  return [Any](const std::string& S) {
    return std::any_of(Any.begin(), Any.end(),
                       [&](const std::string& P) { return S.starts_with(P); });
  };
}
// A binary frame whose function code at byte At is one of Codes and, when given, whose
// next byte is Data0.
TOnTest Code(std::size_t At, std::vector<int> Codes, int Data0 = -1) {
  return [=](const std::string& S) {
    return S.size() > At &&
           std::find(Codes.begin(), Codes.end(), static_cast<std::uint8_t>(S[At])) != Codes.end() &&
           (Data0 < 0 || (S.size() > At + 1 && static_cast<std::uint8_t>(S[At + 1]) == Data0));
  };
}
TOnTest YlsOn() {
  const yls::TCrc16 Crc;
  auto Frame = [&](std::uint16_t C, std::uint16_t V) {
    const auto B = yls::BuildRequest(Crc, C, yls::Word16(V));
    return std::string(B.begin(), B.end());
  };
  return [On = Frame(yls::cmdEmission, yls::EmissionOnValue),
          Supply = Frame(yls::cmdPowerSupply, 1)](const std::string& S) {
    return S == On || S == Supply;
  };
}

struct TRow {
  const char* Class;
  const char* Sim;                   // the simulator rig; nullptr: the machine I/O is the laser
  std::function<void(TNcLaser&)> Op; // the operation under test
  int StopAfterMs;                   // when the stop comes after Op began; 0: once it returned
  bool StopWithLaserOff;             // the make's emission is LaserOn's
  double OpBoundMs;                  // Op returns within this of the stop
  TOnTest On;                        // a switch-on request; on the I/O: any output that rises
  int SimDelayMs = 0;                // the simulator answers this late: exchanges take a while
};

// The configuration of Class: its rig's record on Link where it has a simulator, the host's
// defaults otherwise; then the ports and waits this test needs.
TLaserParams ParamsOf(const std::string& Class, const char* Rig, const sim::TRigLink& Link) {
  const TLaserClassInfo* Info = FindLaserClass(Class);
  TLaserParams P;
  if (Rig != nullptr) {
    P = sim::RigParams(*sim::FindRig(Rig), Link);
  } else {
    InitializeHostDefaults(P, Info->LaserType);
  }
  P.DefParams.Model = Class == "TSPILaser" ? "SPI-500" : "TXT-1000";
  P.DefParams.PWM.DiodeCurrent = 40.0;
  if (Info->LaserType == eltRay) {
    P = testing::RaycusLaserParams(Rig, "Raycus", Class == "TRaycusLaser" ? "" : "QCW", 1, 40.0);
  }
  P.DefParams.CtrlPort = 3;
  if (Class == "TDefaultLaser") {
    P.CfgOther = {.ShutterReadyDelay = 500, .ShutterReady = 20};
  } else if (Class == "TRofinLaser") {
    P.CfgRofin.Initialize();
    P.CfgRofin.MainsOn = 30;
    P.CfgRofin.FaultReset = 31;
    P.CfgRofin.StandbyOn = 32;
    P.CfgRofin.DelayAfterMainsOn = 200;
    P.CfgRofin.DelayAfterReset = 100;
    P.CfgRofin.DelayAfterStandby = 150;
  } else if (Class == "TCO2Laser") {
    P.CfgCO2.Initialize();
    P.CfgCO2.ShutterPort = 10;
    P.CfgCO2.ShutterStatus = KNoInput;
    P.CfgCO2.ShutterDelay = 600;
  } else if (Class == "TSPI1000Laser") {
    P.DefParams.Model = "SPI-1000";
  } else if (std::string(Info->ConfigMember()) == "CfgIPG") {
    P.CfgIPG.IPGType = Class == "TIPG500Laser"    ? ltYLRNet
                       : Class == "TIPGYLSLaser"  ? ltYLSGemNet
                       : Class == "TIPG1000Laser" ? ltYLSGemHW
                                                  : ltYLP;
    P.CfgIPG.PowerCtrlPort = 4; // the YLR's EmissionOn starts its power-on thread
    P.CfgIPG.MaxCurrent = 100.0;
    P.CfgIPG.YLS.Wire = {.EmissionStatusPort = KNoInput, // the program start is the emission
                         .LaserOnPort = 6,
                         .LaserRequestPort = 7,
                         .ProgramStartPort = 8,
                         .LaserRequestDelay = 100,
                         .LaserOnDelay = 500,
                         .LaserOnPulse = 300};
    P.CfgIPG.YLP.YLPMO = 12;
    P.CfgIPG.YLP.YLPIndependentEmsOn = true;
  }
  return P;
}

void EmissionOn(TNcLaser& L) {
  L.EmissionOn();
}
void LaserOn(TNcLaser& L) {
  L.LaserOn();
}
constexpr bool Emission = false;
constexpr bool Laser = true;

// clang-format off
const std::vector<TRow>& Rows() {
  static const std::vector<TRow> R = {
      // The I/O lasers: sequences on their own thread, a shutter delay, plain outputs.
      {"TDefaultLaser", nullptr, EmissionOn, 200, Emission, 100, {}},
      {"TRofinLaser", nullptr, EmissionOn, 250, Emission, 100, {}},
      {"TIPG1000Laser", nullptr, EmissionOn, 250, Emission, 100, {}},
      {"TCO2Laser", nullptr, EmissionOn, 200, Emission, 600, {}},
      {"TYAGLaser", nullptr, LaserOn, 0, Laser, 100, {}},
      {"TMaxLaser", nullptr, EmissionOn, 0, Emission, 100, {}},
      {"TLPINGLaser", nullptr, LaserOn, 0, Laser, 100, {}},
      {"TOpticalValleyLaser", nullptr, EmissionOn, 0, Emission, 100, {}},
      {"TMeimanLaser", nullptr, LaserOn, 0, Laser, 100, {}},
      {"TIPGYLPLaser", nullptr, EmissionOn, 0, Emission, 100, {}},
      // The serial makes: commands queued for their thread, NLight's waits in EmissionOn.
      {"TNLightLaser", "nlight", EmissionOn, 1400, Emission, 100, Starts({"set enable 1", "set syson 1"})},
      {"TNLightLaser", "nlight", EmissionOn, 3250, Emission, 100, Starts({"set enable 1"})}, // its last wait
      {"TCASLaser", "cas", EmissionOn, 0, Emission, 100, Starts({"EMIS:1"})},
      {"TQingHuaLaser", "qinghua", LaserOn, 0, Laser, 100, Starts({"w60 1"})},
      {"TMarsLaser", "mars", EmissionOn, 0, Emission, 100, Starts({"ENABLE=1FF"})},
      {"TJKLaser", "jk", EmissionOn, 0, Emission, 100, Code(2, {jk::fcEmission})},
      {"TRaycusLaser", "raycus", EmissionOn, 0, Emission, 100, Starts({"\x1bO"})},
      {"TRayQCWLaser", "raycus-qcw", LaserOn, 30, Laser, 500, Code(6, {raycus::cmdLaserOn}), 100},
      {"TSPILaser", "spi", EmissionOn, 0, Emission, 100, Code(2, {spi::cmdEmissionStart, spi::cmdEmissionOn})},
      {"TSPI1000Laser", "spi1000", EmissionOn, 0, Emission, 100, Code(2, {spi::cmd1000Emission}, 0x01)},
      // The IPG network lasers. YLR: EmissionOn's exchanges take 80 ms each, its power-on
      // thread waits 1.2 s. YLS: a sequence of exchanges and pauses.
      {"TIPG500Laser", "ylr", EmissionOn, 150, Emission, 600, Starts({"EMON"}), 80},
      {"TIPGYLSLaser", "yls", EmissionOn, 500, Emission, 300, YlsOn()},
  };
  return R;
}
// clang-format on

// Row R's laser on a fresh host: against its rig's simulator (on a pty, or over TCP at
// Address) or on the machine I/O, every input but one present.
class RigLaserTest : public testing::HostTest {
protected:
  TNcLaserPtr Start(const TRow& R, const std::string& Address) {
    std::vector<int> Inputs(KNoInput);
    std::iota(Inputs.begin(), Inputs.end(), 0);
    Host->IO.SetInputsExist(Inputs);
    sim::TRigLink Link;
    const sim::TSimRig* Rig = R.Sim != nullptr ? sim::FindRig(R.Sim) : nullptr;
    const bool Tcp = Rig != nullptr && !sim::RigFamily(*Rig).TcpAddress.empty(); // ylr, yls
    if (Rig != nullptr) {
      Sim = sim::StartRig(*Rig, Tcp, Tcp ? Address : "");
      Link = sim::LinkTo(*Sim);
      if (!Tcp) {
        Host->SerialPorts->Set(1, Sim->DevicePath());
      }
      Host->Comm = std::make_unique<testing::TSimCommFactory>(Host->SerialPorts,
                                                              [S = Sim.get()] { return S; });
      CommFactory = Host->Comm.get();
    }
    TNcLaserPtr L = FindLaserClass(R.Class)->Factory(nullptr, ParamsOf(R.Class, R.Sim, Link));
    if (Sim) {
      Sleep(Tcp ? 1000 : 600); // the link is up and the start-up traffic is over
    }
    return L;
  }
  void TearDown() override {
    if (Sim) {
      Sim->Stop();
    }
    testing::HostTest::TearDown();
  }
  std::unique_ptr<sim::TSimEndpoint> Sim;
};

std::set<std::string> AllClasses() {
  std::set<std::string> All;
  for (const auto& C : LaserClasses()) {
    All.insert(C.Name);
  }
  return All;
}

class ConcurrentStop : public RigLaserTest {};

TEST_F(ConcurrentStop, EveryClassTakesAStopDuringItsLongestOperation) {
  std::set<std::string> Covered;
  for (const TRow& R : Rows()) {
    SCOPED_TRACE(R.Class);
    ASSERT_NE(FindLaserClass(R.Class), nullptr);
    Covered.insert(R.Class);
    TNcLaserPtr L = Start(R, sim::LoopbackAddress(33)); // of this process: runs never meet
    if (Sim) {
      Sim->SetDelay(R.SimDelayMs);
    }
    std::atomic<double> OpStart{0.0};
    std::atomic<double> OpEnd{0.0};
    std::thread Op([&] {
      OpStart = NowMs();
      R.Op(*L);
      OpEnd = NowMs();
    });
    // 0: the operation has returned and left its commands queued for the port.
    while ((R.StopAfterMs == 0 ? OpEnd : OpStart) == 0.0) {
      std::this_thread::yield();
    }
    Sleep(R.StopAfterMs);
    const double StopStart = NowMs();
    R.StopWithLaserOff ? L->LaserOff() : L->EmissionOff();
    const double Stopped = NowMs();
    Op.join();
    EXPECT_LT(OpEnd - std::max(StopStart, OpStart.load()), R.OpBoundMs + testing::KLateMs);
    EXPECT_LT(Stopped - StopStart, 1000.0) << "the stop itself waited";
    EXPECT_FALSE(L->GetIsEmissionOn()) << "the stopped laser still reports emission";
    Sleep(R.Sim != nullptr ? 1500 : 700); // long enough for a cut sequence to show
    int Seen = 0; // the laser was live: it wrote or sent something since the operation began
    if (Sim) {
      for (const auto& Q : Sim->Requests()) {
        const std::string S(Q.Bytes.begin(), Q.Bytes.end());
        Seen += Q.TimeMs >= OpStart ? 1 : 0;
        EXPECT_FALSE(Q.TimeMs > Stopped && R.On(S))
            << sim::HexText(Q.Bytes) << " " << Q.TimeMs - Stopped << " ms after the stop";
      }
    }
    for (const auto& E : Host->IO.Timeline()) {
      const bool Output = E.Kind == hostkit::TIoKind::Output && E.Changed;
      Seen += Output && E.TimeMs >= OpStart ? 1 : 0;
      EXPECT_FALSE(Output && E.TimeMs > Stopped && E.Value != 0.0)
          << hostkit::ToString(E) << " " << E.TimeMs - Stopped << " ms after the stop";
    }
    EXPECT_GT(Seen, 0);
    L.reset();
    if (Sim) {
      Sim->Stop();
      Sim.reset();
    }
    Host->IO.ClearTimeline();
  }
  EXPECT_EQ(Covered, AllClasses());
}

// ---- The emission flag: on after the switch-on, off after the switch-off, and a laser
// switched off and on again sends what a fresh one's LaserOn sends, no emission with it.

// How a class's emission shows. By: what switches it: EmissionOn (and LaserOn does not),
// LaserOn (and LaserOff off), or both (LaserOn switches it on as well). Reports:
// GetIsEmissionOn follows it (some makes never report it). FromStatus: the flag is the
// laser's answer, so it may lag the switch by a poll (the standard SPI laser's EmissionOff
// sends nothing: while the laser still emits, its next status brings the flag back). Port:
// the output that switches it; 0: the wire, as the concurrent-stop row's On tells. The
// optical valley laser's emission and laser-on share the control output: it counts as
// switched by LaserOn.
enum TBy { ByEmission, ByLaser, ByBoth };
struct TFlagRow {
  const char* Class;
  TBy By;
  bool Reports;
  bool FromStatus;
  int Port;
};
void PrintTo(const TFlagRow& F, std::ostream* Os) {
  *Os << F.Class;
}

// clang-format off
const std::vector<TFlagRow> KFlagRows = {
    {"TDefaultLaser", ByEmission, true, false, 3},     {"TRofinLaser", ByEmission, true, false, 32},
    {"TIPG1000Laser", ByEmission, true, false, 8},     {"TCO2Laser", ByEmission, true, false, 10},
    {"TYAGLaser", ByLaser, false, false, 3},           {"TMaxLaser", ByEmission, true, false, 3},
    {"TLPINGLaser", ByLaser, false, false, 3},         {"TOpticalValleyLaser", ByLaser, false, false, 3},
    {"TMeimanLaser", ByLaser, true, false, 3},         {"TIPGYLPLaser", ByEmission, true, false, 12},
    {"TNLightLaser", ByEmission, true, false, 0},      {"TCASLaser", ByBoth, true, false, 0},
    {"TQingHuaLaser", ByLaser, false, false, 0},       {"TMarsLaser", ByEmission, true, false, 0},
    {"TJKLaser", ByEmission, true, true, 0},           {"TRaycusLaser", ByEmission, true, false, 0},
    {"TRayQCWLaser", ByEmission, true, false, 3},      {"TSPILaser", ByEmission, true, true, 0},  
    {"TSPI1000Laser", ByEmission, true, false, 0},     {"TIPG500Laser", ByEmission, true, false, 0},
    {"TIPGYLSLaser", ByEmission, true, true, 0},
};
// clang-format on

const TRow& RowOf(const std::string& Class) {
  return *std::find_if(Rows().begin(), Rows().end(),
                       [&](const TRow& R) { return R.Class == Class; });
}

// What a LaserOn sent: the outputs it raised and its switch-on requests on the wire.
struct TSent {
  std::vector<std::string> Raised;
  int SwitchOns = 0;
  bool Flag = false; // GetIsEmissionOn afterwards
  double At = 0.0;   // when it was called
};

class EmissionFlag : public RigLaserTest, public ::testing::WithParamInterface<TFlagRow> {
protected:
  TSent LaserOn(TNcLaser& L, const TRow& R) {
    const double T0 = NowMs();
    L.LaserOn();
    Sleep(Sim ? 600 : 100);
    if (Sim) { // a loaded machine or QingHua's 200 ms pace per command may hold it back
      testing::Until([&] { return SwitchOnsSince(R, T0) > 0; }, 1500);
    }
    TSent Out;
    Out.At = T0;
    for (const auto& E : Host->IO.Timeline()) {
      if (E.Kind == hostkit::TIoKind::Output && E.Changed && E.Value != 0.0 && E.TimeMs >= T0) {
        Out.Raised.push_back(hostkit::ToString(E));
      }
    }
    Out.SwitchOns = Sim ? SwitchOnsSince(R, T0) : 0;
    Out.Flag = L.GetIsEmissionOn();
    return Out;
  }
  int SwitchOnsSince(const TRow& R, double T0) const {
    const auto Q = Sim->Requests();
    return static_cast<int>(std::count_if(Q.begin(), Q.end(), [&](const sim::TSimRequest& X) {
      return X.TimeMs >= T0 && R.On(std::string(X.Bytes.begin(), X.Bytes.end()));
    }));
  }
};

TEST_P(EmissionFlag, FollowsTheSwitchAndTheNextLaserOnSendsNoEmission) {
  const TFlagRow& F = GetParam();
  const TRow& R = RowOf(F.Class);
  TNcLaserPtr L = Start(R, sim::LoopbackAddress(34));
  const TSent First = LaserOn(*L, R);
  const double T1 = F.By == ByLaser ? First.At : NowMs(); // since the switch-on
  if (F.By != ByLaser) {
    L->EmissionOn();
  }
  if (F.Port != 0) {
    ASSERT_TRUE(Host->IO.WaitOutput(F.Port, true, 3000)) << "out" << F.Port << " never rose";
  } else {
    ASSERT_TRUE(testing::Until([&] { return SwitchOnsSince(R, T1) > 0; }, 3000)) << "not sent";
  }
  if (F.Reports) {
    EXPECT_TRUE(testing::Until([&] { return L->GetIsEmissionOn(); }, 3000));
  } else {
    EXPECT_FALSE(L->GetIsEmissionOn());
  }
  F.By == ByLaser ? L->LaserOff() : L->EmissionOff();
  if (F.FromStatus) {
    EXPECT_TRUE(testing::Until([&] { return !L->GetIsEmissionOn(); }, 2000));
  } else {
    EXPECT_FALSE(L->GetIsEmissionOn()) << "still reported after the switch-off returned";
  }
  L->LaserOff();
  Sleep(Sim ? 500 : 50);
  const TSent Again = LaserOn(*L, R);
  if (F.By == ByEmission) { // a LaserOn from off is no emission switch-on here
    const std::string Up = "out" + std::to_string(F.Port) + "=1";
    EXPECT_EQ(
        F.Port == 0 ? First.SwitchOns : std::count(First.Raised.begin(), First.Raised.end(), Up), 0)
        << "LaserOn switched on";
  }
  EXPECT_EQ(Again.Raised, First.Raised);
  EXPECT_EQ(Again.SwitchOns, First.SwitchOns) << "switch-on requests of the LaserOn";
  EXPECT_TRUE(F.FromStatus || Again.Flag == First.Flag) << "the emission flag after LaserOn";
}

INSTANTIATE_TEST_SUITE_P(Classes, EmissionFlag, ::testing::ValuesIn(KFlagRows),
                         [](const auto& I) { return std::string(I.param.Class); });

TEST(EmissionFlagTable, EveryClassHasARow) {
  std::set<std::string> Covered;
  for (const TFlagRow& F : KFlagRows) {
    Covered.insert(F.Class);
  }
  EXPECT_EQ(Covered, AllClasses());
  EXPECT_EQ(Covered.size(), KFlagRows.size());
}

} // namespace
} // namespace nclaser
