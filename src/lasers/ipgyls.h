// TIPGYLSLaser: an IPG YLS fiber laser driven over the network through TIPGYLSDriver:
// power supply, modulation control, emission, guide laser and pump current by binary
// commands; state and alarms from the laser's status words.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include "ipgdrv/ylsdriver.h"
#include "lasers/fiber.h"

namespace nclaser {

class TIPGYLSLaser : public TFiberLaser {
public:
  std::string GetDeviceDesc() override;
  int ExecCmd(const std::string& Name, TVariant& Value) override;
  int ExecuteCmd(int Cmd, double Param) override;
  std::string GetAlarmDesc() override;
  double GetDiodeCurrent() override;
  bool GetIsAimingOn() override;
  bool GetIsEmissionOn() override;
  void EmissionOn() override;
  void EmissionOff() override;
  // The fiber base's LaserOff; a running emission sequence is cut short first, so it sends
  // no emission-on after this returns.
  void LaserOff() override;
  void PowerOn() override;
  void SetAimingOn(bool On) override;
  void UpdateAlarms() override;
  // Refuses every IPGType but the networked YLS ones.
  void Create(TComponent* AOwner, const TLaserParams& AParams) override;
  // The fiber base's tear-down (emission off through the live driver), then the driver.
  void Destroy() override;
  bool SetDiodeCustom(double Value) override;

  TIPGYLSDriver* GetDriver() const { return FIPGYLSDriver.get(); }
  bool GetEmissionOnFlag() const { return FEmissionOn; }

private:
  bool Connected() const { return FIPGYLSDriver && FIPGYLSDriver->GetConnected(); }
  void Progress(const std::string& Text) const;
  // Pauses the emission sequence begun at generation Gen; false when EmissionOff (or
  // Destroy) has cut it short meanwhile.
  bool SequencePause(int Ms, std::uint64_t Gen);
  bool SequenceLive(std::uint64_t Gen);
  void CutSequences();

  bool FUseNetCtrl = false;
  std::int32_t FPowerCtrlPort = 0;
  bool FPowerCtrl = false;
  bool FDebugMode = false;
  std::atomic<bool> FAimingOn{false};
  std::atomic<bool> FEmissionOn{false};
  std::unique_ptr<TIPGYLSDriver> FIPGYLSDriver;
  TIPGLaserParams FCfgIPG{};
  bool FIgnoreResult = false;

  // Emission sequences in progress and their cut-off: EmissionOff bumps the generation
  // under the lock, so no sequence begun before it sends emission on afterwards.
  std::mutex FSeqLock;
  std::condition_variable FSeqChanged;
  std::uint64_t FSeqGen = 0; // under FSeqLock
  int FSeqRunning = 0;       // under FSeqLock
};

} // namespace nclaser
