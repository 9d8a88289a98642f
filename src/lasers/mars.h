// TMarsLaser: a Mars fiber laser on a serial line, text commands ("KEY=VALUE", "?KEY").
// Its thread polls the status word (and the maximum power until the laser has reported
// one), recognises which of the two status formats the laser speaks, and the status bits
// become the laser's alarm. The set point goes out in tenths of a watt, scaled by the
// maximum power the laser reported.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "lasers/fiber.h"
#include "lasers/serialthread.h"
#include "protocols/mars.h"

namespace nclaser {

class TMarsLaser : public TFiberLaser {
public:
  using TVersion = mars::TVersion;

  class TCommThread : public TQueuedCommThread<std::string> {
  public:
    explicit TCommThread(TMarsLaser* ALaser);
    void LockAddCmd(std::string Cmd) { LockAdd(std::move(Cmd)); }
    // The answer parsers; each ignores a text that is not its answer.
    void GetMaxPower(const std::string& Text);
    void GetLaserState(const std::string& Text);

  protected:
    std::string ThreadName() const override { return "Mars"; }
    std::string DebugLine() const override { return "TMars.CommThread"; }
    std::string StartMessage() const override { return "Mars thread started"; }
    void InputPhase() override;
    void PauseAfterWrite() override { SleepA(200); }
    void IdleRequest() override;

  private:
    TMarsLaser* FLaser;
  };

  std::string GetAlarmDesc() override;
  bool GetIsAimingOn() override;
  bool GetIsEmissionOn() override;
  void EmissionOn() override;
  void EmissionOff() override;
  // The fiber base's LaserOff, after an emission-on still queued is taken back.
  void LaserOff() override;
  void PowerOn() override;
  void SetAimingOn(bool On) override;
  void UpdateAlarms() override;
  void Create(TComponent* AOwner, const TLaserParams& AParams) override;
  bool SetDiodeCustom(double Value) override;
  void Destroy() override;

  double GetDiodeCustom() const { return FDiodeCurrent; }
  // Fills the two bit -> text dictionaries from the message catalogue as it reads now.
  void InitStateInfo();
  // True when a set bit of Digits has a text in the dictionary of the recognised format;
  // Text is then the text of the highest such bit.
  bool GetStatusDes(const std::vector<std::uint8_t>& Digits, std::string& Text) const;

  TVersion GetVersion() const { return FVersion; }
  double GetMaxPower() const { return FMaxPower; }
  std::vector<std::uint8_t> GetLaserState() const;
  bool HasCommThread() const { return FCommThread != nullptr; }
  // The thread's once-flag: the connected message has been shown.
  bool Connected() const { return FCommThread != nullptr && FCommThread->OnceTaken(); }

private:
  void WithdrawEmissionOn();

  std::map<int, std::string> FAlarmDicVer101;
  std::map<int, std::string> FAlarmDicVer102;
  std::atomic<TVersion> FVersion{TVersion::VerN};
  TThreadPtr<TCommThread> FCommThread;
  std::string FLaserAlarmDes;
  std::atomic<bool> FIsAimingOn{false};
  std::atomic<bool> FIsEmissionOn{false};
  // The last value given to SetDiodeCustom (the fiber base keeps its own request).
  std::atomic<double> FDiodeCurrent{0.0};
  std::atomic<double> FMaxPower{0.0};
  // Written by the thread as a whole, read by host calls; the lock also covers
  // FLaserAlarmDes, which the alarm list reads from its own thread.
  mutable std::mutex FStateLock;
  std::vector<std::uint8_t> FLaserState;
  std::int32_t FCommPort = 0;
  TLaserCommParam FCfgMars{};
};

} // namespace nclaser
