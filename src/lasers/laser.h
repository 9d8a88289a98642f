// TNcLaser: the abstract base of every laser class. The host builds a laser through its
// class's factory (lasers/factory.h) and drives it through the virtual operations below,
// from its own threads.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "host/device.h"
#include "params/params.h"

namespace nclaser {

struct TLaserAlarmLink;

class TNcLaser : public TNcDevice, public INcAlarmProvider, public INcDevice {
public:
  TNcLaser();
  ~TNcLaser() override;

  // Slots in the host's order; the first six are the host device's.
  std::string GetDeviceDesc() override;
  bool GetIsBusy() override;
  int ExecCmd(const std::string& Name, TVariant& Value) override;
  int ExecuteCmd(int Cmd, double Param) override;
  void Stop(TNcStopReason AReason) override;
  virtual std::string GetAlarmDesc();
  virtual double GetDiodeCurrent();
  virtual int GetLaserMode();
  virtual bool GetIsAimingOn();
  virtual bool GetIsEmissionOn();
  virtual bool GetIsLaserOn() = 0;
  virtual int GetPwmFreq();
  virtual double GetPwmRatio();
  virtual void DynamicPower(double Value);
  virtual void EmissionOn();
  virtual void EmissionOff();
  virtual void LaserOn() = 0;
  virtual void LaserOnPrepare();
  virtual void LaserOff() = 0;
  virtual void PowerOn();
  virtual void PowerOff();
  virtual void SetAimingOn(bool On);
  virtual void SetDiodeCurrent(double Value);
  virtual void SetLaserMode(int Mode);
  virtual void SetPwmFreq(int Freq);
  virtual void SetPwmRatio(double Ratio);
  void UpdateAlarms() override;
  // The virtual constructor: copies what the laser needs from AParams (never keeps a
  // reference). Each class runs its steps and calls its base's Create where it inherits.
  virtual void Create(TComponent* AOwner, const TLaserParams& AParams);
  // The virtual destructor: the classes' own teardown from the most derived to this base,
  // which calls the most-derived LaserOff. Tolerates a laser whose Create did not finish.
  void Destroy() override;

  // Runs before the Destroy chain (the factory's deleter calls it): takes the laser's alarm
  // out of the host's list and cuts the alarm's way to the laser, so no alarm text is asked
  // from a laser that is being torn down.
  void BeforeDestruction();

  // Alarms: one alarm per laser in the host's list.
  void RegisterAlarms() override;
  void SetAlarmStatus(bool Active);

  // Fraction x DA.MaxVoltage, kept within 0 and MaxVoltage.
  double CurrentToVoltage(double Fraction) const;
  Byte GetCurrentDAPort() const;

  std::int32_t GetAlarmID() const { return FAlarmID.load(); }
  const TLaserParamsDef& GetCfgLaserDef() const { return FCfgLaserDef; }

protected:
  using TNcDevice::Create;

  std::atomic<std::int32_t> FAlarmID;
  std::atomic<bool> FPrepareOnly;
  std::atomic<std::int32_t> FPwmFreq;
  std::atomic<double> FPwmRatio;
  TLaserParamsDef FCfgLaserDef;

  // A switch-on that takes a while (its own steps, or a command queued for the port) must
  // not go out once a switch-off has returned. The switch-on takes SwitchOffs() when it
  // begins and sends its step through IfNoSwitchOffSince; the switch-off calls
  // NoteSwitchOff before it takes back what is still queued. A step in progress finishes
  // first, so the switch-off always sees it.
  std::uint32_t SwitchOffs();
  bool IfNoSwitchOffSince(std::uint32_t Seen, const std::function<void()>& Step);
  void NoteSwitchOff();
  // The I/O makes switch their outputs on the caller's thread. A switch-off holds
  // SwitchOffCall for its whole call and counts as a switch-off first; a switch-on runs
  // its writes through RunSwitchOn, which skips them when a switch-off came first. So a
  // switch-off waits for the writes of a switch-on already under way, and a switch-on that
  // began before the switch-off but had not yet written is cut: none of its writes lands
  // after the switch-off returned.
  template <class F> void RunSwitchOn(F&& Writes) {
    const std::uint32_t Seen = SwitchOffs();
    const std::lock_guard<std::recursive_mutex> L(FSwitchCallLock);
    if (SwitchOffs() == Seen) {
      std::forward<F>(Writes)();
    }
  }
  std::unique_lock<std::recursive_mutex> SwitchOffCall() {
    NoteSwitchOff();
    return std::unique_lock<std::recursive_mutex>(FSwitchCallLock);
  }

private:
  std::mutex FSwitchLock;
  std::uint32_t FSwitchOffs = 0;
  std::recursive_mutex FSwitchCallLock;
  // Shared with this laser's alarm object, so the alarm never reaches a destroyed laser.
  std::shared_ptr<TLaserAlarmLink> FAlarmLink;
  bool FAlarmRaised = false;
};

// Halves to the even neighbour, as the host's Round does; saturates at the int range.
std::int32_t RoundHalfEven(double Value);

} // namespace nclaser
