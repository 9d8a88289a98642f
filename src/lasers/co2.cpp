#include "lasers/co2.h"

#include "host/errors.h"
#include "lasers/factory.h"
#include "lasers/ioports.h"

namespace nclaser {

namespace {

const TLaserClassRegistrar GRegCO2{{"TCO2Laser", &NewLaser<TCO2Laser>, eltCO2, SubTypeAny, 10}};
const TLaserClassRegistrar GRegYAG{{"TYAGLaser", &NewLaser<TYAGLaser>, eltNone, 0, 20}};

} // namespace

// ---- TCO2Laser ----

void TCO2Laser::Create(TComponent* AOwner, const TLaserParams& AParams) {
  if (GLaserPwmPort == nullptr) {
    throw ELaserError("LaserPwmPort Error Message");
  }
  TNcLaser::Create(AOwner, AParams);
  FConstructed = true;
  FCfgCO2 = AParams.CfgCO2;
  GLaserPwmPort->SetPwmOn(1, true);
  GLaserPwmPort->SetFrequency(1, static_cast<double>(FPwmFreq.load()));
  DynamicPower(AParams.DefParams.PWM.MinRatio);
  SetLaserMode(FCfgCO2.LaserMode);
}

void TCO2Laser::Destroy() {
  TNcLaser::Destroy();
}

void TCO2Laser::SetCO2Power(double Value) {
  double R = FCfgLaserDef.DA.GetDARatio(Value);
  if (R < FCfgLaserDef.PWM.MinRatio) {
    R = FCfgLaserDef.PWM.MinRatio;
  }
  ioport::SetDA(FCfgCO2.DynamicDA, R * 10.0);
  if (GLaserPwmPort != nullptr) {
    GLaserPwmPort->SetRatio(1, R);
  }
}

void TCO2Laser::DynamicPower(double Value) {
  TNcLaser::DynamicPower(Value);
  SetCO2Power(Value);
}

// Every ratio command ends in the power setting; FPwmRatio keeps its starting value.
void TCO2Laser::SetPwmRatio(double Ratio) {
  SetCO2Power(Ratio);
}

void TCO2Laser::LaserOn() {
  RunSwitchOn([&] {
    if (GLaserPwmPort != nullptr) {
      GLaserPwmPort->SetPwmOn(1, true);
    }
    if (!FPrepareOnly) {
      ioport::SetOutput(FCfgLaserDef.CtrlPort, true);
    }
  });
}

void TCO2Laser::LaserOff() {
  if (!FConstructed) {
    return;
  }
  const auto Switch = SwitchOffCall();
  ioport::SetOutput(FCfgLaserDef.CtrlPort, false);
  // The PWM keeps running; the laser idles at the minimum ratio.
  if (GLaserPwmPort != nullptr) {
    GLaserPwmPort->SetPwmOn(1, true);
  }
  DynamicPower(FCfgLaserDef.PWM.MinRatio);
}

void TCO2Laser::EmissionOn() {
  RunSwitchOn([&] {
    TNcLaser::EmissionOn();
    if (ioport::OutputExists(FCfgCO2.ShutterPort)) {
      ioport::SetOutput(FCfgCO2.ShutterPort, true);
    }
    if (!ioport::InputExists(FCfgCO2.ShutterStatus)) {
      std::lock_guard<std::mutex> L(FDelayLock);
      FDelay.Delay(FCfgCO2.ShutterDelay);
    }
  });
}

void TCO2Laser::EmissionOff() {
  const auto Switch = SwitchOffCall();
  TNcLaser::EmissionOff();
  if (ioport::OutputExists(FCfgCO2.ShutterPort)) {
    ioport::SetOutput(FCfgCO2.ShutterPort, false);
  }
}

bool TCO2Laser::GetIsEmissionOn() {
  if (ioport::InputExists(FCfgCO2.ShutterStatus)) {
    return ioport::GetInput(FCfgCO2.ShutterStatus);
  }
  return ioport::GetOutput(FCfgCO2.ShutterPort);
}

bool TCO2Laser::GetIsLaserOn() {
  return ioport::GetOutput(FCfgLaserDef.CtrlPort);
}

int TCO2Laser::ExecuteCmd(int Cmd, double Param) {
  FLastCmd = Cmd;
  return TNcLaser::ExecuteCmd(Cmd, Param);
}

bool TCO2Laser::GetIsBusy() {
  if (FLastCmd != 5) {
    return false;
  }
  if (ioport::InputExists(FCfgCO2.ShutterStatus)) {
    return !ioport::GetInput(FCfgCO2.ShutterStatus);
  }
  std::lock_guard<std::mutex> L(FDelayLock);
  return FDelay.IsBusy();
}

void TCO2Laser::SetLaserMode(int Mode) {
  FLaserMode = Mode;
  if (!ioport::OutputExists(FCfgCO2.ModeSelect0) || !ioport::OutputExists(FCfgCO2.ModeSelect1)) {
    return;
  }
  switch (Mode) {
  case 0:
    ioport::SetOutput(FCfgCO2.ModeSelect0, false);
    ioport::SetOutput(FCfgCO2.ModeSelect1, false);
    break;
  case 1:
    ioport::SetOutput(FCfgCO2.ModeSelect0, true);
    ioport::SetOutput(FCfgCO2.ModeSelect1, false);
    break;
  case 2:
    ioport::SetOutput(FCfgCO2.ModeSelect0, false);
    ioport::SetOutput(FCfgCO2.ModeSelect1, true);
    break;
  default:
    break;
  }
}

int TCO2Laser::GetLaserMode() {
  return FLaserMode;
}

// ---- TYAGLaser ----

void TYAGLaser::LaserOn() {
  RunSwitchOn([&] {
    if (!FPrepareOnly) {
      ioport::SetOutput(FCfgLaserDef.CtrlPort, true);
    }
  });
}

void TYAGLaser::LaserOff() {
  const auto Switch = SwitchOffCall();
  ioport::SetOutput(FCfgLaserDef.CtrlPort, false);
}

bool TYAGLaser::GetIsLaserOn() {
  return ioport::GetOutput(FCfgLaserDef.CtrlPort);
}

void TYAGLaser::SetPwmFreqYAG(std::int32_t /*Freq*/) {}

void TYAGLaser::SetPwmRatioYAG(double /*Ratio*/) {}

} // namespace nclaser
