// TNLightLaser: an NLight fiber laser whose system power, emission enable and aiming beam
// are switched over a serial line with lower-case text commands; the set point goes out on
// the analog output. The thread asks for the laser's maximum power until an answer above
// 10 W proves the link.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "lasers/fiber.h"
#include "lasers/serialthread.h"

namespace nclaser {

class TNLightLaser : public TFiberLaser {
public:
  class TCommThread : public TQueuedCommThread<std::string> {
  public:
    // Opens the port at once.
    explicit TCommThread(TNLightLaser* ALaser);
    // Queues the text lower-cased.
    void LockAddCmd(const std::string& Cmd);

  protected:
    std::string ThreadName() const override { return "NLight"; }
    std::string DebugLine() const override { return "TNLight.CommThread"; }
    std::string StartMessage() const override { return "NLight thread started"; }
    void InputPhase() override;
    void PauseAfterWrite() override { SleepA(200); }
    void IdleRequest() override;

  private:
    TNLightLaser* FLaser;
  };

  bool GetIsAimingOn() override;
  bool GetIsEmissionOn() override;
  void EmissionOn() override;
  void EmissionOff() override;
  // The fiber base's LaserOff, after the switch-ons still queued are taken back.
  void LaserOff() override;
  void SetAimingOn(bool On) override;
  void Create(TComponent* AOwner, const TLaserParams& AParams) override;
  bool SetDiodeCustom(double Value) override;
  void Destroy() override;

  double GetMaxPower() const { return FMaxPower; }
  bool HasCommThread() const { return FCommThread != nullptr; }
  // The thread's once-flag: the connected message has been shown.
  bool Connected() const { return FCommThread != nullptr && FCommThread->OnceTaken(); }

private:
  void WithdrawSwitchOns();

  bool HasLink() const { return FCommPort > 0 && FCommThread != nullptr; }

  TThreadPtr<TCommThread> FCommThread;
  std::atomic<bool> FIsAimingOn{false};
  std::atomic<bool> FIsEmissionOn{false};
  std::atomic<double> FMaxPower{0.0};
  std::int32_t FCommPort = 0;
  TLaserCommParam FCfgNLight{};
};

} // namespace nclaser
