#include "hostkit/host.h"

#include <stdexcept>
#include <string>

#include "hostkit/comm_factory.h"

// Weak: a host that loads the plug-in with dlopen links no entry point, and Install then
// says so instead of the program failing to link or load.
#pragma weak NcLaserPluginEntry

namespace nclaser::hostkit {

THost::THost(THostOptions Options)
    : Comm(std::make_unique<TLinuxCommFactory>(SerialPorts, &App, Options.PingProbePort)) {
  if (Options.PwmPort) {
    Pwm = std::make_unique<TVirtualPwmPort>(IO);
  }
}

void THost::SetRealTime(TRealTimeOptions Options) {
  if (FPlugin == nullptr) {
    RealTime = std::make_unique<TRealTimePolicy>(std::move(Options));
  }
}

THost::~THost() {
  Uninstall();
}

TNcHostServices THost::Services() {
  if (RealTime && !FRealTimeLogged) {
    FRealTimeLogged = true;
    App.ShowMsg(RealTime->Decide(), clBlack);
  }
  return {&IO.Outputs(), &IO.Inputs(), &IO.DA(),   Pwm.get(),     &Alarms,
          &App,          &Semaphores,  Comm.get(), RealTime.get()};
}

void THost::Install() {
  if (FPlugin != nullptr) {
    return;
  }
  if (&NcLaserPluginEntry == nullptr) {
    throw std::logic_error("this program links no plug-in; load one with TPluginLibrary");
  }
  const TNcHostServices S = Services();
  char Error[256] = "";
  const TNcPlugin* P = NcLaserPluginEntry(NcPluginInterfaceVersion, &S, Error, sizeof(Error));
  if (P == nullptr) {
    throw std::logic_error(Error);
  }
  FPlugin = P;
}

void THost::Uninstall() {
  if (FPlugin == nullptr) {
    return;
  }
  const TNcPlugin* P = FPlugin;
  FPlugin = nullptr;
  P->Finalize();
}

} // namespace nclaser::hostkit
