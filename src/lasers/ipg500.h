// TIPG500Laser: an IPG YLR fiber laser driven through TIPGYLRDriver over a serial line or
// TCP, with the machine's power-control output and, optionally, the laser-on output.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "ipgdrv/ylrdriver.h"
#include "lasers/fiber.h"
#include "runtime/thread.h"

namespace nclaser {

class TIPG500Laser;

// Runs the timed part of the start-up: the 1200 ms power-control pulse, then the switch-on
// commands. Frees itself when it ends.
class TIPG500PowerOnThread : public TThread {
public:
  explicit TIPG500PowerOnThread(TIPG500Laser* AOwner);

protected:
  void Execute() override;
  void DoTerminate() override;

private:
  // The power-control output low: the end of the pulse PowerOn started.
  void EndPulse();

  TIPG500Laser* FOwner;
  bool FPulseEnded = false;
};

class TIPG500Laser : public TFiberLaser {
public:
  std::string GetDeviceDesc() override;
  int ExecCmd(const std::string& Name, TVariant& Value) override;
  int ExecuteCmd(int Cmd, double Param) override;
  std::string GetAlarmDesc() override;
  double GetDiodeCurrent() override;
  bool GetIsAimingOn() override;
  bool GetIsEmissionOn() override;
  bool GetIsLaserOn() override;
  void EmissionOn() override;
  void EmissionOff() override;
  void LaserOn() override;
  void LaserOff() override;
  void PowerOn() override;
  void SetAimingOn(bool On) override;
  void UpdateAlarms() override;
  void Create(TComponent* AOwner, const TLaserParams& AParams) override;
  void Destroy() override;
  bool GetIsQCW() override;
  bool SetDiodeCustom(double Value) override;

  bool GetIsUseOutputLaserOn() const;

  TIPGYLRDriver* GetDriver() const { return FIPGYLRDriver.get(); }
  // Whether a power-on thread is running.
  bool HasPowerOnThread();

private:
  friend class TIPG500PowerOnThread;
  // Forgets Thread as the running power-on thread, unless a newer one has taken its place.
  void ClearPowerOnThread(const TThreadRef& Thread);
  // Stops a running power-on thread and waits until it has ended.
  void StopPowerOnThread();

  std::atomic<bool> FAimingOn{false};
  std::atomic<bool> FEmissionOn{false};
  TThreadRef FPowerOnThread; // under FPowerOnLock
  std::unique_ptr<TIPGYLRDriver> FIPGYLRDriver;
  bool FIsUseComm = false;
  bool FIgnoreCommResult = false;
  TIPGLaserParams FCfgIPG{};
  std::mutex FPowerOnLock;
};

} // namespace nclaser
