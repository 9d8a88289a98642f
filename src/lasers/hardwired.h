// The hardwired fiber lasers: switched through the machine's outputs on top of the fiber
// base. TDefaultLaser and TRofinLaser power up with a timed output sequence run by
// TNcIOThread; its end is handed back through a named completion semaphore, and a named
// lock semaphore admits one sequence per class in the whole system. TMeimanLaser sets
// its pulse frequency and ratio as DA voltages.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "host/sync.h"
#include "lasers/fiber.h"
#include "lasers/iothread.h"
#include "runtime/thread.h"

namespace nclaser {

// The running power-on sequence a laser started: kept so that EmissionOff and the
// laser's teardown can stop it before they write the outputs off.
class TPowerOnSequence {
public:
  // Takes the lock semaphore (at most 100 ms), builds the sequence with AddSteps and
  // starts it. False when another sequence holds the lock.
  bool Start(THandle Lock, THandle Finish, const std::function<void(TNcIOThread&)>& AddSteps);
  // Stops the sequence this laser started writing outputs, at once: no step of it writes
  // after this returns, though its thread may still be ending (wait for the result). A
  // sequence cut short leaves no pulse of its own high.
  TThreadRef Cut();
  // Cut, and wait for the thread's end.
  void Halt() { Cut().WaitFor(); }

private:
  std::mutex FLock;
  TThreadRef FRunning;
  std::shared_ptr<TIOGate> FGate;
  // Outputs the running sequence raises and lowers again later: its pulses.
  std::vector<std::int32_t> FPulsePorts;
};

class TDefaultLaser : public TFiberLaser {
public:
  bool GetIsEmissionOn() override;
  void LaserOn() override;
  void EmissionOn() override;
  void EmissionOff() override;
  void LaserOff() override;
  void Create(TComponent* AOwner, const TLaserParams& AParams) override;
  void Destroy() override;

  std::int32_t GetReadyPort() const { return FCfgOther.ShutterReady; }
  std::int32_t GetReadyDelay() const { return FCfgOther.ShutterReadyDelay; }

private:
  THandle FPowerOnSemaphore = 0;
  THandle FPowerOnThreadLock = 0;
  TOtherLaserParam FCfgOther{};
  // Serialises this laser's EmissionOn and EmissionOff.
  std::mutex FEmissionLock;
  TPowerOnSequence FSequence;
};

class TMaxLaser : public TFiberLaser {
public:
  bool GetIsEmissionOn() override;
  void LaserOn() override;
  void LaserOff() override;
  void EmissionOn() override;
  void EmissionOff() override;
};

class TLPINGLaser : public TFiberLaser {
public:
  void LaserOn() override;
  void LaserOff() override;
};

class TOpticalValleyLaser : public TFiberLaser {
public:
  bool GetIsEmissionOn() override;
  void EmissionOn() override;
  void EmissionOff() override;
  void LaserOn() override;
  void LaserOff() override;
};

class TMeimanLaser : public TFiberLaser {
public:
  bool GetIsAimingOn() override;
  bool GetIsEmissionOn() override;
  bool GetIsLaserOn() override;
  int GetPwmFreq() override;
  double GetPwmRatio() override;
  void LaserOn() override;
  void LaserOff() override;
  void SetAimingOn(bool On) override;
  void SetPwmFreq(int Freq) override;
  void SetPwmRatio(double Ratio) override;
  bool SetDiodeCustom(double Value) override;
  void Create(TComponent* AOwner, const TLaserParams& AParams) override;

private:
  std::atomic<std::int32_t> FDAFreq{0};
  std::atomic<double> FDARatio{0.0};
  TMeimanLaserParam FCfgMeiman{};
};

class TRofinLaser : public TFiberLaser {
public:
  bool GetIsEmissionOn() override;
  void EmissionOn() override;
  void EmissionOff() override;
  void LaserOn() override;
  void LaserOff() override;
  void UpdateAlarms() override;
  void Create(TComponent* AOwner, const TLaserParams& AParams) override;
  void Destroy() override;

  bool GetHasAlarm() const { return FHasAlarm; }

private:
  THandle FPowerOnSemaphore = 0;
  THandle FPowerOnThreadLock = 0;
  std::atomic<bool> FHasAlarm{false};
  TRofinLaserParam FCfgRofin{};
  // Serialises EmissionOn, EmissionOff and UpdateAlarms' return to standby.
  std::mutex FEmissionLock;
  TPowerOnSequence FSequence;
  // LaserOff came after the last LaserOn or EmissionOn: standby does not come back by
  // itself when an alarm clears. Guarded by FEmissionLock.
  bool FSwitchedOff = false;
};

} // namespace nclaser
