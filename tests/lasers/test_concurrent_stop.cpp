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
#include <string_view>
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
  } else if (std::string_view(Info->ConfigMember()) == "CfgIPG") {
    P.CfgIPG.IPGType = Class == "TIPG500Laser"    ? ltYLRNet
                       : Class == "TIPGYLSLaser"  ? ltYLSGemNet
                       : Class == "TIPG1000Laser" ? ltYLSGemHW
                                                  : ltYLP;
    P.CfgIPG.PowerCtrlPort = 4; // the YLR's EmissionOn starts its power-on thread
    P.CfgIPG.MaxCurrent = 100.0;
    P.CfgIPG.YLS.Wire = {.EmissionStatusPort = 5,
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

class ConcurrentStop : public testing::HostTest {};

TEST_F(ConcurrentStop, EveryClassTakesAStopDuringItsLongestOperation) {
  std::vector<int> Inputs(KNoInput);
  std::iota(Inputs.begin(), Inputs.end(), 0);
  Host->IO.SetInputsExist(Inputs);
  std::set<std::string> Covered;
  for (const TRow& R : Rows()) {
    SCOPED_TRACE(R.Class);
    const TLaserClassInfo* Info = FindLaserClass(R.Class);
    ASSERT_NE(Info, nullptr);
    Covered.insert(R.Class);
    std::unique_ptr<sim::TSimEndpoint> Sim;
    sim::TRigLink Link;
    const sim::TSimRig* Rig = R.Sim != nullptr ? sim::FindRig(R.Sim) : nullptr;
    const bool Tcp = Rig != nullptr && !sim::RigFamily(*Rig).TcpAddress.empty(); // ylr, yls
    if (Rig != nullptr) {
      Sim = sim::StartRig(*Rig, Tcp,
                          Tcp ? sim::LoopbackAddress(33, static_cast<int>(Covered.size())) : "");
      Link = sim::LinkTo(*Sim);
      if (!Tcp) {
        Host->SerialPorts->Set(1, Sim->DevicePath());
      }
      Host->Comm = std::make_unique<testing::TSimCommFactory>(Host->SerialPorts,
                                                              [S = Sim.get()] { return S; });
      CommFactory = Host->Comm.get();
    }
    TNcLaserPtr L = Info->Factory(nullptr, ParamsOf(R.Class, R.Sim, Link));
    if (Sim) {
      // The link is up and the start-up traffic is over before the operation begins.
      Sleep(Tcp ? 1000 : 600);
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
    }
    Host->IO.ClearTimeline();
  }
  std::set<std::string> All;
  for (const auto& C : LaserClasses()) {
    All.insert(C.Name);
  }
  EXPECT_EQ(Covered, All);
}

} // namespace
} // namespace nclaser
