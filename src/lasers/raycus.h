// The Raycus fiber lasers. TRaycusLaser drives the laser through the fiber base's outputs
// and, with a serial port, sends it short ESC commands through its queued thread (no
// status, no alarms). TRayQCWLaser speaks the QCW frames through TRayQCWDriver: pulse
// parameters, laser on/off, the model text and the module faults as its alarm.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "lasers/fiber.h"
#include "lasers/serialthread.h"
#include "raydrv/rayqcwdriver.h"

namespace nclaser {

class TRaycusLaser : public TFiberLaser {
public:
  // Writes one queued command per cycle; when the queue is empty, the diode-current
  // command of the last request, until it has gone out five times.
  class TCommThread : public TBinaryCommThread {
  public:
    explicit TCommThread(TRaycusLaser* AOwner);
    // Under the lock: the new value, written five more times.
    void SetDiodeCurrent(std::uint8_t Percent);

  protected:
    std::string ThreadName() const override { return "Raycus"; }
    std::string DebugLine() const override { return "TRaycus.CommThread"; }
    std::string StartMessage() const override { return "Raycus thread started!"; }
    void InputPhase() override;
    // Any nonzero count, -1 included, counts as written.
    bool WriteDone(int Count) const override { return Count != 0; }
    void PauseAfterWrite() override;
    void IdleRequest() override;

  private:
    void OnChunk(const std::uint8_t* Buffer, int Count);

    TRaycusLaser* FOwner;
    std::uint8_t FDiodeCurrent = 0;        // under FCmdLock
    std::int32_t FDiodeCurrentChanged = 0; // under FCmdLock
  };

  bool GetIsEmissionOn() override;
  bool GetIsLaserOn() override;
  void EmissionOn() override;
  void EmissionOff() override;
  void LaserOn() override;
  void LaserOff() override;
  void PowerOn() override;
  bool SetDiodeCustom(double Value) override;
  void Create(TComponent* AOwner, const TLaserParams& AParams) override;
  void Destroy() override;

  bool GetIsRaycusQCW() const;
  TCommThread* GetCommThread() const { return FCommThread.get(); }

private:
  bool SerialUsable() const { return FCommPort > 0 && FCommThread != nullptr; }
  // Counts as a switch-off and takes back an emission-on not yet written.
  void WithdrawEmissionOn();

  TThreadPtr<TCommThread> FCommThread;
  std::atomic<bool> FIsEmissionOn{false};
  std::int32_t FCommPort = 0;
  TRaycusLaserParams FCfgRay{};
};

class TRayQCWLaser : public TFiberLaser {
public:
  std::string GetDeviceDesc() override;
  int ExecCmd(const std::string& Name, TVariant& Value) override;
  int ExecuteCmd(int Cmd, double Param) override;
  std::string GetAlarmDesc() override;
  double GetDiodeCurrent() override;
  bool GetIsEmissionOn() override;
  bool GetIsLaserOn() override;
  void EmissionOn() override;
  void EmissionOff() override;
  void LaserOn() override;
  void LaserOff() override;
  void UpdateAlarms() override;
  bool GetIsQCW() override;
  bool SetDiodeCustom(double Value) override;
  void Create(TComponent* AOwner, const TLaserParams& AParams) override;
  void Destroy() override;

  void InitLaserParam();
  TRayQCWDriver* GetDriver() const { return FRayQCWDriver.get(); }

private:
  // The link is usable and the pulse model is QCW.
  bool LinkQCW();

  std::int32_t FLaserCtrlPort = 0;
  std::int32_t FLaserCommPort = 0;
  std::atomic<bool> FIsEmissionOn{false};
  std::unique_ptr<TRayQCWDriver> FRayQCWDriver;
  TRaycusLaserParams FCfgRay{};
  // LaserOff during LaserOn's exchanges: the laser-on that would follow is not sent.
  std::mutex FSwitchLock;
  std::uint32_t FLaserOffs = 0;
};

} // namespace nclaser
