#include "hostkit/host.h"

#include "host/alarms.h"
#include "host/appsys.h"
#include "host/io.h"
#include "host/sched.h"
#include "host/sync.h"
#include "hostkit/comm_factory.h"
#include "strings/messages.h"

namespace nclaser::hostkit {

THost::THost(THostOptions Options)
    : Comm(std::make_unique<TLinuxCommFactory>(SerialPorts, Options.PingProbePort)) {
  if (Options.PwmPort) {
    Pwm = std::make_unique<TVirtualPwmPort>(IO);
  }
}

void THost::SetRealTime(TRealTimeOptions Options) {
  if (!FInstalled) {
    RealTime = std::make_unique<TRealTimePolicy>(std::move(Options));
  }
}

THost::~THost() {
  Uninstall();
}

void THost::Install() {
  if (FInstalled) {
    return;
  }
  FInstalled = true;
  if (RealTime && !FRealTimeLogged) {
    FRealTimeLogged = true;
    App.ShowMsg(RealTime->Decide(), clBlack);
  }
  GPOutput = &IO.Outputs();
  GPInput = &IO.Inputs();
  GPDA = &IO.DA();
  GLaserPwmPort = Pwm.get();
  NcAlarms = &Alarms;
  AppSys = &App;
  SemaphoreApi = &Semaphores;
  CommFactory = Comm.get();
  ThreadScheduler = RealTime.get();
  InitializeDeviceStrs();
}

void THost::Uninstall() {
  if (!FInstalled) {
    return;
  }
  FInstalled = false;
  FinalizeDeviceStrs();
  GPOutput = nullptr;
  GPInput = nullptr;
  GPDA = nullptr;
  GLaserPwmPort = nullptr;
  NcAlarms = nullptr;
  AppSys = nullptr;
  SemaphoreApi = nullptr;
  CommFactory = nullptr;
  ThreadScheduler = nullptr;
}

} // namespace nclaser::hostkit
