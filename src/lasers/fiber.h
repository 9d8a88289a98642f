// TFiberLaser: the base of every fiber laser family. Switches through the PWM port and two
// optional enable outputs; sets the diode current through the analog output or through
// the family's own path (SetDiodeCustom).
#pragma once

#include <atomic>
#include <cstdint>

#include "lasers/laser.h"

namespace nclaser {

class TFiberLaser : public TNcLaser {
public:
  double GetDiodeCurrent() override;
  bool GetIsLaserOn() override;
  void DynamicPower(double Value) override;
  void EmissionOn() override;
  void LaserOn() override;
  void LaserOff() override;
  void SetDiodeCurrent(double Value) override;
  void Create(TComponent* AOwner, const TLaserParams& AParams) override;
  void Destroy() override;

  // Slots added after those of TNcLaser.
  virtual bool GetIsQCW();
  // The family's own way to set the diode current (percent); false means "use the analog
  // output".
  virtual bool SetDiodeCustom(double Value);

  void ForceDiodeCurrent(double Value);

protected:
  // The laser-on output DefParams.CtrlPort, written only when the machine has it.
  void SetCtrlPortIfExists(bool On);

  std::atomic<double> FDiodeCurrent;
  std::atomic<double> FLastDiodeCurrent;
  std::int32_t FPWMEnablePort1 = 0;
  std::int32_t FPWMEnablePort2 = 0;
};

} // namespace nclaser
