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
    std::uint32_t Offs = 0;
    {
      std::lock_guard<std::mutex> L(FEmissionLock);
      Offs = FEmissionOffs;
      FCommThread->LockAddCmd(nlight::SysOnCmd(true));
    }
    // The laser needs the system powered before it takes the enable.
    const auto Wait = [&](int Ms) {
      const double T0 = NowMs();
      for (;;) {
        const double Left = Ms - ElapsedMs(T0);
        if (Left <= 0) {
          return;
        }
        {
          std::lock_guard<std::mutex> L(FEmissionLock);
          if (FEmissionOffs != Offs) {
            return;
          }
        }
        Sleep(std::min(10, static_cast<int>(Left + 0.999)));
      }
    };
    Wait(3000);
    {
      std::lock_guard<std::mutex> L(FEmissionLock);
      if (FEmissionOffs != Offs) {
        return; // switched off meanwhile: the enable must not follow
      }
      FCommThread->LockAddCmd(nlight::EnableCmd(true));
    }
    Wait(500);
    std::lock_guard<std::mutex> L(FEmissionLock);
    if (FEmissionOffs != Offs) {
      return;
    }
  }
  FIsEmissionOn = true;
  TFiberLaser::EmissionOn();
}

void TNLightLaser::EmissionOff() {
  TNcLaser::EmissionOff();
  {
    std::lock_guard<std::mutex> L(FEmissionLock);
    ++FEmissionOffs;
  }
  if (HasLink()) {
    // Switch-ons still waiting for the port must not follow this call.
    FCommThread->LockRemoveIf([](const std::string& C) {
      return C == nlight::EnableCmd(true) || C == nlight::SysOnCmd(true);
    });
    FCommThread->LockAddCmd(nlight::EnableCmd(false));
    Sleep(200);
    FCommThread->LockAddCmd(nlight::SysOnCmd(false));
  }
  FIsEmissionOn = false;
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
