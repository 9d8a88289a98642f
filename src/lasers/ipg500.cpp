#include "lasers/ipg500.h"

#include <algorithm>

#include "host/appsys.h"
#include "host/io.h"
#include "lasers/factory.h"
#include "params/textbuf.h"
#include "protocols/ylr.h"

namespace nclaser {

namespace {

const TLaserClassRegistrar GReg{{"TIPG500Laser", &NewLaser<TIPG500Laser>, "CfgIPG", eltIPG}};

bool OutputExists(std::int32_t Port) {
  return GPOutput != nullptr && GPOutput->GetPortExist(PortByte(Port));
}

void SetOutput(std::int32_t Port, bool Value) {
  if (GPOutput != nullptr) {
    GPOutput->SetOutputbit(PortByte(Port), Value);
  }
}

bool SameTextIgnoringCase(std::string_view A, std::string_view B) {
  return A.size() == B.size() && std::equal(A.begin(), A.end(), B.begin(), [](char X, char Y) {
           const auto Lower = [](char C) { return C >= 'A' && C <= 'Z' ? C - 'A' + 'a' : C; };
           return Lower(X) == Lower(Y);
         });
}

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
  SetOutput(FOwner->FCfgIPG.PowerCtrlPort, false);
  Drv->StopEmission();
  Drv->DisableExternalAimControl();
  Drv->DisableExternalControl();
  Drv->StartEmission();
  if (!SleepA(500) || Terminated()) {
    return;
  }
  Drv->StartAimingBeam();
  if (!SleepA(500) || Terminated()) {
    return;
  }
  Drv->SetDiodeCurrent(FOwner->FCfgLaserDef.PWM.DiodeCurrent);
  Terminate();
  FOwner->ClearPowerOnThread();
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
  // EmissionOff (in the fiber base's step) still reaches the laser through the driver.
  TFiberLaser::Destroy();
  TThreadRef Thread;
  {
    std::lock_guard<std::mutex> L(FPowerOnLock);
    Thread = FPowerOnThread;
  }
  Thread.Terminate();
  Thread.WaitFor();
  FIPGYLRDriver.reset();
}

bool TIPG500Laser::HasPowerOnThread() {
  std::lock_guard<std::mutex> L(FPowerOnLock);
  return FPowerOnThread.Assigned();
}

void TIPG500Laser::ClearPowerOnThread() {
  std::lock_guard<std::mutex> L(FPowerOnLock);
  FPowerOnThread.Reset();
}

bool TIPG500Laser::GetIsQCW() {
  return TextBufToUtf8(FCfgIPG.PulseModel) == "QCW";
}

bool TIPG500Laser::GetIsUseOutputLaserOn() const {
  return FCfgIPG.YLR.UseOutputLaserOn;
}

void TIPG500Laser::LaserOn() {
  TFiberLaser::LaserOn();
  if (GetIsUseOutputLaserOn() && OutputExists(FCfgLaserDef.CtrlPort)) {
    SetOutput(FCfgLaserDef.CtrlPort, true);
  }
}

void TIPG500Laser::LaserOff() {
  TFiberLaser::LaserOff();
  if (GetIsUseOutputLaserOn() && OutputExists(FCfgLaserDef.CtrlPort)) {
    SetOutput(FCfgLaserDef.CtrlPort, false);
  }
}

bool TIPG500Laser::GetIsLaserOn() {
  if (GetIsUseOutputLaserOn() && OutputExists(FCfgLaserDef.CtrlPort)) {
    return GPOutput->GetOutputBit(PortByte(FCfgLaserDef.CtrlPort));
  }
  return TFiberLaser::GetIsLaserOn();
}

void TIPG500Laser::EmissionOn() {
  if (OutputExists(FCfgIPG.PowerCtrlPort)) {
    PowerOn();
  }
  TIPGYLRDriver* Drv = FIPGYLRDriver.get();
  if (FCfgLaserDef.Model == "EO-YLR") {
    Drv->DisableEmissionControl();
    Drv->EnableModulation();
    Drv->DisableGateMode();
    Drv->DisableExternalAimControl();
    Drv->SetDigitalPowerSelect();
    Drv->StartEmission();
  } else {
    Drv->SetQCWMode(GetIsQCW());
    if (GetIsQCW()) {
      if (!FCfgIPG.YLR.GateMode) {
        // Emission then follows the external signal: no "EMON".
        Drv->DisableModulation();
        Drv->DisableGateMode();
        Drv->EnablePulseMode();
        Drv->EnableEmissionControl();
      } else {
        Drv->DisableModulation();
        Drv->EnableGateMode();
        Drv->DisableEmissionControl();
        Drv->EnablePulseMode();
        Drv->StartEmission();
      }
    } else {
      Drv->DisablePulseMode();
      Drv->DisableGateMode();
      Drv->DisableEmissionControl();
      Drv->EnableModulation();
      Drv->StartEmission();
    }
  }
  FEmissionOn = true;
  ForceDiodeCurrent(FCfgLaserDef.PWM.DiodeCurrent);
}

void TIPG500Laser::EmissionOff() {
  TFiberLaser::EmissionOff();
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
  if (!OutputExists(FCfgIPG.PowerCtrlPort)) {
    return;
  }
  SetOutput(FCfgIPG.PowerCtrlPort, true);
  std::lock_guard<std::mutex> L(FPowerOnLock);
  if (!FPowerOnThread.Assigned()) {
    auto* T = new TIPG500PowerOnThread(this);
    FPowerOnThread = T->Ref();
    T->Start();
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
  if (SameTextIgnoringCase(Name, "ResetErrors")) {
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
