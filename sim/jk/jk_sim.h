// A simulated JK/GSI laser: the JK/GSI model on the shared endpoint (a pty), with the calls
// the JK tests, demos and benchmarks use: the frames received, the state, alarm reports and
// the make's usual faults.
//
//   sim::TJKSim Sim;                       // state 0: not ready
//   Sim.Start();                           // opens the pty pair, starts answering
//   Host->SerialPorts->Set(1, Sim.DevicePath());
//   Sim.ReportAlarm(0x0102);               // next status request is answered with 0xA4
//   Sim.SetFault(sim::TJKFault::Silence);
//   Sim.Stop();
//
// Threads: as TSimEndpoint.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "sim/endpoint.h"
#include "sim/jk/jk_model.h"

namespace nclaser::sim {

enum class TJKFault {
  None,
  Silence,      // follows commands, answers nothing
  ShortAnswers, // only the first 3 bytes of each answer
  Garbage,      // random bytes instead of each answer
};

struct TJKSimFrame {
  double TimeMs;                   // on the monotonic clock (NowMs)
  std::vector<std::uint8_t> Bytes; // the whole frame, flags included
  bool CrcOk;
  std::uint8_t Address() const { return Bytes.size() > 1 ? Bytes[1] : 0; }
  std::uint8_t FunctionCode() const { return Bytes.size() > 2 ? Bytes[2] : 0; }
};

class TJKSim : public TSim<TJKModel> {
public:
  TJKSim() = default;
  explicit TJKSim(TJKSimOptions Options) : TSim<TJKModel>(Options) {}

  // Opens the pty pair and starts answering; throws std::runtime_error when no pty can be
  // made. Starting a running simulator does nothing.
  void Start();

  int State() {
    return With([](TJKModel& M) { return M.State(); });
  }
  void SetState(int State) {
    With([State](TJKModel& M) { M.SetState(State); });
  }
  bool AimingOn() {
    return With([](TJKModel& M) { return M.AimingOn(); });
  }
  std::optional<std::int32_t> SetPoint() {
    return With([](TJKModel& M) { return M.SetPoint(); });
  }
  std::optional<std::uint8_t> Flag(std::uint8_t Param) {
    return With([Param](TJKModel& M) { return M.Flag(Param); });
  }
  std::optional<std::int32_t> Value(std::uint8_t Param) {
    return With([Param](TJKModel& M) { return M.Value(Param); });
  }
  int AlarmCode() {
    return With([](TJKModel& M) { return M.AlarmCode(); });
  }
  void ReportAlarm(std::uint16_t Code) {
    With([Code](TJKModel& M) { M.ReportAlarm(Code); });
  }

  // Every frame received, in order.
  std::vector<TJKSimFrame> Frames() const;
  // Frames whose function code is not 03 (the status poll), in order.
  std::vector<TJKSimFrame> Commands() const;
  int CountFunction(std::uint8_t FunctionCode) const;
  void ClearFrames() { ClearRequests(); }
  bool WaitFrames(const std::function<bool(const std::vector<TJKSimFrame>&)>& Pred,
                  int TimeoutMs) const;

  void SetFault(TJKFault Fault);
  TJKFault Fault() const { return FFault; }

private:
  std::atomic<TJKFault> FFault{TJKFault::None};
};

} // namespace nclaser::sim
