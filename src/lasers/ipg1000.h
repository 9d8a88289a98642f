// TIPG1000Laser: an IPG YLS laser wired to the machine's I/O (German or American wiring).
// PowerOn raises the laser request and starts a power-on thread that runs the timed rest
// of the start-up: laser-on output, program start, diode current.
#pragma once

#include <cstdint>
#include <mutex>

#include "lasers/fiber.h"
#include "runtime/thread.h"

namespace nclaser {

class TIPG1000Laser;

// The power-on threads free themselves when they end; their owner keeps a TThreadRef and
// stops and joins a running one before it goes.
class TIPG1000PowerOnThread : public TThread {
public:
  explicit TIPG1000PowerOnThread(TIPG1000Laser* AOwner);

protected:
  void Execute() override;
  void DoTerminate() override;
  // The steps after the name: false when a wait was cut short by termination.
  virtual bool RunSteps() = 0;
  // A wait followed by the termination check: true to go on.
  bool Wait(int Ms);
  // Writes an output that the thread raises for a pulse, so that the pulse ends with the
  // thread even when it is stopped early.
  void SetPulse(std::int32_t Port, bool On);

  TIPG1000Laser* FOwner;

private:
  std::int32_t FPulsePort = -1; // raised and not yet lowered
};

class TIPG_YLS_German_PowerOnThread : public TIPG1000PowerOnThread {
public:
  using TIPG1000PowerOnThread::TIPG1000PowerOnThread;

protected:
  bool RunSteps() override;
};

class TIPG_YLS_USA_PowerOnThread : public TIPG1000PowerOnThread {
public:
  using TIPG1000PowerOnThread::TIPG1000PowerOnThread;

protected:
  bool RunSteps() override;
};

class TIPG1000Laser : public TFiberLaser {
public:
  int ExecCmd(const std::string& Name, TVariant& Value) override;
  bool GetIsEmissionOn() override;
  void LaserOn() override;
  void EmissionOn() override;
  void EmissionOff() override;
  void LaserOff() override;
  void PowerOn() override;
  void PowerOff() override;
  void Create(TComponent* AOwner, const TLaserParams& AParams) override;
  void Destroy() override;

private:
  friend class TIPG1000PowerOnThread;
  friend class TIPG_YLS_German_PowerOnThread;
  friend class TIPG_YLS_USA_PowerOnThread;

  bool IsTrumpf() const;
  // ProgramStartPort high, but on a "Trumpf" model only when the emission status input
  // exists and is on.
  void RaiseProgramStart();
  // Forgets Thread as the running power-on thread, unless a newer one has taken its place.
  void ClearPowerOnThread(const TThreadRef& Thread);
  // Stops a running power-on thread and waits until it has ended.
  void StopPowerOnThread();

  std::mutex FThreadLock; // FPowerOnThread: tested by PowerOn, cleared by the thread
  TThreadRef FPowerOnThread;
  TIPGLaserParams FCfgIPG{};
};

} // namespace nclaser
