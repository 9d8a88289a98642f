// The stand-in machine I/O: 256 digital outputs, 256 digital inputs, 256 analog outputs,
// a configurable set of existing ports and an optional PWM port. Every write (and every
// input change) is recorded with a monotonic timestamp in one timeline that tests assert
// on and the command-line tool exports as VCD. Thread-safe.
#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "host/io.h"

namespace nclaser::hostkit {

enum class TIoKind : std::uint8_t { Output, Input, DA, PwmOn, PwmFreq, PwmRatio };

struct TIoEvent {
  double TimeMs; // monotonic clock (NowMs)
  TIoKind Kind;
  int Port;     // digital or analog port; the PWM channel for the PWM kinds
  double Value; // level 0/1, volts, Hz or ratio
  bool Changed; // the write changed the level or value
};

std::string ToString(const TIoEvent& E); // "out3=1", "da0=5", "pwm_on=1" ...

class TMachineIO {
public:
  TMachineIO();
  TMachineIO(const TMachineIO&) = delete;
  TMachineIO& operator=(const TMachineIO&) = delete;
  ~TMachineIO();

  // Which ports exist (default: all 0..255).
  void SetOutputsExist(const std::vector<int>& Ports);
  void SetInputsExist(const std::vector<int>& Ports);
  void SetAllPortsExist();

  TNcOutputGroup& Outputs();
  TNcInputGroup& Inputs();
  TNcDAGroup& DA();

  // The machine side: drive an input (recorded in the timeline).
  void SetInput(int Port, bool Level);
  bool GetOutput(int Port) const;
  bool GetInput(int Port) const;
  double GetDA(int Port) const;
  // Digital inputs that a laser has read so far.
  std::set<int> InputsRead() const;

  std::vector<TIoEvent> Timeline() const;
  void ClearTimeline();
  // Waits until the output has the level (true) or TimeoutMs passed (false).
  bool WaitOutput(int Port, bool Level, int TimeoutMs) const;
  // Called for every event, on the writing thread, outside the I/O lock.
  void SetListener(std::function<void(const TIoEvent&)> Listener);

  // Used by the PWM port to record its own events.
  void Record(TIoKind Kind, int Port, double Value, bool Changed);

private:
  class TOut;
  class TIn;
  class TDa;
  mutable std::mutex FLock;
  mutable std::condition_variable FChanged;
  std::array<bool, 256> FOutExist{};
  std::array<bool, 256> FInExist{};
  std::array<bool, 256> FOut{};
  std::array<bool, 256> FIn{};
  std::array<double, 256> FDa{};
  std::set<int> FInRead;
  std::vector<TIoEvent> FTimeline;
  std::function<void(const TIoEvent&)> FListener;
  std::unique_ptr<TOut> FOutGroup;
  std::unique_ptr<TIn> FInGroup;
  std::unique_ptr<TDa> FDaGroup;
};

// The PWM port; channel 1 is the one lasers use, others are kept too.
class TVirtualPwmPort : public TNcPwmPort {
public:
  explicit TVirtualPwmPort(TMachineIO& IO) : FIO(IO) {}
  bool GetPwmOn(int Channel) override;
  double GetFrequency(int Channel) override;
  double GetRatio(int Channel) override;
  void SetPwmOn(int Channel, bool On) override;
  void SetFrequency(int Channel, double Value) override;
  void SetRatio(int Channel, double Value) override;

private:
  struct TChannel {
    bool On = false;
    double Freq = 0.0;
    double Ratio = 0.0;
  };
  TChannel& Ch(int Channel);
  TMachineIO& FIO;
  std::mutex FLock;
  std::array<TChannel, 8> FChannels{};
  TChannel FOther;
};

} // namespace nclaser::hostkit
