#include "lasers/ipg1000.h"

#include <algorithm>
#include <cctype>

#include "host/appsys.h"
#include "host/clock.h"
#include "lasers/factory.h"
#include "lasers/ioports.h"

namespace nclaser {

namespace {

const TLaserClassRegistrar GRegIPG1000{
    {"TIPG1000Laser", &NewLaser<TIPG1000Laser>, "CfgIPG", eltIPG}};

bool SameTextAscii(const std::string& A, const std::string& B) {
  return A.size() == B.size() && std::equal(A.begin(), A.end(), B.begin(), [](char X, char Y) {
           return std::tolower(static_cast<unsigned char>(X)) ==
                  std::tolower(static_cast<unsigned char>(Y));
         });
}

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
  if (!RunSteps()) {
    return; // asked to stop: the laser is left alone
  }
  FOwner->SetDiodeCurrent(FOwner->FCfgLaserDef.PWM.DiodeCurrent);
  FOwner->ClearPowerOnThread();
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
  ioport::SetOutput(W.LaserOnPort, true);
  if (!Wait(W.LaserOnPulse)) {
    return false;
  }
  ioport::SetOutput(W.LaserOnPort, false);
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
  TThreadRef Running;
  {
    std::lock_guard<std::mutex> L(FThreadLock);
    Running = FPowerOnThread;
  }
  // The thread ends at its next check; it must be gone before the laser is.
  Running.Terminate();
  Running.WaitFor();
  TFiberLaser::Destroy();
}

bool TIPG1000Laser::IsTrumpf() const {
  return SameTextAscii(FCfgLaserDef.Model, "Trumpf");
}

void TIPG1000Laser::RaiseProgramStart() {
  const TIPGYLSHardWire& W = FCfgIPG.YLS.Wire;
  if (!IsTrumpf() ||
      (ioport::InputExists(W.EmissionStatusPort) && ioport::GetInput(W.EmissionStatusPort))) {
    ioport::SetOutput(W.ProgramStartPort, true);
  }
}

void TIPG1000Laser::ClearPowerOnThread() {
  std::lock_guard<std::mutex> L(FThreadLock);
  FPowerOnThread.Reset();
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
  const TIPGYLSHardWire& W = FCfgIPG.YLS.Wire;
  ioport::SetOutput(W.ProgramStartPort, false);
  Sleep(10);
  ioport::SetOutput(W.LaserRequestPort, false);
  Sleep(10);
  ioport::SetOutput(W.LaserOnPort, false);
}

void TIPG1000Laser::EmissionOn() {
  const TIPGYLSHardWire& W = FCfgIPG.YLS.Wire;
  if (!ioport::GetOutput(W.LaserRequestPort)) {
    PowerOn(); // the power-on thread finishes the start-up
  } else {
    RaiseProgramStart();
    SetDiodeCurrent(FCfgLaserDef.PWM.DiodeCurrent);
  }
  TFiberLaser::EmissionOn();
}

void TIPG1000Laser::EmissionOff() {
  TFiberLaser::EmissionOff();
  ioport::SetOutput(FCfgIPG.YLS.Wire.ProgramStartPort, false);
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
  if (SameTextAscii(Name, "ResetErrors")) {
    ioport::SetOutput(FCfgIPG.YLS.Wire.LaserRequestPort, false);
  }
  return Result;
}

} // namespace nclaser
