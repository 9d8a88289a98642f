// TIPGYLPLaser: an IPG YLP pulsed laser wired to the machine's I/O: a master-oscillator
// output, the power as four bits with a latch pulse, and two alarm inputs.
#pragma once

#include <atomic>

#include "lasers/fiber.h"

namespace nclaser {

class TIPGYLPLaser : public TFiberLaser {
public:
  bool GetIsEmissionOn() override;
  void EmissionOn() override;
  void EmissionOff() override;
  void LaserOn() override;
  void LaserOff() override;
  void UpdateAlarms() override;
  bool SetDiodeCustom(double Value) override;
  void Create(TComponent* AOwner, const TLaserParams& AParams) override;

  bool GetHasAlarm() const { return FHasAlarm; }

private:
  std::atomic<bool> FHasAlarm{false};
  TIPGLaserParams FCfgIPG{};
};

} // namespace nclaser
