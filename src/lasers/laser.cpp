#include "lasers/laser.h"

#include <cmath>
#include <limits>
#include <mutex>

#include "host/alarms.h"
#include "host/io.h"
#include "lasers/alarm.h"
#include "strings/messages.h"

namespace nclaser {

TNcLaser::TNcLaser()
    : FAlarmID(0), FPrepareOnly(false), FPwmFreq(0), FPwmRatio(0.0),
      FCfgLaserDef(TLaserParamsDef{}), FAlarmLink(std::make_shared<TLaserAlarmLink>()) {
  FAlarmLink->Laser = this;
}

TNcLaser::~TNcLaser() {
  std::lock_guard<std::mutex> L(FAlarmLink->Lock);
  FAlarmLink->Laser = nullptr;
}

std::string TNcLaser::GetDeviceDesc() {
  return FCfgLaserDef.Model;
}

bool TNcLaser::GetIsBusy() {
  return false;
}

int TNcLaser::ExecCmd(const std::string& Name, TVariant& Value) {
  return TNcDevice::ExecCmd(Name, Value);
}

int TNcLaser::ExecuteCmd(int Cmd, double Param) {
  switch (Cmd) {
  case 0:
    LaserOff();
    break;
  case 1:
    LaserOn();
    break;
  case 2:
    SetAimingOn(false);
    break;
  case 3:
    SetAimingOn(true);
    break;
  case 4:
    EmissionOff();
    break;
  case 5:
    EmissionOn();
    break;
  case 6:
    if (GetIsEmissionOn()) {
      EmissionOff();
    } else {
      EmissionOn();
    }
    break;
  case 11:
    SetPwmRatio(Param);
    break;
  case 12:
  case 13: {
    const double Step = Param < 0.01 ? 0.01 : Param;
    SetPwmRatio(Cmd == 12 ? GetPwmRatio() - Step : GetPwmRatio() + Step);
    break;
  }
  case 14:
    SetPwmFreq(RoundHalfEven(Param));
    break;
  case 17:
    SetLaserMode(RoundHalfEven(Param));
    break;
  case 20:
    SetDiodeCurrent(Param * 100.0);
    break;
  case 21:
    SetDiodeCurrent(Param);
    break;
  case 22:
  case 23: {
    const double Step = Param < 1.0 ? 1.0 : Param;
    SetDiodeCurrent(Cmd == 22 ? GetDiodeCurrent() - Step : GetDiodeCurrent() + Step);
    break;
  }
  case 25:
    PowerOn();
    break;
  case 26:
    LaserOnPrepare();
    break;
  case 2102:
    return 100;
  default:
    break;
  }
  return 0;
}

void TNcLaser::Stop(TNcStopReason AReason) {
  TNcDevice::Stop(AReason);
  LaserOff();
}

std::string TNcLaser::GetAlarmDesc() {
  return FCfgLaserDef.Model + SLaserAlarm.Get();
}

double TNcLaser::GetDiodeCurrent() {
  return 100.0;
}

int TNcLaser::GetLaserMode() {
  return 0;
}

bool TNcLaser::GetIsAimingOn() {
  if (GPOutput == nullptr) {
    return false;
  }
  const bool Level = GPOutput->GetOutputBit(PortByte(FCfgLaserDef.AimingPort));
  return FCfgLaserDef.AimingLowActive ? !Level : Level;
}

bool TNcLaser::GetIsEmissionOn() {
  return false;
}

int TNcLaser::GetPwmFreq() {
  // Without a PWM port the laser reports what it was last told.
  return GLaserPwmPort != nullptr ? RoundHalfEven(GLaserPwmPort->GetFrequency(1)) : FPwmFreq.load();
}

double TNcLaser::GetPwmRatio() {
  return GLaserPwmPort != nullptr ? GLaserPwmPort->GetRatio(1) : FPwmRatio.load();
}

void TNcLaser::DynamicPower(double /*Value*/) {}
void TNcLaser::EmissionOn() {}
void TNcLaser::EmissionOff() {}

void TNcLaser::LaserOnPrepare() {
  FPrepareOnly = true;
  try {
    LaserOn();
  } catch (...) {
    FPrepareOnly = false;
    throw;
  }
  FPrepareOnly = false;
}

void TNcLaser::PowerOn() {}
void TNcLaser::PowerOff() {}

void TNcLaser::SetAimingOn(bool On) {
  if (GPOutput != nullptr) {
    GPOutput->SetOutputbit(PortByte(FCfgLaserDef.AimingPort),
                           FCfgLaserDef.AimingLowActive ? !On : On);
  }
}

void TNcLaser::SetDiodeCurrent(double /*Value*/) {}
void TNcLaser::SetLaserMode(int /*Mode*/) {}

void TNcLaser::SetPwmFreq(int Freq) {
  FPwmFreq = Freq;
  if (GLaserPwmPort != nullptr) {
    GLaserPwmPort->SetFrequency(1, static_cast<double>(Freq));
  }
}

void TNcLaser::SetPwmRatio(double Ratio) {
  FPwmRatio = Ratio;
  if (GLaserPwmPort != nullptr) {
    GLaserPwmPort->SetRatio(1, Ratio);
  }
}

void TNcLaser::UpdateAlarms() {}

void TNcLaser::Create(TComponent* AOwner, const TLaserParams& AParams) {
  TNcDevice::Create(AOwner);
  FCfgLaserDef = AParams.DefParams;
  FPwmRatio = AParams.DefParams.PWM.Ratio;
  FPwmFreq = AParams.DefParams.PWM.Frequency;
}

void TNcLaser::Destroy() {
  BeforeDestruction();
  LaserOff();
  TNcDevice::Destroy();
}

void TNcLaser::BeforeDestruction() {
  {
    std::lock_guard<std::mutex> L(FAlarmLink->Lock);
    FAlarmLink->Laser = nullptr;
  }
  if (FAlarmRaised && NcAlarms != nullptr) {
    FAlarmRaised = false;
    NcAlarms->Check(false, FAlarmID, {});
  }
}

void TNcLaser::RegisterAlarms() {
  if (NcAlarms != nullptr) {
    FAlarmID = NcAlarms->NewAlarmID(1);
  }
}

void TNcLaser::SetAlarmStatus(bool Active) {
  if (NcAlarms == nullptr) {
    return;
  }
  NcAlarms->Check(Active, FAlarmID, [this] {
    NcAlarms->Add(std::make_unique<TNcLaserAlarm>(this, FAlarmLink));
    FAlarmRaised = true;
  });
}

double TNcLaser::CurrentToVoltage(double Fraction) const {
  const double V = Fraction * FCfgLaserDef.DA.MaxVoltage;
  if (V < 0.0) {
    return 0.0;
  }
  if (V > FCfgLaserDef.DA.MaxVoltage) {
    return FCfgLaserDef.DA.MaxVoltage;
  }
  return V;
}

Byte TNcLaser::GetCurrentDAPort() const {
  return PortByte(FCfgLaserDef.DA.DAPort);
}

std::uint32_t TNcLaser::SwitchOffs() {
  std::lock_guard<std::mutex> L(FSwitchLock);
  return FSwitchOffs;
}

bool TNcLaser::IfNoSwitchOffSince(std::uint32_t Seen, const std::function<void()>& Step) {
  std::lock_guard<std::mutex> L(FSwitchLock);
  if (FSwitchOffs != Seen) {
    return false;
  }
  Step();
  return true;
}

void TNcLaser::NoteSwitchOff() {
  std::lock_guard<std::mutex> L(FSwitchLock);
  ++FSwitchOffs;
}

std::int32_t RoundHalfEven(double Value) {
  if (std::isnan(Value)) {
    return 0;
  }
  const double R = std::nearbyint(Value);
  if (R >= static_cast<double>(std::numeric_limits<std::int32_t>::max())) {
    return std::numeric_limits<std::int32_t>::max();
  }
  if (R <= static_cast<double>(std::numeric_limits<std::int32_t>::min())) {
    return std::numeric_limits<std::int32_t>::min();
  }
  return static_cast<std::int32_t>(R);
}

} // namespace nclaser
