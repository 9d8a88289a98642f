// TSPILaser and TSPI1000Laser: SPI fiber lasers on a serial line, short packets with an
// 8-bit sum. Their threads write one queued packet per cycle and poll the laser's status
// whenever the queue is empty; the status answers set the emission, aiming and alarm
// flags. The two classes differ in command codes, status layout and in the 1000 series'
// use of the emission output.
#pragma once

#include <atomic>
#include <cstdint>
#include <span>
#include <string>

#include "lasers/fiber.h"
#include "lasers/serialthread.h"

namespace nclaser {

// The thread both SPI classes run: packets built around a command code, reads until the
// port has nothing more (20 ms after each), 20 ms after each write, and a write that
// reports any nonzero count counts as done.
class TSPICommThread : public TBinaryCommThread {
public:
  using TBinaryCommThread::TBinaryCommThread;
  // Builds the packet around Code and Data and queues it; one that would not fit a queued
  // command is dropped.
  void LockAddCmd(std::uint8_t Code, std::span<const std::uint8_t> Data = {});
  // Withdraws queued packets with this command code (and, when given, this first data
  // byte) that have not gone out yet.
  int LockRemoveCmd(std::uint8_t Code, int Data0 = -1);

protected:
  void InputPhase() override;
  bool WriteDone(int Count) const override { return Count != 0; }
  void PauseAfterWrite() override;
  // Packets still queued when the laser is torn down (its closing emission-off among
  // them) go out before the port closes, for at most 250 ms.
  void AfterLoop() override;
  // One chunk of input; true when it was a status answer of the class.
  virtual bool OnChunk(const std::uint8_t* Buffer, int Count) = 0;
  // Writes a fixed packet directly, without queueing.
  void WriteDirect(std::span<const std::uint8_t> Packet);
};

class TSPILaser : public TFiberLaser {
public:
  class TCommThread : public TSPICommThread {
  public:
    explicit TCommThread(TSPILaser* AOwner);

  protected:
    std::string ThreadName() const override { return "SPILaser"; }
    std::string DebugLine() const override { return "TSPILaser.CommThread"; }
    bool OnChunk(const std::uint8_t* Buffer, int Count) override;
    void IdleRequest() override;

  private:
    TSPILaser* FOwner;
  };

  bool GetIsAimingOn() override;
  bool GetIsEmissionOn() override;
  void EmissionOn() override;
  void EmissionOff() override;
  void LaserOff() override;
  void PowerOn() override;
  void SetAimingOn(bool On) override;
  void UpdateAlarms() override;
  void Create(TComponent* AOwner, const TLaserParams& AParams) override;
  bool SetDiodeCustom(double Value) override;
  void Destroy() override;

  // The two data bytes of a status answer.
  void UpdateStatus(std::uint8_t Data0, std::uint8_t Data1);

  bool GetHasAlarm() const { return FHasAlarm; }
  bool HasCommThread() const { return FCommThread != nullptr; }

private:
  // Takes back the emission packets not yet written and stops an EmissionOn in progress
  // from queueing them: none may go out after a switch-off returned.
  void WithdrawEmissionOn();
  bool SerialUsable() const { return FCommPort > 0 && FCommThread != nullptr; }

  TThreadPtr<TCommThread> FCommThread;
  std::atomic<bool> FHasAlarm{false};
  std::atomic<bool> FIsAimingOn{false};
  std::atomic<bool> FIsEmissionOn{false};
  std::int32_t FCommPort = 0;
  TSPILaserParam FCfgSPI{};
};

class TSPI1000Laser : public TFiberLaser {
public:
  class TCommThread : public TSPICommThread {
  public:
    explicit TCommThread(TSPI1000Laser* AOwner);

  protected:
    std::string ThreadName() const override { return "SPI1000Laser"; }
    std::string DebugLine() const override { return "TSPI1000Laser.CommThread"; }
    std::string SendLogPrefix() const override { return "Send: "; }
    bool OnChunk(const std::uint8_t* Buffer, int Count) override;
    void IdleRequest() override;

  private:
    TSPI1000Laser* FOwner;
  };

  bool GetIsAimingOn() override;
  bool GetIsEmissionOn() override;
  void EmissionOn() override;
  void EmissionOff() override;
  void LaserOff() override;
  void PowerOn() override;
  void SetAimingOn(bool On) override;
  void UpdateAlarms() override;
  void Create(TComponent* AOwner, const TLaserParams& AParams) override;
  bool SetDiodeCustom(double Value) override;
  void Destroy() override;

  // The data bytes of a status answer and their count.
  void UpdateStatus(const std::uint8_t* Data, int Count);

  double GetActualPower() const { return FActualPower; }
  bool GetHasAlarm() const { return FHasAlarm; }
  bool HasCommThread() const { return FCommThread != nullptr; }

private:
  // Takes back the emission packets not yet written and stops an EmissionOn in progress
  // from queueing them: none may go out after a switch-off returned.
  void WithdrawEmissionOn();
  bool SerialUsable() const { return FCommPort > 0 && FCommThread != nullptr; }

  std::atomic<double> FActualPower{0.0};
  TThreadPtr<TCommThread> FCommThread;
  std::atomic<bool> FHasAlarm{false};
  std::atomic<bool> FIsAimingOn{false};
  std::atomic<bool> FIsEmissionOn{false};
  std::int32_t FCommPort = 0;
  TSPILaserParam FCfgSPI{};
};

} // namespace nclaser
