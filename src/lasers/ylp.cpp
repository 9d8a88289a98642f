#include "lasers/ylp.h"

#include <cmath>
#include <cstdint>

#include "host/clock.h"
#include "lasers/factory.h"
#include "lasers/ioports.h"

namespace nclaser {

namespace {

const TLaserClassRegistrar GRegYLP{
    {"TIPGYLPLaser", &NewLaser<TIPGYLPLaser>, eltIPG, SubTypeBit(ltYLP), 120}};

// The lowest power the laser is given, percent.
constexpr double KMinPower = 6.3;

} // namespace

// The configuration comes first: the fiber base's first diode current already writes the
// power bits.
void TIPGYLPLaser::Create(TComponent* AOwner, const TLaserParams& AParams) {
  FCfgIPG = AParams.CfgIPG;
  TFiberLaser::Create(AOwner, AParams);
}

void TIPGYLPLaser::LaserOn() {
  RunSwitchOn([&] {
    const TIPGYLPLaserParam& P = FCfgIPG.YLP;
    if (!P.YLPIndependentEmsOn) {
      if (ioport::OutputExists(P.YLPMO)) {
        ioport::SetOutput(P.YLPMO, true);
      }
      Sleep(5);
    }
    TFiberLaser::LaserOn();
  });
}

void TIPGYLPLaser::LaserOff() {
  const auto Switch = SwitchOffCall();
  TFiberLaser::LaserOff();
  const TIPGYLPLaserParam& P = FCfgIPG.YLP;
  if (!P.YLPIndependentEmsOn && ioport::OutputExists(P.YLPMO)) {
    ioport::SetOutput(P.YLPMO, false);
  }
}

void TIPGYLPLaser::EmissionOn() {
  RunSwitchOn([&] {
    TFiberLaser::EmissionOn();
    const TIPGYLPLaserParam& P = FCfgIPG.YLP;
    if (P.YLPIndependentEmsOn && ioport::OutputExists(P.YLPMO)) {
      ioport::SetOutput(P.YLPMO, true);
    }
  });
}

void TIPGYLPLaser::EmissionOff() {
  const auto Switch = SwitchOffCall();
  TFiberLaser::EmissionOff();
  const TIPGYLPLaserParam& P = FCfgIPG.YLP;
  if (P.YLPIndependentEmsOn && ioport::OutputExists(P.YLPMO)) {
    ioport::SetOutput(P.YLPMO, false);
  }
}

bool TIPGYLPLaser::GetIsEmissionOn() {
  return ioport::GetOutput(FCfgIPG.YLP.YLPMO);
}

bool TIPGYLPLaser::SetDiodeCustom(double Value) {
  TFiberLaser::SetDiodeCustom(Value);
  const TIPGYLPLaserParam& P = FCfgIPG.YLP;
  if (Value < KMinPower) {
    Value = KMinPower;
  }
  const double Scaled = std::ceil(Value * 255 * 0.01);
  // Only bits 4 to 7 are wired; keep the code in range before it becomes an integer.
  const auto C = static_cast<std::int64_t>(std::fmin(Scaled, 1e15));
  ioport::SetOutput(P.YLPPower8, ((C >> 7) & 1) != 0);
  ioport::SetOutput(P.YLPPower7, ((C >> 6) & 1) != 0);
  ioport::SetOutput(P.YLPPower6, ((C >> 5) & 1) != 0);
  ioport::SetOutput(P.YLPPower5, ((C >> 4) & 1) != 0);
  Sleep(P.YLPPowerDelay1);
  ioport::SetOutput(P.YLPLock, true);
  Sleep(P.YLPPowerDelay2);
  ioport::SetOutput(P.YLPLock, false);
  return true;
}

void TIPGYLPLaser::UpdateAlarms() {
  TFiberLaser::UpdateAlarms();
  const TIPGYLPLaserParam& P = FCfgIPG.YLP;
  if (P.YLPAlarmIgnore) {
    return;
  }
  const bool Alarm = !ioport::GetInput(P.YLPAlarm16) || ioport::GetInput(P.YLPAlarm21);
  FHasAlarm = Alarm;
  SetAlarmStatus(Alarm);
}

} // namespace nclaser
