#include "lasers/fiber.h"

#include <cmath>

#include "host/clock.h"
#include "host/io.h"
#include "lasers/ioports.h"

namespace nclaser {

void TFiberLaser::Create(TComponent* AOwner, const TLaserParams& AParams) {
  TNcLaser::Create(AOwner, AParams);
  // The setters below reach the family's overrides; a family has its driver or thread in
  // place before it calls this.
  SetPwmRatio(AParams.DefParams.PWM.Ratio);
  if (GLaserPwmPort != nullptr) {
    GLaserPwmPort->SetPwmOn(1, false);
    GLaserPwmPort->SetRatio(1, AParams.DefParams.PWM.Ratio);
  }
  SetDiodeCurrent(AParams.DefParams.PWM.DiodeCurrent);
  FLastDiodeCurrent = 0.0;
  FPWMEnablePort1 = AParams.DefParams.PWM.EnablePort1;
  FPWMEnablePort2 = AParams.DefParams.PWM.EnablePort2;
}

void TFiberLaser::Destroy() {
  EmissionOff();
  TNcLaser::Destroy();
}

bool TFiberLaser::GetIsQCW() {
  return false;
}

bool TFiberLaser::SetDiodeCustom(double /*Value*/) {
  return false;
}

double TFiberLaser::GetDiodeCurrent() {
  return FDiodeCurrent;
}

bool TFiberLaser::GetIsLaserOn() {
  return GLaserPwmPort != nullptr && GLaserPwmPort->GetPwmOn(1);
}

void TFiberLaser::DynamicPower(double Value) {
  TNcLaser::DynamicPower(Value);
  SetPwmRatio(Value);
}

void TFiberLaser::EmissionOn() {
  TNcLaser::EmissionOn();
  ForceDiodeCurrent(GetDiodeCurrent());
}

void TFiberLaser::LaserOn() {
  if (GLaserPwmPort != nullptr) {
    GLaserPwmPort->SetFrequency(1, static_cast<double>(FPwmFreq.load()));
    GLaserPwmPort->SetRatio(1, FPwmRatio);
    if (!FPrepareOnly) {
      GLaserPwmPort->SetPwmOn(1, true);
    }
  }
  if (GPOutput != nullptr) {
    for (const std::int32_t Port : {FPWMEnablePort1, FPWMEnablePort2}) {
      if (GPOutput->GetPortExist(PortByte(Port))) {
        GPOutput->SetOutputbit(PortByte(Port), true);
      }
    }
  }
  if (GetIsQCW()) {
    Sleep(20);
  }
}

void TFiberLaser::LaserOff() {
  if (GLaserPwmPort != nullptr) {
    GLaserPwmPort->SetPwmOn(1, false);
  }
  if (GPOutput != nullptr) {
    for (const std::int32_t Port : {FPWMEnablePort1, FPWMEnablePort2}) {
      if (GPOutput->GetPortExist(PortByte(Port))) {
        GPOutput->SetOutputbit(PortByte(Port), false);
      }
    }
  }
}

void TFiberLaser::SetCtrlPortIfExists(bool On) {
  ioport::SetOutputIfExists(FCfgLaserDef.CtrlPort, On);
}

void TFiberLaser::ForceDiodeCurrent(double Value) {
  FDiodeCurrent = Value;
  if (Value > 0.0 && SetDiodeCustom(Value)) {
    FLastDiodeCurrent = Value;
    return;
  }
  if (GPDA != nullptr) {
    GPDA->SetDAValue(GetCurrentDAPort(), CurrentToVoltage(Value / 100.0));
  }
}

void TFiberLaser::SetDiodeCurrent(double Value) {
  TNcLaser::SetDiodeCurrent(Value);
  if (Value > 0.0 && std::fabs(Value - FLastDiodeCurrent) > 0.5) {
    ForceDiodeCurrent(Value);
  }
}

} // namespace nclaser
