// The CO2 and YAG lasers, driven only through the machine's I/O.
//
// TCO2Laser: power is one ratio that drives both the PWM duty ratio and the DA voltage
// (ten volts full scale); the PWM runs from construction on and only drops to MinRatio
// when the laser is switched off. A shutter output opens emission; the host learns that
// it is open through GetIsBusy (status input, or a fixed delay without one). Two outputs
// select the laser mode.
// TYAGLaser: one output switches the laser.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "host/io.h"
#include "lasers/laser.h"

namespace nclaser {

class TCO2Laser : public TNcLaser {
public:
  bool GetIsBusy() override;
  int ExecuteCmd(int Cmd, double Param) override;
  int GetLaserMode() override;
  bool GetIsEmissionOn() override;
  bool GetIsLaserOn() override;
  void DynamicPower(double Value) override;
  void EmissionOn() override;
  void EmissionOff() override;
  void LaserOn() override;
  void LaserOff() override;
  void SetLaserMode(int Mode) override;
  void SetPwmRatio(double Ratio) override;
  void Create(TComponent* AOwner, const TLaserParams& AParams) override;
  void Destroy() override;

  // Value is a duty ratio (0 to 1).
  void SetCO2Power(double Value);

private:
  std::mutex FDelayLock; // FDelay is armed and read from different host threads
  TDelayRec FDelay;
  std::atomic<std::int32_t> FLastCmd{0};
  std::atomic<std::int32_t> FLaserMode{0};
  TCO2LaserParam FCfgCO2{};
  // Set once the device base is built: a laser refused for want of a PWM port never
  // drives the machine on its way out.
  bool FConstructed = false;
};

class TYAGLaser : public TNcLaser {
public:
  bool GetIsLaserOn() override;
  void LaserOn() override;
  void LaserOff() override;

  // Slots added after those of TNcLaser; a YAG laser takes its PWM from the host's port.
  virtual void SetPwmFreqYAG(std::int32_t Freq);
  virtual void SetPwmRatioYAG(double Ratio);
};

} // namespace nclaser
