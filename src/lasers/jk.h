// TJKLaser: a JK/GSI fiber laser on a serial line, binary frames with address and CRC-16.
// Its thread polls the laser's state with a status request whenever it has nothing else
// to send, and holds an emission (0x02) frame back until the laser reports it is ready.
#pragma once

#include <atomic>
#include <cstdint>
#include <span>
#include <string>

#include "lasers/fiber.h"
#include "lasers/serialthread.h"

namespace nclaser {

class TJKLaser : public TFiberLaser {
public:
  class TCommThread : public TBinaryCommThread {
  public:
    explicit TCommThread(TJKLaser* ALaser);
    // Frames the data with the thread's address and CRC, then queues the frame.
    void LockAddCmd(std::span<const std::uint8_t> Data);
    // Queues a complete frame when it is 1 to 28 bytes long.
    void LockAddCmdWithCRC(std::span<const std::uint8_t> Frame);

  protected:
    std::string ThreadName() const override { return "GSI/JK"; }
    std::string DebugLine() const override { return "TJKLaser.CommThread"; }
    void InputPhase() override;
    bool HoldBack(const TCommCmd& Head) override;
    void AfterSend(bool Written) override;
    void AfterLoop() override;

  private:
    void Decode(const std::uint8_t* Buffer, int Count);

    std::uint8_t FAddr;
    TJKLaser* FLaser;
  };

  int ExecuteCmd(int Cmd, double Param) override;
  std::string GetAlarmDesc() override;
  bool GetIsAimingOn() override;
  bool GetIsEmissionOn() override;
  void EmissionOn() override;
  void EmissionOff() override;
  // The fiber base's LaserOff, after the emission frames still queued are taken back.
  void LaserOff() override;
  void PowerOn() override;
  void SetAimingOn(bool On) override;
  void UpdateAlarms() override;
  void Create(TComponent* AOwner, const TLaserParams& AParams) override;
  bool SetDiodeCustom(double Value) override;
  void Destroy() override;

  // Queues 01 (standby) and takes state 2.
  void Standby();
  // Queues one command's data through the thread; nothing without a thread.
  void LockAddCmd(std::span<const std::uint8_t> Data);

  // What the laser last reported (or the class last set).
  std::int32_t GetLaserStatus() const { return FLaserStatus; }
  std::int32_t GetLaserAlarm() const { return FLaserAlarm; }
  std::int32_t GetLaserActiveParamSet() const { return FLaserActiveParamSet; }
  bool HasCommThread() const { return FCommThread != nullptr; }

private:
  void WithdrawEmission();

  TThreadPtr<TCommThread> FCommThread;
  std::atomic<std::int32_t> FLaserActiveParamSet{0};
  std::atomic<std::int32_t> FLaserAlarm{0};
  std::atomic<std::int32_t> FLaserStatus{0};
  std::atomic<bool> FIsAimingOn{false};
  std::int32_t FCommPort = 0;
  TGSILaserParam FCfgGSI{};
};

} // namespace nclaser
