#include "lasers/ipg1000.h"

#include "host/appsys.h"
#include "host/clock.h"
#include "lasers/factory.h"
#include "lasers/ioports.h"
#include "runtime/sametext.h"

namespace nclaser {

namespace {

const TLaserClassRegistrar GRegIPG1000{{"TIPG1000Laser", &NewLaser<TIPG1000Laser>, eltIPG,
                                        SubTypeBit(ltYLSGemHW) | SubTypeBit(ltYLSAmHW), 100}};

} // namespace

// ---- power-on threads ----

TIPG1000PowerOnThread::TIPG1000PowerOnThread(TIPG1000Laser* AOwner) : FOwner(AOwner) {
  SetFreeOnTerminate(true);
  // Timed power-on steps: the host may give the thread real-time scheduling.
  SetTimingCritical(true);
}

void TIPG1000PowerOnThread::Execute() {
  SetThreadName("IPG1000");
  OutputDebugString("IPG1000");
  if (!RunSteps() || Terminated()) {
    return; // asked to stop: the laser is left alone
  }
  FOwner->SetDiodeCurrent(FOwner->FCfgLaserDef.PWM.DiodeCurrent);
  FOwner->ClearPowerOnThread(Ref());
}

void TIPG1000PowerOnThread::SetPulse(std::int32_t Port, bool On) {
  // Counted as raised before the write and as lowered only after it.
  if (On) {
    FPulsePort = Port;
  }
  ioport::SetOutput(Port, On);
  if (!On) {
    FPulsePort = -1;
  }
}

// However the thread ends, a pulse it started ends too.
void TIPG1000PowerOnThread::DoTerminate() {
  TThread::DoTerminate();
  if (FPulsePort >= 0) {
    SetPulse(FPulsePort, false);
  }
}

bool TIPG1000PowerOnThread::Wait(int Ms) {
  SleepA(Ms);
  return !Terminated();
}

bool TIPG_YLS_German_PowerOnThread::RunSteps() {
  const TIPGYLSHardWire& W = FOwner->FCfgIPG.YLS.Wire;
  if (!Wait(W.LaserRequestDelay)) {
    return false;
  }
  ioport::SetOutput(W.LaserOnPort, true);
  if (!Wait(W.LaserOnDelay)) {
    return false;
  }
  FOwner->RaiseProgramStart();
  return true;
}

bool TIPG_YLS_USA_PowerOnThread::RunSteps() {
  const TIPGYLSHardWire& W = FOwner->FCfgIPG.YLS.Wire;
  if (!Wait(W.LaserRequestDelay)) {
    return false;
  }
  SetPulse(W.LaserOnPort, true);
  if (!Wait(W.LaserOnPulse)) {
    return false;
  }
  SetPulse(W.LaserOnPort, false);
  if (!Wait(W.LaserOnDelay)) {
    return false;
  }
  ioport::SetOutput(W.ProgramStartPort, true);
  return true;
}

// ---- TIPG1000Laser ----

void TIPG1000Laser::Create(TComponent* AOwner, const TLaserParams& AParams) {
  TFiberLaser::Create(AOwner, AParams);
  FCfgIPG = AParams.CfgIPG;
}

void TIPG1000Laser::Destroy() {
  // The thread must be gone before the laser is.
  StopPowerOnThread();
  TFiberLaser::Destroy();
}

void TIPG1000Laser::StopPowerOnThread() {
  TThreadRef Running;
  {
    std::lock_guard<std::mutex> L(FThreadLock);
    Running = FPowerOnThread;
    FPowerOnThread.Reset();
  }
  // The thread ends at its next check, within a millisecond of a wait; its writes never
  // block.
  Running.Terminate();
  Running.WaitFor();
}

bool TIPG1000Laser::IsTrumpf() const {
  return SameText(FCfgLaserDef.Model, "Trumpf");
}

void TIPG1000Laser::RaiseProgramStart() {
  const TIPGYLSHardWire& W = FCfgIPG.YLS.Wire;
  if (!IsTrumpf() ||
      (ioport::InputExists(W.EmissionStatusPort) && ioport::GetInput(W.EmissionStatusPort))) {
    ioport::SetOutput(W.ProgramStartPort, true);
  }
}

void TIPG1000Laser::ClearPowerOnThread(const TThreadRef& Thread) {
  std::lock_guard<std::mutex> L(FThreadLock);
  // A thread stopped by EmissionOff is no longer the record; a newer one may be.
  if (FPowerOnThread == Thread) {
    FPowerOnThread.Reset();
  }
}

void TIPG1000Laser::PowerOn() {
  TFiberLaser::PowerOn();
  ioport::SetOutput(FCfgIPG.YLS.Wire.LaserRequestPort, true);
  std::lock_guard<std::mutex> L(FThreadLock);
  if (FPowerOnThread.Assigned() && !FPowerOnThread.Finished()) {
    return;
  }
  TIPG1000PowerOnThread* Thread = nullptr;
  if (FCfgIPG.IPGType == ltYLSAmHW && !IsTrumpf()) {
    Thread = new TIPG_YLS_USA_PowerOnThread(this);
  } else {
    Thread = new TIPG_YLS_German_PowerOnThread(this);
  }
  FPowerOnThread = Thread->Ref();
  try {
    Thread->Start();
  } catch (...) {
    FPowerOnThread.Reset();
    delete Thread;
  }
}

void TIPG1000Laser::PowerOff() {
  TFiberLaser::PowerOff();
  StopPowerOnThread();
  const TIPGYLSHardWire& W = FCfgIPG.YLS.Wire;
  ioport::SetOutput(W.ProgramStartPort, false);
  Sleep(10);
  ioport::SetOutput(W.LaserRequestPort, false);
  Sleep(10);
  ioport::SetOutput(W.LaserOnPort, false);
}

void TIPG1000Laser::LaserOn() {
  RunSwitchOn([&] { TFiberLaser::LaserOn(); });
}

void TIPG1000Laser::EmissionOn() {
  RunSwitchOn([&] {
    const TIPGYLSHardWire& W = FCfgIPG.YLS.Wire;
    if (!ioport::GetOutput(W.LaserRequestPort)) {
      PowerOn(); // the power-on thread finishes the start-up
    } else {
      RaiseProgramStart();
      SetDiodeCurrent(FCfgLaserDef.PWM.DiodeCurrent);
    }
    TFiberLaser::EmissionOn();
  });
}

void TIPG1000Laser::EmissionOff() {
  const auto Switch = SwitchOffCall();
  TFiberLaser::EmissionOff();
  // A power-on in progress must not raise the program start after this.
  StopPowerOnThread();
  ioport::SetOutput(FCfgIPG.YLS.Wire.ProgramStartPort, false);
}

void TIPG1000Laser::LaserOff() {
  const auto Switch = SwitchOffCall();
  TFiberLaser::LaserOff();
  // A laser switched off takes no further power-on step.
  StopPowerOnThread();
}

bool TIPG1000Laser::GetIsEmissionOn() {
  const TIPGYLSHardWire& W = FCfgIPG.YLS.Wire;
  if (ioport::InputExists(W.EmissionStatusPort) && !IsTrumpf()) {
    return ioport::GetInput(W.EmissionStatusPort);
  }
  return ioport::GetOutput(W.ProgramStartPort);
}

int TIPG1000Laser::ExecCmd(const std::string& Name, TVariant& Value) {
  const int Result = TFiberLaser::ExecCmd(Name, Value);
  if (SameText(Name, "ResetErrors")) {
    ioport::SetOutput(FCfgIPG.YLS.Wire.LaserRequestPort, false);
  }
  return Result;
}

} // namespace nclaser
