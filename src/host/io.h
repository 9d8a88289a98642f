// The machine's I/O as the host gives it: digital outputs and inputs, analog outputs, the
// PWM port and a delay timer.
// Threads: every call may come from any thread (host threads, laser threads, I/O sequence
// threads); implementations are thread-safe. None of them blocks.
#pragma once

#include <chrono>

#include "host/types.h"

namespace nclaser {

class TNcIntfGroup {
public:
  virtual ~TNcIntfGroup() = default;
  // True if the port is configured on this machine.
  virtual bool GetPortExist(Byte Port) = 0;
};

class TNcOutputGroup : public TNcIntfGroup {
public:
  virtual void SetOutputbit(Byte Port, bool Value) = 0;
  // The level last driven.
  virtual bool GetOutputBit(Byte Port) = 0;
};

class TNcInputGroup : public TNcIntfGroup {
public:
  // The present level; may be polled every millisecond.
  virtual bool GetInputBit(Byte Port) = 0;
};

class TNcDAGroup {
public:
  virtual ~TNcDAGroup() = default;
  // Volts.
  virtual void SetDAValue(Byte Port, double Value) = 0;
};

// The PWM output. The plug-in always uses channel 1.
class TNcPwmPort {
public:
  virtual ~TNcPwmPort() = default;
  virtual bool GetPwmOn(int Channel) = 0;
  virtual double GetFrequency(int Channel) = 0;
  virtual double GetRatio(int Channel) = 0;
  virtual void SetPwmOn(int Channel, bool On) = 0;
  virtual void SetFrequency(int Channel, double Value) = 0;
  // Ratio 0 to 1; acts on a running output.
  virtual void SetRatio(int Channel, double Value) = 0;
};

// Installed by the host before any laser is built; GLaserPwmPort is null on a machine
// without a PWM port.
extern TNcOutputGroup* GPOutput;
extern TNcInputGroup* GPInput;
extern TNcDAGroup* GPDA;
extern TNcPwmPort* GLaserPwmPort;

// A delay timer: Delay(Ms) arms it, IsBusy is true until Ms milliseconds have passed.
// A plain value owned by one laser; measured on the monotonic clock.
class TDelayRec {
public:
  void Delay(int Ms);
  bool IsBusy() const;

private:
  std::chrono::steady_clock::time_point FUntil;
};

} // namespace nclaser
