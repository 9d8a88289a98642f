// The host's device base class and the two host interfaces a laser implements.
// Threads: the host calls every operation from its own threads.
#pragma once

#include <string>

#include "host/types.h"

namespace nclaser {

enum class TNcStopReason : Byte { srNone, srUser, srProgramEnd, srAlarm, srEmergency };

// Two-phase lifetime: the C++ constructor only zeroes fields; Create is the virtual
// constructor and Destroy the virtual destructor, each a chain of the classes' own steps.
class TNcDevice : public TComponent {
public:
  TNcDevice() = default;
  ~TNcDevice() override = default;

  virtual std::string GetDeviceDesc();
  virtual bool GetIsBusy();
  virtual void Create(TComponent* AOwner);
  virtual int ExecCmd(const std::string& Name, TVariant& Value);
  virtual int ExecuteCmd(int Cmd, double Param);
  virtual void Stop(TNcStopReason AReason);
  virtual void Destroy();

  TComponent* GetOwner() const { return FOwner; }

private:
  TComponent* FOwner = nullptr;
};

class INcAlarmProvider {
public:
  virtual void RegisterAlarms() = 0;
  virtual void UpdateAlarms() = 0;

protected:
  ~INcAlarmProvider() = default;
};

// Taken by the host without ownership: the host destroys the laser explicitly.
class INcDevice {
public:
  virtual int ExecCmd(const std::string& Name, TVariant& Value) = 0;
  virtual int ExecuteCmd(int Cmd, double Param) = 0;
  virtual std::string GetDeviceDesc() = 0;
  virtual bool GetIsBusy() = 0;
  virtual void Stop(TNcStopReason AReason) = 0;

protected:
  ~INcDevice() = default;
};

} // namespace nclaser
