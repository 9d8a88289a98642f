#include "lasers/ipgyls.h"

#include <algorithm>
#include <chrono>

#include "host/appsys.h"
#include "host/clock.h"
#include "host/errors.h"
#include "lasers/factory.h"
#include "lasers/ioports.h"
#include "params/textbuf.h"
#include "runtime/format1033.h"
#include "runtime/sametext.h"
#include "strings/messages.h"

namespace nclaser {

namespace {

const TLaserClassRegistrar GReg{{"TIPGYLSLaser", &NewLaser<TIPGYLSLaser>, eltIPG,
                                 SubTypeBit(ltYLSGemNet) | SubTypeBit(ltYLSAmNet), 110}};

// Status query numbers the emission sequence reads.
constexpr int StEmission = 2;
constexpr int StModulationCtrl = 4;
constexpr int StAiming = 8;
constexpr int StPowerSupplyOn = 11;
constexpr int StLaserReady = 31;
constexpr int StRobotMode = 32;
constexpr int StPowerSupplyWanted = 33;

} // namespace

void TIPGYLSLaser::Create(TComponent* AOwner, const TLaserParams& AParams) {
  FCfgIPG = AParams.CfgIPG;
  if (FCfgIPG.IPGType != ltYLSGemNet && FCfgIPG.IPGType != ltYLSAmNet) {
    throw ELaserError("CfgIPG.IPGType Error Message");
  }
  FIPGYLSDriver = std::make_unique<TIPGYLSDriver>(AOwner, FCfgIPG);
  FDebugMode = FCfgIPG.YLS.DebugMode;
  FUseNetCtrl = true;
  FPowerCtrl = FCfgIPG.PowerCtrl;
  FPowerCtrlPort = FCfgIPG.PowerCtrlPort;
  if (FIPGYLSDriver->GetConnected()) {
    FIPGYLSDriver->SetAccessLev();
    FIPGYLSDriver->DisableAnalogCtrl();
    FIPGYLSDriver->DisableModulationCtrl();
  }
  // The base's diode-current setting reaches SetDiodeCustom: the driver exists by now.
  TFiberLaser::Create(AOwner, AParams);
}

void TIPGYLSLaser::Destroy() {
  // EmissionOff (in the fiber base's step) still reaches a laser whose link is up; tear-down
  // does not wait for an unreachable one.
  if (FIPGYLSDriver) {
    FIPGYLSDriver->Shutdown();
  }
  TFiberLaser::Destroy();
  {
    // EmissionOff above cut every running sequence short; wait until none uses the driver.
    std::unique_lock<std::mutex> L(FSeqLock);
    ++FSeqGen;
    FSeqChanged.notify_all();
    FSeqChanged.wait(L, [this] { return FSeqRunning == 0; });
  }
  FIPGYLSDriver.reset();
}

void TIPGYLSLaser::Progress(const std::string& Text) const {
  if (FDebugMode) {
    ShowMsg(Text, clBlack);
  }
}

bool TIPGYLSLaser::SequenceLive(std::uint64_t Gen) {
  std::lock_guard<std::mutex> L(FSeqLock);
  return FSeqGen == Gen;
}

bool TIPGYLSLaser::SequencePause(int Ms, std::uint64_t Gen) {
  std::unique_lock<std::mutex> L(FSeqLock);
  return !FSeqChanged.wait_for(L, std::chrono::milliseconds(Ms),
                               [this, Gen] { return FSeqGen != Gen; });
}

void TIPGYLSLaser::EmissionOn() {
  FEmissionOn = true;
  TIPGYLSDriver* Drv = FIPGYLSDriver.get();
  if (Drv == nullptr) {
    return;
  }
  std::uint64_t Gen = 0;
  {
    std::lock_guard<std::mutex> L(FSeqLock);
    Gen = FSeqGen;
    ++FSeqRunning;
  }
  struct TDone {
    TIPGYLSLaser* Self;
    ~TDone() {
      std::lock_guard<std::mutex> L(Self->FSeqLock);
      --Self->FSeqRunning;
      Self->FSeqChanged.notify_all();
    }
  } Done{this};

  if (FCfgIPG.IPGType == ltYLSAmNet && FPowerCtrl && ioport::OutputExists(FPowerCtrlPort)) {
    PowerOn();
    if (!SequencePause(100, Gen)) {
      return;
    }
  }
  if (!Drv->GetStatusBit(StPowerSupplyOn)) {
    Drv->PowerSupplyOn();
    if (!SequencePause(1000, Gen)) {
      return;
    }
  }
  if (Drv->GetStatusBit(StRobotMode)) {
    ShowMsg(SYLSLaserInRobotMode.Get(), clBlack);
    return;
  }
  Drv->EnableModulationCtrl();
  if (!SequencePause(100, Gen)) {
    return;
  }
  Drv->GetLaserStatus();
  if (Drv->GetStatusBit(StPowerSupplyWanted)) {
    Drv->PowerSupplyOn();
    if (!SequencePause(1000, Gen)) {
      return;
    }
    Drv->GetLaserStatus();
    Progress("IPG-YLS: Power Supply On");
  }
  if (!Drv->GetStatusBit(StLaserReady)) {
    Progress("IPG-YLS: Laser Not Ready");
    if (!SequencePause(100, Gen)) {
      return;
    }
  }
  if (!Drv->GetStatusBit(StModulationCtrl)) {
    Drv->EnableModulationCtrl();
    if (!SequencePause(100, Gen)) {
      return;
    }
    Drv->GetLaserStatus();
  }
  if (!Drv->GetStatusBit(StModulationCtrl)) {
    ShowMsg(SYLSLaserNotInExternCtrl.Get(), clBlack);
    return;
  }
  // Emission on goes out only while no EmissionOff has come since the sequence began; the
  // lock makes a concurrent EmissionOff wait and so send its "off" after this "on".
  const auto EmitIfLive = [this, Drv, Gen] {
    std::lock_guard<std::mutex> L(FSeqLock);
    if (FSeqGen != Gen) {
      return false;
    }
    Drv->EmissionOn();
    return true;
  };
  Progress("IPG-YLS: Emission On");
  if (!EmitIfLive() || !SequencePause(100, Gen)) {
    return;
  }
  Drv->GetLaserStatus();
  if (!Drv->GetStatusBit(StEmission)) {
    if (!EmitIfLive() || !SequencePause(100, Gen)) {
      return;
    }
    Drv->GetLaserStatus();
  } else {
    Progress("IPG-YLS: Emission On OK");
  }
  if (!SequenceLive(Gen)) {
    return;
  }
  Drv->SetPumpCurrent(FCfgLaserDef.PWM.DiodeCurrent);
  ForceDiodeCurrent(FCfgLaserDef.PWM.DiodeCurrent);
}

void TIPGYLSLaser::CutSequences() {
  std::lock_guard<std::mutex> L(FSeqLock);
  ++FSeqGen;
  FSeqChanged.notify_all();
}

void TIPGYLSLaser::EmissionOff() {
  CutSequences();
  TFiberLaser::EmissionOff();
  if (FIPGYLSDriver) {
    FIPGYLSDriver->EmissionOff();
  }
  FEmissionOn = false;
}

void TIPGYLSLaser::LaserOff() {
  CutSequences();
  TFiberLaser::LaserOff();
}

bool TIPGYLSLaser::GetIsEmissionOn() {
  if (FIgnoreResult) {
    return FEmissionOn;
  }
  return FIPGYLSDriver && FIPGYLSDriver->GetStatusBit(StEmission);
}

void TIPGYLSLaser::SetAimingOn(bool On) {
  TFiberLaser::SetAimingOn(On);
  if (Connected()) {
    if (On) {
      FIPGYLSDriver->GuideLaserOn();
    } else {
      FIPGYLSDriver->GuideLaserOff();
    }
    FAimingOn = On;
  }
}

bool TIPGYLSLaser::GetIsAimingOn() {
  return FIPGYLSDriver && FIPGYLSDriver->GetStatusBit(StAiming);
}

double TIPGYLSLaser::GetDiodeCurrent() {
  return FIPGYLSDriver ? FIPGYLSDriver->GetDiodeCurrent() : 0.0;
}

bool TIPGYLSLaser::SetDiodeCustom(double Value) {
  if (!Connected()) {
    return false;
  }
  Value = std::clamp(Value, 0.0, 100.0);
  try {
    FIPGYLSDriver->SetPumpCurrent(Value);
  } catch (...) {
    ShowMsg(Format1033("FIPGYLSDriver.DiodeCurrent Error!!! Value = %.2f", Value), clBlack);
  }
  if (FDebugMode) {
    ShowMsg("SetDiodeCustom TRUE", clBlack);
  }
  return true;
}

void TIPGYLSLaser::PowerOn() {
  TFiberLaser::PowerOn();
  if (!Connected()) {
    return;
  }
  // A 300 ms pulse on the power-control output, whatever PowerCtrl says.
  ioport::SetOutput(FPowerCtrlPort, true);
  Sleep(300);
  ioport::SetOutput(FPowerCtrlPort, false);
}

void TIPGYLSLaser::UpdateAlarms() {
  TFiberLaser::UpdateAlarms();
  SetAlarmStatus(FIPGYLSDriver && FIPGYLSDriver->HasAlarm());
}

std::string TIPGYLSLaser::GetAlarmDesc() {
  return FCfgLaserDef.Model + (FIPGYLSDriver ? FIPGYLSDriver->GetAlarmDesc() : std::string());
}

std::string TIPGYLSLaser::GetDeviceDesc() {
  std::string Desc = "IPG " + TextBufToUtf8(FCfgIPG.Model);
  const std::string SN = FIPGYLSDriver ? FIPGYLSDriver->GetSerialNumber() : std::string();
  if (!SN.empty()) {
    Desc = "IPG-YLS  SN: " + SN;
  }
  return Desc;
}

int TIPGYLSLaser::ExecCmd(const std::string& Name, TVariant& Value) {
  const int Result = TFiberLaser::ExecCmd(Name, Value);
  if (SameText(Name, "ResetErrors") && FIPGYLSDriver) {
    FIPGYLSDriver->ResetNoCritError();
  }
  return Result;
}

int TIPGYLSLaser::ExecuteCmd(int Cmd, double Param) {
  if (Cmd == 2101) {
    return 10;
  }
  return TFiberLaser::ExecuteCmd(Cmd, Param);
}

} // namespace nclaser
