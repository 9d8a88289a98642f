// TCASLaser and TQingHuaLaser: fiber lasers whose serial commands are short ASCII texts
// the plug-in sends without reading an answer back (CAS input is only logged, QingHua's
// thread never reads). Where no port is configured the set point goes out on the analog
// output, as for any fiber laser.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "lasers/fiber.h"
#include "lasers/serialthread.h"

namespace nclaser {

class TCASLaser : public TFiberLaser {
public:
  class TCommThread : public TBinaryCommThread {
  public:
    explicit TCommThread(const TLaserCommParam& Cfg);
    // Queues the bytes as they are (1 to 28 of them).
    void LockAddCmd(std::string_view Data);

  protected:
    std::string ThreadName() const override { return "CAS"; }
    std::string DebugLine() const override { return "TCAS.CommThread"; }
    std::string StartMessage() const override { return "CAS thread started"; }
    std::string PortOpenMessage() const override { return "Open serial port successfully"; }
    void InputPhase() override;
    void PauseAfterWrite() override { Sleep(30); }
  };

  bool GetIsAimingOn() override;
  bool GetIsEmissionOn() override;
  void EmissionOn() override;
  void EmissionOff() override;
  void LaserOn() override;
  void LaserOff() override;
  void PowerOn() override;
  void SetAimingOn(bool On) override;
  void Create(TComponent* AOwner, const TLaserParams& AParams) override;
  bool SetDiodeCustom(double Value) override;
  void Destroy() override;

  // The last set point given; also asks the laser for it unless its answers are ignored
  // (the answer is only logged).
  double GetDiodeCustom();
  bool HasCommThread() const { return FCommThread != nullptr; }

private:
  bool HasLink() const { return FCommPort > 0 && FCommThread != nullptr; }

  TThreadPtr<TCommThread> FCommThread;
  std::atomic<bool> FIsAimingOn{false};
  std::atomic<bool> FIsEmissionOn{false};
  // The last value given to SetDiodeCustom, unclamped (the fiber base keeps its own).
  std::atomic<double> FDiodeCurrent{0.0};
  std::int32_t FCommPort = 0;
  bool FIgnoreCommResult = false;
  TLaserCommParam FCfgCAS{};
};

class TQingHuaLaser : public TFiberLaser {
public:
  class TCommThread : public TBinaryCommThread {
  public:
    explicit TCommThread(const TLaserCommParam& Cfg);
    // Queues the "w6" frame of Channel around Data when it fits a command.
    void LockAddCmd(int Channel, std::string_view Data);

  protected:
    std::string ThreadName() const override { return "QingHua"; }
    std::string StartMessage() const override { return "QingHua thread start"; }
    std::string PortOpenMessage() const override { return "Open serial port successfully!"; }
    void PauseAfterWrite() override { SleepA(200); }
  };

  bool GetIsLaserOn() override;
  void LaserOn() override;
  void LaserOff() override;
  // This make's emission is its laser-on: a laser-on still waiting for the port is taken
  // back, so nothing switches on after this call returned.
  void EmissionOff() override;
  void PowerOn() override;
  void Create(TComponent* AOwner, const TLaserParams& AParams) override;
  bool SetDiodeCustom(double Value) override;
  void Destroy() override;

  bool HasCommThread() const { return FCommThread != nullptr; }

private:
  bool HasLink() const { return FCommPort > 0 && FCommThread != nullptr; }

  TThreadPtr<TCommThread> FCommThread;
  std::atomic<bool> FIsLaserOn{false};
  std::int32_t FCommPort = 0;
  TLaserCommParam FCfgQH{};
};

} // namespace nclaser
