#include "lasers/hardwired.h"

#include <algorithm>

#include "lasers/factory.h"
#include "lasers/ioports.h"

namespace nclaser {

namespace {

const TLaserClassRegistrar GRegDefault{
    {"TDefaultLaser", &NewLaser<TDefaultLaser>, CfgOther, SubTypeAny, 30}};
const TLaserClassRegistrar GRegMax{{"TMaxLaser", &NewLaser<TMaxLaser>, eltNone, 0, 60}};
const TLaserClassRegistrar GRegLPING{{"TLPINGLaser", &NewLaser<TLPINGLaser>, eltNone, 0, 70}};
const TLaserClassRegistrar GRegOpticalValley{
    {"TOpticalValleyLaser", &NewLaser<TOpticalValleyLaser>, eltNone, 0, 80}};
const TLaserClassRegistrar GRegMeiman{
    {"TMeimanLaser", &NewLaser<TMeimanLaser>, eltMeiMan, SubTypeAny, 50}};
const TLaserClassRegistrar GRegRofin{
    {"TRofinLaser", &NewLaser<TRofinLaser>, eltRofin, SubTypeAny, 40}};

// How long EmissionOn waits for a running sequence, and EmissionOff for the completion.
constexpr std::uint32_t KSemaphoreWaitMs = 100;

// The outputs a sequence raises and lowers again at a later step.
std::vector<std::int32_t> PulsePorts(const std::vector<TNcIOThread::TNcIOStep>& Steps) {
  std::vector<std::int32_t> Out;
  for (std::size_t I = 0; I < Steps.size(); ++I) {
    const auto& Up = Steps[I];
    if (Up.StepType != TNcIOThread::stOutport || !Up.PortStatus) {
      continue;
    }
    const bool Lowered = std::any_of(Steps.begin() + static_cast<std::ptrdiff_t>(I) + 1,
                                     Steps.end(), [&](const TNcIOThread::TNcIOStep& Down) {
                                       return Down.StepType == TNcIOThread::stOutport &&
                                              !Down.PortStatus && Down.Port == Up.Port;
                                     });
    if (Lowered) {
      Out.push_back(Up.Port);
    }
  }
  return Out;
}

// The Rofin completion semaphore is shared by name by every Rofin laser: looking at it
// means taking it and giving it back, and nobody else may find it taken meanwhile.
std::mutex GRofinCompletionPeek;

void CloseSemaphore(THandle& Handle) {
  if (Handle > 0) {
    CloseHandle(Handle);
  }
  Handle = 0;
}

} // namespace

// ---- TPowerOnSequence ----

bool TPowerOnSequence::Start(THandle Lock, THandle Finish,
                             const std::function<void(TNcIOThread&)>& AddSteps) {
  if (WaitForSingleObject(Lock, KSemaphoreWaitMs) != WAIT_OBJECT_0) {
    return false;
  }
  auto* Thread = new TNcIOThread(Lock);
  Thread->SetFinishSemaphore(Finish);
  auto Gate = std::make_shared<TIOGate>();
  Thread->SetGate(Gate);
  AddSteps(*Thread);
  std::lock_guard<std::mutex> L(FLock);
  FRunning = Thread->Ref();
  FGate = std::move(Gate);
  FPulsePorts = PulsePorts(Thread->Steps());
  try {
    Thread->Start();
  } catch (...) {
    // No thread to give the lock back: do it here, or the class could never power on.
    FRunning.Reset();
    delete Thread;
    ReleaseSemaphore(Lock, 1);
    return false;
  }
  return true;
}

TThreadRef TPowerOnSequence::Cut() {
  TThreadRef Running;
  std::vector<std::int32_t> Pulses;
  std::shared_ptr<TIOGate> Gate;
  {
    std::lock_guard<std::mutex> L(FLock);
    Running = FRunning;
    FRunning.Reset();
    Pulses.swap(FPulsePorts);
    Gate.swap(FGate);
  }
  if (Gate) {
    // Waits at most for one output write of the sequence.
    std::lock_guard<std::mutex> G(Gate->Lock);
    Gate->Closed = true;
  }
  const bool CutShort = !Running.Finished();
  // A sequence sees the request before its next step and within a millisecond inside a
  // delay or an input wait; the I/O calls themselves never block, so its end is near.
  Running.Terminate();
  if (!CutShort) {
    return Running;
  }
  // Stopped between the rising and the falling edge of a pulse: end the pulse here.
  for (const std::int32_t Port : Pulses) {
    if (ioport::GetOutput(Port)) {
      ioport::SetOutput(Port, false);
    }
  }
  return Running;
}

// ---- TDefaultLaser ----

void TDefaultLaser::Create(TComponent* AOwner, const TLaserParams& AParams) {
  FCfgOther = AParams.CfgOther;
  TFiberLaser::Create(AOwner, AParams);
  FPowerOnSemaphore = CreateSemaphoreW(0, 1, "Default_Laser_Power_On_Semaphore");
  FPowerOnThreadLock = CreateSemaphoreW(1, 1, "Default_Laser_Power_On_Lock_Semaphore");
}

void TDefaultLaser::Destroy() {
  TFiberLaser::Destroy();
  CloseSemaphore(FPowerOnSemaphore);
  CloseSemaphore(FPowerOnThreadLock);
}

bool TDefaultLaser::GetIsEmissionOn() {
  return ioport::GetOutput(FCfgLaserDef.CtrlPort);
}

void TDefaultLaser::LaserOn() {
  RunSwitchOn([&] { TFiberLaser::LaserOn(); });
}

void TDefaultLaser::EmissionOn() {
  RunSwitchOn([&] {
    std::lock_guard<std::mutex> L(FEmissionLock);
    TFiberLaser::EmissionOn();
    const std::int32_t Ready = FCfgOther.ShutterReady;
    const std::int32_t Delay = FCfgOther.ShutterReadyDelay;
    const std::int32_t Ctrl = FCfgLaserDef.CtrlPort;
    FSequence.Start(FPowerOnThreadLock, FPowerOnSemaphore, [&](TNcIOThread& T) {
      T.AddOutport(Ready, true);
      T.AddDelay(Delay);
      T.AddOutport(Ctrl, true);
    });
  });
}

void TDefaultLaser::LaserOff() {
  const auto Switch = SwitchOffCall();
  {
    // A laser switched off takes no further step of its sequence.
    std::lock_guard<std::mutex> L(FEmissionLock);
    FSequence.Halt();
  }
  TFiberLaser::LaserOff();
}

void TDefaultLaser::EmissionOff() {
  const auto Switch = SwitchOffCall();
  std::lock_guard<std::mutex> L(FEmissionLock);
  TNcLaser::EmissionOff();
  // A sequence of ours still running must not switch anything on after this; the outputs
  // drop at once, before its thread has ended.
  TThreadRef Sequence = FSequence.Cut();
  ioport::SetOutputIfExists(FCfgOther.ShutterReady, false);
  SetCtrlPortIfExists(false);
  Sequence.WaitFor();
  if (FPowerOnSemaphore > 0) {
    WaitForSingleObject(FPowerOnSemaphore, KSemaphoreWaitMs);
  }
}

// ---- TMaxLaser ----

bool TMaxLaser::GetIsEmissionOn() {
  return ioport::GetOutput(FCfgLaserDef.CtrlPort);
}

void TMaxLaser::LaserOn() {
  RunSwitchOn([&] { TFiberLaser::LaserOn(); });
}

void TMaxLaser::LaserOff() {
  const auto Switch = SwitchOffCall();
  TFiberLaser::LaserOff();
}

void TMaxLaser::EmissionOn() {
  RunSwitchOn([&] {
    TFiberLaser::EmissionOn();
    SetCtrlPortIfExists(true);
  });
}

void TMaxLaser::EmissionOff() {
  const auto Switch = SwitchOffCall();
  TNcLaser::EmissionOff();
  SetCtrlPortIfExists(false);
}

// ---- TLPINGLaser ----

void TLPINGLaser::LaserOn() {
  RunSwitchOn([&] {
    TFiberLaser::LaserOn();
    SetCtrlPortIfExists(true);
  });
}

void TLPINGLaser::LaserOff() {
  const auto Switch = SwitchOffCall();
  TFiberLaser::LaserOff();
  SetCtrlPortIfExists(false);
}

// ---- TOpticalValleyLaser ----

bool TOpticalValleyLaser::GetIsEmissionOn() {
  return false;
}

void TOpticalValleyLaser::EmissionOn() {
  RunSwitchOn([&] {
    TFiberLaser::EmissionOn();
    SetCtrlPortIfExists(true);
  });
}

void TOpticalValleyLaser::EmissionOff() {
  const auto Switch = SwitchOffCall();
  TNcLaser::EmissionOff();
  SetCtrlPortIfExists(false);
}

void TOpticalValleyLaser::LaserOn() {
  RunSwitchOn([&] {
    TFiberLaser::LaserOn();
    SetCtrlPortIfExists(true);
  });
}

void TOpticalValleyLaser::LaserOff() {
  const auto Switch = SwitchOffCall();
  TFiberLaser::LaserOff();
  SetCtrlPortIfExists(false);
}

// ---- TMeimanLaser ----

void TMeimanLaser::Create(TComponent* AOwner, const TLaserParams& AParams) {
  FCfgMeiman = AParams.CfgMeiMan;
  TFiberLaser::Create(AOwner, AParams);
}

bool TMeimanLaser::GetIsAimingOn() {
  return TNcLaser::GetIsAimingOn();
}

void TMeimanLaser::SetAimingOn(bool On) {
  TNcLaser::SetAimingOn(On);
}

bool TMeimanLaser::GetIsLaserOn() {
  return ioport::GetOutput(FCfgLaserDef.CtrlPort);
}

bool TMeimanLaser::GetIsEmissionOn() {
  return GetIsLaserOn();
}

void TMeimanLaser::LaserOn() {
  RunSwitchOn([&] {
    TFiberLaser::LaserOn();
    ioport::SetOutput(FCfgLaserDef.CtrlPort, true);
  });
}

void TMeimanLaser::LaserOff() {
  const auto Switch = SwitchOffCall();
  TFiberLaser::LaserOff();
  ioport::SetOutput(FCfgLaserDef.CtrlPort, false);
}

// The pulse frequency goes to the laser as volts per kHz, not through the PWM port.
void TMeimanLaser::SetPwmFreq(int Freq) {
  ioport::SetDA(FCfgMeiman.FreqDAPort, Freq * 0.001);
  FDAFreq = Freq;
}

int TMeimanLaser::GetPwmFreq() {
  return FDAFreq;
}

void TMeimanLaser::SetPwmRatio(double Ratio) {
  TNcLaser::SetPwmRatio(Ratio);
  ioport::SetDA(FCfgMeiman.RatioDAPort, Ratio * 10.0);
  FDARatio = Ratio;
}

double TMeimanLaser::GetPwmRatio() {
  return FDARatio;
}

// The laser takes no diode current from the machine: only a request of 0 or less still
// reaches the analog output through the fiber base.
bool TMeimanLaser::SetDiodeCustom(double /*Value*/) {
  return true;
}

// ---- TRofinLaser ----

void TRofinLaser::Create(TComponent* AOwner, const TLaserParams& AParams) {
  FCfgRofin = AParams.CfgRofin;
  TFiberLaser::Create(AOwner, AParams);
  FPowerOnSemaphore = CreateSemaphoreW(0, 1, "Rofin_Laser_Power_On_Semaphore");
  FPowerOnThreadLock = CreateSemaphoreW(1, 1, "Rofin_Laser_Power_On_Lock_Semaphore");
}

void TRofinLaser::Destroy() {
  TFiberLaser::Destroy();
  CloseSemaphore(FPowerOnSemaphore);
  CloseSemaphore(FPowerOnThreadLock);
}

void TRofinLaser::LaserOn() {
  RunSwitchOn([&] {
    {
      std::lock_guard<std::mutex> L(FEmissionLock);
      FSwitchedOff = false;
    }
    TFiberLaser::LaserOn();
    ioport::SetOutput(FCfgRofin.GatePort, true);
  });
}

void TRofinLaser::LaserOff() {
  const auto Switch = SwitchOffCall();
  {
    // A laser switched off takes no further step of its sequence.
    std::lock_guard<std::mutex> L(FEmissionLock);
    FSequence.Halt();
    FSwitchedOff = true;
  }
  TFiberLaser::LaserOff();
  ioport::SetOutput(FCfgRofin.GatePort, false);
}

void TRofinLaser::EmissionOn() {
  RunSwitchOn([&] {
    std::lock_guard<std::mutex> L(FEmissionLock);
    FSwitchedOff = false;
    TFiberLaser::EmissionOn();
    const TRofinLaserParam Cfg = FCfgRofin;
    FSequence.Start(FPowerOnThreadLock, FPowerOnSemaphore, [&](TNcIOThread& T) {
      T.AddOutport(Cfg.MainsOn, true);
      T.AddDelay(Cfg.DelayAfterMainsOn);
      T.AddOutport(Cfg.FaultReset, true);
      T.AddDelay(Cfg.DelayAfterReset);
      T.AddOutport(Cfg.FaultReset, false);
      T.AddDelay(Cfg.DelayAfterReset);
      T.AddOutport(Cfg.StandbyOn, true);
      T.AddDelay(Cfg.DelayAfterStandby);
    });
  });
}

void TRofinLaser::EmissionOff() {
  const auto Switch = SwitchOffCall();
  std::lock_guard<std::mutex> L(FEmissionLock);
  TNcLaser::EmissionOff();
  // A sequence of ours still running must not switch anything on after this; the outputs
  // drop at once, before its thread has ended.
  TThreadRef Sequence = FSequence.Cut();
  ioport::SetOutput(FCfgRofin.StandbyOn, false);
  ioport::SetOutput(FCfgRofin.MainsOn, false);
  Sequence.WaitFor();
  if (FPowerOnSemaphore > 0) {
    WaitForSingleObject(FPowerOnSemaphore, KSemaphoreWaitMs);
  }
}

// The completion signal is the emission state: look at it without taking it away.
bool TRofinLaser::GetIsEmissionOn() {
  std::lock_guard<std::mutex> L(GRofinCompletionPeek);
  if (FPowerOnSemaphore <= 0 || WaitForSingleObject(FPowerOnSemaphore, 0) != WAIT_OBJECT_0) {
    return false;
  }
  ReleaseSemaphore(FPowerOnSemaphore, 1);
  return true;
}

void TRofinLaser::UpdateAlarms() {
  TFiberLaser::UpdateAlarms();
  FHasAlarm = ioport::GetInput(FCfgRofin.Warning) || ioport::GetInput(FCfgRofin.Error);
  if (FHasAlarm) {
    ioport::SetOutput(FCfgRofin.StandbyOn, false);
  } else {
    // Not while EmissionOn or EmissionOff runs: EmissionOff drops standby before it takes
    // the completion signal, and must not see it raised again. The next poll catches up.
    std::unique_lock<std::mutex> L(FEmissionLock, std::try_to_lock);
    if (L.owns_lock() && !FSwitchedOff && GetIsEmissionOn() &&
        !ioport::GetOutput(FCfgRofin.StandbyOn)) {
      ioport::SetOutput(FCfgRofin.StandbyOn, true);
    }
  }
  SetAlarmStatus(FHasAlarm);
}

} // namespace nclaser
