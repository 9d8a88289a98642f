#include "lasers/nlight.h"

#include <algorithm>

#include "host/appsys.h"
#include "host/clock.h"
#include "host/io.h"
#include "lasers/factory.h"
#include "protocols/nlight.h"
#include "strings/messages.h"

namespace nclaser {

namespace {

const TLaserClassRegistrar GReg{
    {"TNLightLaser", &NewLaser<TNLightLaser>, CfgNLight, SubTypeAny, 190}};

} // namespace

TNLightLaser::TCommThread::TCommThread(TNLightLaser* ALaser)
    : TQueuedCommThread(ALaser->FCfgNLight.Comm, ALaser->FCfgNLight.Comm.DebugMode),
      FLaser(ALaser) {
  OpenPort();
}

void TNLightLaser::TCommThread::LockAddCmd(const std::string& Cmd) {
  LockAdd(nlight::Lower(Cmd));
}

void TNLightLaser::TCommThread::InputPhase() {
  DrainTextLogged("Recv Data: ", [this](const std::string& Text) {
    const auto V = nlight::ParseMaxPower(Text);
    if (!V) {
      return;
    }
    FLaser->FMaxPower = *V;
    if (*V > nlight::ConnectedAboveW && TakeOnce()) {
      ShowMsg(SLaserConnectedOk.Get(), clBlack);
    }
  });
}

void TNLightLaser::TCommThread::IdleRequest() {
  if (!OnceTaken()) {
    LockAddCmd(nlight::MaxPowerQuery());
  }
}

void TNLightLaser::Create(TComponent* AOwner, const TLaserParams& AParams) {
  FCfgNLight = AParams.CfgNLight;
  FCommPort = FCfgNLight.Comm.CommPort;
  if (FCommPort > 0) {
    // Queued before the thread runs, so the first request is this one, not an idle one.
    FCommThread.reset(new TCommThread(this));
    FCommThread->LockAddCmd(nlight::MaxPowerQuery());
    FCommThread->Start();
  }
  TFiberLaser::Create(AOwner, AParams);
}

void TNLightLaser::Destroy() {
  EmissionOff();
  SetAimingOn(false);
  TFiberLaser::Destroy();
  FCommThread.reset();
}

bool TNLightLaser::GetIsAimingOn() {
  return FIsAimingOn;
}

bool TNLightLaser::GetIsEmissionOn() {
  return FIsEmissionOn;
}

void TNLightLaser::EmissionOn() {
  if (HasLink()) {
    const std::uint32_t Seen = SwitchOffs();
    if (!IfNoSwitchOffSince(Seen, [this] { FCommThread->LockAddCmd(nlight::SysOnCmd(true)); })) {
      return;
    }
    // The laser needs the system powered before it takes the enable.
    const auto Wait = [&](int Ms) {
      const double T0 = NowMs();
      for (;;) {
        const double Left = Ms - ElapsedMs(T0);
        if (Left <= 0 || SwitchOffs() != Seen) {
          return;
        }
        Sleep(std::min(10, static_cast<int>(Left + 0.999)));
      }
    };
    Wait(3000);
    // Switched off meanwhile: the enable must not follow.
    if (!IfNoSwitchOffSince(Seen, [this] { FCommThread->LockAddCmd(nlight::EnableCmd(true)); })) {
      return;
    }
    Wait(500);
    if (SwitchOffs() != Seen) {
      return;
    }
  }
  FIsEmissionOn = true;
  TFiberLaser::EmissionOn();
}

void TNLightLaser::WithdrawSwitchOns() {
  NoteSwitchOff();
  if (HasLink()) {
    // Switch-ons still waiting for the port must not follow the switch-off.
    FCommThread->LockRemoveIf([](const std::string& C) {
      return C == nlight::EnableCmd(true) || C == nlight::SysOnCmd(true);
    });
  }
}

void TNLightLaser::EmissionOff() {
  TNcLaser::EmissionOff();
  WithdrawSwitchOns();
  if (HasLink()) {
    FCommThread->LockAddCmd(nlight::EnableCmd(false));
    Sleep(200);
    FCommThread->LockAddCmd(nlight::SysOnCmd(false));
  }
  FIsEmissionOn = false;
}

void TNLightLaser::LaserOff() {
  WithdrawSwitchOns();
  TFiberLaser::LaserOff();
}

void TNLightLaser::SetAimingOn(bool On) {
  TNcLaser::SetAimingOn(On);
  if (HasLink()) {
    FCommThread->LockAddCmd(nlight::AimingCmd(On));
  }
  FIsAimingOn = On;
}

bool TNLightLaser::SetDiodeCustom(double Value) {
  if (GPDA != nullptr) {
    GPDA->SetDAValue(GetCurrentDAPort(), CurrentToVoltage(Value / 100.0));
  }
  return true;
}

} // namespace nclaser
