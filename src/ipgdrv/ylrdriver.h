// TIPGYLRDriver: the link to an IPG YLR fiber laser over a serial line or TCP, with its
// monitor thread. It only moves text and keeps state; the wire format is protocols/ylr.
//
// Threads: the host's threads (through the laser), the laser's power-on thread and the
// monitor thread all call the driver. FCommLock (re-entrant) is held across every drain,
// send and receive, so exchanges never interleave. The published state (status word,
// diode current, connected flag, immediate state) is atomic and read without the lock.
// IcmpTimeout runs on the ping client's own thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "drivers/linkmonitor.h"
#include "host/comm.h"
#include "host/sync.h"
#include "host/types.h"
#include "ipgdrv/ipglink.h"
#include "params/params.h"
#include "runtime/thread.h"

namespace nclaser {

class TIPGYLRDriver : public TComponent {
public:
  // Polls the status word and watches the link until the driver frees it.
  class TIPGMonThread : public TLinkMonitor {
  public:
    explicit TIPGMonThread(TIPGYLRDriver* Owner);

  protected:
    void Poll() override;
    bool CheckLink() override;

  private:
    TIPGYLRDriver* FOwner;
  };

  // Builds the transport for CfgIPG.IPGType (ltYLRComm: serial, ltYLRNet: TCP + ping) and
  // starts the monitor; makes no connection attempt. Any other type throws ELaserError
  // "IPG.LaserType Error Message".
  TIPGYLRDriver(TComponent* Owner, const TIPGLaserParams& CfgIPG);
  // Stops and joins the monitor thread first, then frees the serial port, the TCP client
  // and the ping client, in that order.
  ~TIPGYLRDriver() override;
  TIPGYLRDriver(const TIPGYLRDriver&) = delete;
  TIPGYLRDriver& operator=(const TIPGYLRDriver&) = delete;

  void LockComm();
  void UnlockComm();
  // The owner is being torn down: from now on no new connection is made (commands still go
  // out over a link that is up) and a connect in progress is given up, so that the last
  // commands and the monitor's end do not wait for an unreachable laser.
  void Shutdown();

  void SendCmd(const std::string& Cmd);
  void SendNoReply(const std::string& Cmd);
  void SendAndReply(const std::string& Cmd, int Timeout, std::string& Reply);
  void ReceiveResponse(int Timeout, std::string& Reply);
  void AnalyzeResponse(const std::string& Text);
  static std::string ExtractParam(const std::string& Text);

  // Link, status and alarms.
  bool CheckConnection();
  void IcmpTimeout(TIcmpClient* Sender);
  void UpdateStatusMsg(const std::string& Line);
  std::uint32_t GetDeviceStatus() const { return FDevStatus; }
  bool GetStatusBit(std::int32_t Bit) const;
  bool HasAlarm() const;
  std::string GetAlarmDesc() const;
  void SetQCWMode(bool Value);
  bool GetIsImdState() const { return FIsImdState; }

  // Switching commands: sent without awaiting the answer.
  void DisableEmissionControl() { SendNoReply("DLE"); }
  void EnableEmissionControl() { SendNoReply("ELE"); }
  void DisableExternalAimControl() { SendNoReply("DEABC"); }
  void EnableExternalAimControl() { SendNoReply("EEABC"); }
  void DisableExternalControl() { SendNoReply("DEC"); }
  void EnableExternalControl() { SendNoReply("EEC"); }
  void DisableGateMode() { SendNoReply("DGM"); }
  void EnableGateMode() { SendNoReply("EGM"); }
  void DisableModulation() { SendNoReply("DMOD"); }
  void EnableModulation() { SendNoReply("EMOD"); }
  void DisablePulseMode() { SendNoReply("DPM"); }
  void EnablePulseMode() { SendNoReply("EPM"); }
  void SetDigitalPowerSelect() { SendNoReply("SDS"); }
  // The status query rides along so that its answer follows at once.
  void StartAimingBeam() { SendNoReply("ABN\rSTA"); }
  void StopAimingBeam() { SendNoReply("ABF\rSTA"); }
  void StartEmission() { SendNoReply("EMON\rSTA"); }
  void StopEmission() { SendNoReply("EMOFF\rSTA"); }

  // Queries: up to 1000 ms each; defaults when the laser does not answer with a number.
  void ResetErrors();
  double GetElapsedTime();
  double GetFilterWndSz();
  double GetLaserTemperature();
  double GetMinimumCurrent();
  std::int32_t GetModuleErrorCode();
  std::string GetOutputPower();
  std::string GetSerialNumber();
  std::string GetSoftwareRevision();

  // Set-points; values outside their range are ignored. SetDiodeCurrent repeats its
  // command (up to a second); it stops repeating as soon as Cancelled answers true.
  void SetDiodeCurrent(double Value, const std::function<bool()>& Cancelled = {});
  void SetFilterWndSz(double Value);
  void SetPulseRate(std::int32_t Value);
  void SetPulseWidth(double Value);

  // Published state.
  double GetDiodeCurrentEcho() const { return FDiodeCurrent; }
  bool GetConnected() const { return FConnected; }
  bool GetQCWMode() const { return FQCWMode; }
  std::uint32_t GetAlarmBits() const { return FAlarmBits; }
  TIPGMonThread* GetMonThread() const { return FThread.get(); }

private:
  std::string Query(const char* Cmd);
  double QueryFloat(const char* Cmd, double Default);

  std::atomic<std::uint32_t> FAlarmBits{0};
  TCriticalSection FCommLock;
  std::atomic<bool> FConnected{false};
  bool FDebugMode = false;
  std::atomic<std::uint32_t> FDevStatus{0xFFFFFFFF};
  std::atomic<double> FDiodeCurrent{0.0};
  bool FIgnoreDiodeReply = false;
  // The serial port, or the TCP client with its ping watchdog.
  std::unique_ptr<TLaserLink> FLink;
  // TCP carries the text ASCII-encoded (other characters become '?'); the serial port's
  // text calls pass the bytes as they are.
  bool FAsciiWire = false;
  std::string FTcpHost;
  std::atomic<double> FLastRecvTime{0.0};
  std::string FResponseBuf; // under FCommLock
  std::atomic<bool> FQCWMode{false};
  TThreadPtr<TIPGMonThread> FThread;
  std::atomic<bool> FIsImdState{false};
  TIPGLaserParams FCfgIPG;
};

} // namespace nclaser
