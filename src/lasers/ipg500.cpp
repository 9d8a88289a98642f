#include "lasers/ipg500.h"

#include <algorithm>
#include <functional>

#include "host/appsys.h"
#include "lasers/factory.h"
#include "lasers/ioports.h"
#include "params/textbuf.h"
#include "protocols/ylr.h"
#include "runtime/sametext.h"

namespace nclaser {

namespace {

const TLaserClassRegistrar GReg{{"TIPG500Laser", &NewLaser<TIPG500Laser>, eltIPG,
                                 SubTypeBit(ltYLRComm) | SubTypeBit(ltYLRNet), 90}};

} // namespace

// ---- Power-on thread ----------------------------------------------------------------

TIPG500PowerOnThread::TIPG500PowerOnThread(TIPG500Laser* AOwner) : FOwner(AOwner) {
  SetFreeOnTerminate(true);
  // Timed power-on steps: the host may give the thread real-time scheduling.
  SetTimingCritical(true);
}

void TIPG500PowerOnThread::Execute() {
  SetThreadName("IPG500");
  OutputDebugString("IPG500");
  TIPGYLRDriver* Drv = FOwner->FIPGYLRDriver.get();
  if (!SleepA(1200) || Terminated()) {
    return;
  }
  EndPulse();
  // Asked to stop, the thread sends nothing more: each command looks first, and the
  // owner waits for the one on the wire.
  for (void (TIPGYLRDriver::*Cmd)() :
       {&TIPGYLRDriver::StopEmission, &TIPGYLRDriver::DisableExternalAimControl,
        &TIPGYLRDriver::DisableExternalControl, &TIPGYLRDriver::StartEmission}) {
    if (Terminated()) {
      return;
    }
    (Drv->*Cmd)();
  }
  if (!SleepA(500) || Terminated()) {
    return;
  }
  Drv->StartAimingBeam();
  if (!SleepA(500) || Terminated()) {
    return;
  }
  Drv->SetDiodeCurrent(FOwner->FCfgLaserDef.PWM.DiodeCurrent, [this] { return Terminated(); });
  Terminate();
  FOwner->ClearPowerOnThread(Ref());
}

void TIPG500PowerOnThread::EndPulse() {
  ioport::SetOutput(FOwner->FCfgIPG.PowerCtrlPort, false);
  FPulseEnded = true;
}

// However the thread ends (stopped, or a failing call), the power-control pulse ends too.
void TIPG500PowerOnThread::DoTerminate() {
  TThread::DoTerminate();
  if (!FPulseEnded) {
    EndPulse();
  }
}

// ---- Laser --------------------------------------------------------------------------

void TIPG500Laser::Create(TComponent* AOwner, const TLaserParams& AParams) {
  // The driver must exist before the fiber base's construction reaches SetDiodeCustom.
  FIPGYLRDriver = std::make_unique<TIPGYLRDriver>(AOwner, AParams.CfgIPG);
  FIgnoreCommResult = AParams.CfgIPG.YLR.Comm.IgnoreCommResult;
  FIsUseComm = true;
  FCfgIPG = AParams.CfgIPG;
  FIPGYLRDriver->SetQCWMode(GetIsQCW());
  TFiberLaser::Create(AOwner, AParams);
}

void TIPG500Laser::Destroy() {
  // EmissionOff (in the fiber base's step) still reaches the laser through the driver,
  // over the link as it is: tear-down does not wait for an unreachable laser.
  if (FIPGYLRDriver) {
    FIPGYLRDriver->Shutdown();
  }
  TFiberLaser::Destroy();
  StopPowerOnThread();
  FIPGYLRDriver.reset();
}

void TIPG500Laser::StopPowerOnThread() {
  TThreadRef Thread;
  {
    std::lock_guard<std::mutex> L(FPowerOnLock);
    Thread = FPowerOnThread;
    FPowerOnThread.Reset();
  }
  // It sees the request within a millisecond in its waits and before each command; at
  // most the exchange on the wire is waited for.
  Thread.Terminate();
  Thread.WaitFor();
}

bool TIPG500Laser::HasPowerOnThread() {
  std::lock_guard<std::mutex> L(FPowerOnLock);
  return FPowerOnThread.Assigned() && !FPowerOnThread.Finished();
}

void TIPG500Laser::ClearPowerOnThread(const TThreadRef& Thread) {
  std::lock_guard<std::mutex> L(FPowerOnLock);
  // A thread stopped by EmissionOff is no longer the record; a newer one may be.
  if (FPowerOnThread == Thread) {
    FPowerOnThread.Reset();
  }
}

bool TIPG500Laser::GetIsQCW() {
  return TextBufToUtf8(FCfgIPG.PulseModel) == "QCW";
}

bool TIPG500Laser::GetIsUseOutputLaserOn() const {
  return FCfgIPG.YLR.UseOutputLaserOn;
}

void TIPG500Laser::LaserOn() {
  TFiberLaser::LaserOn();
  if (GetIsUseOutputLaserOn()) {
    SetCtrlPortIfExists(true);
  }
}

void TIPG500Laser::LaserOff() {
  NoteSwitchOff(); // an EmissionOn in progress sends no further switch-on step
  TFiberLaser::LaserOff();
  if (GetIsUseOutputLaserOn()) {
    SetCtrlPortIfExists(false);
  }
  // A laser switched off takes no further power-on step.
  StopPowerOnThread();
}

bool TIPG500Laser::GetIsLaserOn() {
  if (GetIsUseOutputLaserOn() && ioport::OutputExists(FCfgLaserDef.CtrlPort)) {
    return ioport::GetOutput(FCfgLaserDef.CtrlPort);
  }
  return TFiberLaser::GetIsLaserOn();
}

void TIPG500Laser::EmissionOn() {
  const std::uint32_t Offs = SwitchOffs();
  // Each exchange below may take a while: an EmissionOff meanwhile cancels every switch-on
  // step that has not gone out yet.
  const auto Live = [&](const std::function<void()>& Step) {
    return IfNoSwitchOffSince(Offs, Step);
  };
  if (ioport::OutputExists(FCfgIPG.PowerCtrlPort) && !Live([this] { PowerOn(); })) {
    return;
  }
  TIPGYLRDriver* Drv = FIPGYLRDriver.get();
  const auto Start = [&] { return Live([Drv] { Drv->StartEmission(); }); };
  if (FCfgLaserDef.Model == "EO-YLR") {
    Drv->DisableEmissionControl();
    Drv->EnableModulation();
    Drv->DisableGateMode();
    Drv->DisableExternalAimControl();
    Drv->SetDigitalPowerSelect();
    if (!Start()) {
      return;
    }
  } else {
    Drv->SetQCWMode(GetIsQCW());
    if (GetIsQCW()) {
      if (!FCfgIPG.YLR.GateMode) {
        // Emission then follows the external signal: no "EMON".
        Drv->DisableModulation();
        Drv->DisableGateMode();
        Drv->EnablePulseMode();
        if (!Live([Drv] { Drv->EnableEmissionControl(); })) {
          return;
        }
      } else {
        Drv->DisableModulation();
        Drv->EnableGateMode();
        Drv->DisableEmissionControl();
        Drv->EnablePulseMode();
        if (!Start()) {
          return;
        }
      }
    } else {
      Drv->DisablePulseMode();
      Drv->DisableGateMode();
      Drv->DisableEmissionControl();
      Drv->EnableModulation();
      if (!Start()) {
        return;
      }
    }
  }
  if (Live([this] { FEmissionOn = true; })) {
    ForceDiodeCurrent(FCfgLaserDef.PWM.DiodeCurrent);
  }
}

void TIPG500Laser::EmissionOff() {
  // Waits for a switch-on step on the wire; EmissionOn sends no further one.
  NoteSwitchOff();
  TFiberLaser::EmissionOff();
  // Nothing of a power-on in progress may follow the EMOFF below.
  StopPowerOnThread();
  if (FIPGYLRDriver) {
    FIPGYLRDriver->StopEmission();
  }
  FEmissionOn = false;
}

bool TIPG500Laser::GetIsEmissionOn() {
  return FIgnoreCommResult ? FEmissionOn.load() : FIPGYLRDriver->GetStatusBit(ylr::BitEmission);
}

void TIPG500Laser::SetAimingOn(bool On) {
  TFiberLaser::SetAimingOn(On);
  if (On) {
    FIPGYLRDriver->StartAimingBeam();
  } else {
    FIPGYLRDriver->StopAimingBeam();
  }
  FAimingOn = On;
}

bool TIPG500Laser::GetIsAimingOn() {
  return FIgnoreCommResult ? FAimingOn.load() : FIPGYLRDriver->GetStatusBit(ylr::BitAiming);
}

double TIPG500Laser::GetDiodeCurrent() {
  if (FIPGYLRDriver && FIPGYLRDriver->GetConnected()) {
    return FIPGYLRDriver->GetDiodeCurrentEcho();
  }
  return TFiberLaser::GetDiodeCurrent();
}

bool TIPG500Laser::SetDiodeCustom(double Value) {
  if (GetIsQCW() && Value > std::min(FCfgIPG.MaxCurrent, 100.0)) {
    return true;
  }
  FIPGYLRDriver->SetDiodeCurrent(Value);
  return true;
}

void TIPG500Laser::PowerOn() {
  TFiberLaser::PowerOn();
  if (!ioport::OutputExists(FCfgIPG.PowerCtrlPort)) {
    return;
  }
  ioport::SetOutput(FCfgIPG.PowerCtrlPort, true);
  std::lock_guard<std::mutex> L(FPowerOnLock);
  // A record left by a thread that ended early (it failed, or was stopped) is no
  // running thread.
  if (FPowerOnThread.Assigned() && !FPowerOnThread.Finished()) {
    return;
  }
  auto* T = new TIPG500PowerOnThread(this);
  FPowerOnThread = T->Ref();
  try {
    T->Start();
  } catch (...) {
    // No thread to end the pulse: refuse the power-on with the output low again.
    FPowerOnThread.Reset();
    delete T;
    ioport::SetOutput(FCfgIPG.PowerCtrlPort, false);
  }
}

void TIPG500Laser::UpdateAlarms() {
  TFiberLaser::UpdateAlarms();
  if (!FIgnoreCommResult) {
    SetAlarmStatus(FIPGYLRDriver->HasAlarm());
  }
}

std::string TIPG500Laser::GetAlarmDesc() {
  return FCfgLaserDef.Model + FIPGYLRDriver->GetAlarmDesc();
}

std::string TIPG500Laser::GetDeviceDesc() {
  std::string Desc = "IPG " + TextBufToUtf8(FCfgIPG.Model);
  const std::string SN = FIPGYLRDriver->GetSerialNumber();
  if (!SN.empty()) {
    Desc += " SN: " + SN;
  }
  return Desc;
}

int TIPG500Laser::ExecCmd(const std::string& Name, TVariant& Value) {
  const int Result = TFiberLaser::ExecCmd(Name, Value);
  if (SameText(Name, "ResetErrors")) {
    FIPGYLRDriver->ResetErrors();
  }
  return Result;
}

int TIPG500Laser::ExecuteCmd(int Cmd, double Param) {
  if (Cmd == 2101) {
    return 10;
  }
  return TFiberLaser::ExecuteCmd(Cmd, Param);
}

} // namespace nclaser
