// A JK/GSI laser on a pseudo-terminal: the laser's side of the framed protocol, with a
// small state model, a record of every frame received and fault injection.
//
//   sim::TJKSim Sim;                       // state 0: not ready
//   Sim.Start();                           // opens the pty pair, starts answering
//   Host->SerialPorts->Set(1, Sim.DevicePath());
//   ... the laser polls, the simulator answers 0x03 with its state ...
//   Sim.ReportAlarm(0x0102);               // next status request is answered with 0xA4
//   Sim.SetFault(sim::TJKFault::Silence);
//   Sim.Stop();
//
// State model: 00 switches off (state 0), 05 wakes a laser that is off (state 1), 01 goes
// to standby (state 2, after ReadyDelayMs when coming from 0 or 1), 02 starts emission
// (state 3) only from standby, 10 FF/00 switches the aiming beam, 5D 01 05 sets the diode
// set point (tenths of a percent), 5D/5F 01 nn store values and flags. 03, 11, 50 and A4
// are answered.
//
// Threads: every call may come from any thread; callbacks run on the simulator's thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

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

struct TJKSimOptions {
  std::uint8_t Address = 1; // the address answers carry
  int InitialState = 0;
  int ReadyDelayMs = 0; // standby reached this long after 01 from state 0 or 1
  int ActiveParamSet = 1;
};

class TJKSim {
public:
  // Direction 'R' for frames received, 'T' for bytes sent.
  using TTrace = std::function<void(char Direction, const std::vector<std::uint8_t>& Bytes)>;

  TJKSim();
  explicit TJKSim(TJKSimOptions Options);
  TJKSim(const TJKSim&) = delete;
  TJKSim& operator=(const TJKSim&) = delete;
  ~TJKSim();

  // Opens the pty pair and starts answering; throws std::runtime_error when no pty can be
  // made. Starting a running simulator does nothing.
  void Start();
  // Stops answering and closes the pty; the device path disappears.
  void Stop();
  bool Running() const;
  // The device for the laser's serial port: a symlink that stays the same across
  // Unplug/Replug. Empty before Start.
  std::string DevicePath() const;

  // State.
  int State() const;
  void SetState(int State);
  bool AimingOn() const;
  // Last 5D 01 05 value (tenths of a percent); nullopt before any.
  std::optional<std::int32_t> SetPoint() const;
  std::optional<std::uint8_t> Flag(std::uint8_t Param) const;
  std::optional<std::int32_t> Value(std::uint8_t Param) const;
  int AlarmCode() const;

  // Answers the next status request (or an A4 request) with 0xA4 carrying Code; 0 reports
  // the alarm gone.
  void ReportAlarm(std::uint16_t Code);
  // Sends raw bytes to the laser as they are (e.g. a malformed answer).
  void SendRaw(const std::vector<std::uint8_t>& Bytes);

  // Every well-formed frame received, in order.
  std::vector<TJKSimFrame> Frames() const;
  // Frames whose function code is not 03 (the status poll), in order.
  std::vector<TJKSimFrame> Commands() const;
  int CountFunction(std::uint8_t FunctionCode) const;
  void ClearFrames();
  // Waits until Pred holds for the received frames or the time is up. Pred runs under the
  // simulator's lock: it must not call the simulator.
  bool WaitFrames(const std::function<bool(const std::vector<TJKSimFrame>&)>& Pred,
                  int TimeoutMs) const;
  // Bytes received that belong to no well-formed frame.
  int JunkBytes() const;

  void SetFault(TJKFault Fault);
  TJKFault Fault() const;
  // Pulls the cable (the laser's port hangs up, the path disappears) and plugs it back
  // behind the same path.
  void Unplug();
  void Replug();
  bool Plugged() const;

  void SetTrace(TTrace Trace);

private:
  void Run();
  void OpenPty();
  void ClosePty();
  void Consume(const std::uint8_t* Data, int Count);
  void ParseLocked();
  void HandleLocked(const TJKSimFrame& F);
  void AnswerLocked(const std::vector<std::uint8_t>& Data);
  void WriteLocked(const std::vector<std::uint8_t>& Bytes);
  void TickLocked();

  TJKSimOptions FOptions;
  mutable std::mutex FLock;
  mutable std::condition_variable FChanged;
  std::thread FThread;
  std::atomic<bool> FStop{false};
  bool FRunning = false;

  std::string FDir;
  std::string FLink;
  int FMaster = -1;
  int FSlave = -1;

  std::vector<std::uint8_t> FPending;
  std::vector<TJKSimFrame> FFrames;
  int FJunk = 0;

  int FState = 0;
  double FReadyAt = -1; // when a pending standby takes effect
  bool FAiming = false;
  std::optional<std::int32_t> FSetPoint;
  std::map<std::uint8_t, std::uint8_t> FFlags;
  std::map<std::uint8_t, std::int32_t> FValues;
  int FAlarm = 0;
  bool FAlarmPending = false;
  int FActiveParamSet = 1;
  TJKFault FFault = TJKFault::None;
  std::uint32_t FRandom = 0x12345678;
  TTrace FTrace;
};

} // namespace nclaser::sim
