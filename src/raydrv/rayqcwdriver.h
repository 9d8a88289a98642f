// TRayQCWDriver: the link to a Raycus QCW fiber laser over a serial line, with its monitor
// thread. It frames commands, checks and decodes answers (protocols/raycus) and keeps the
// last status the laser reported and the pulse parameters to be sent.
//
// Threads: the host's thread (through TRayQCWLaser) and the monitor thread call the
// driver. FCommLock (re-entrant) is held around each port write and each read-and-decode;
// every other call on the port takes it briefly too (the two threads share the port). A
// command and its answer are not one step, so answers are decoded by the code they
// carry. The status (FLaserData) is written under the lock and copied out under a small
// lock of its own, so the getters never wait for the link.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "drivers/linkmonitor.h"
#include "host/comm.h"
#include "host/sync.h"
#include "host/types.h"
#include "params/params.h"
#include "protocols/raycus.h"
#include "runtime/thread.h"

namespace nclaser {

class TRayQCWDriver : public TComponent {
public:
  using TCtrlMode = raycus::TCtrlMode;
  using TLaserData = raycus::TLaserData;
  // Receives each debug log line before the message log does.
  using TBufEvent = std::function<void(const std::string& Line)>;

  // Queries the status every FThreadDelay ms and reports a link that stays down.
  class TCommThread : public TLinkMonitor {
  public:
    explicit TCommThread(TRayQCWDriver* Owner);

  protected:
    void Poll() override;
    bool CheckLink() override;

  private:
    TRayQCWDriver* FOwner;
  };

  // With CommPort > 0: opens the port, starts the monitor and sends ResetLaserMode. With
  // CommPort <= 0 there is no port and no thread and every command is a no-op.
  TRayQCWDriver(TComponent* Owner, const TRaycusLaserParams& AParams);
  // Stops and joins the monitor, then frees the port.
  ~TRayQCWDriver() override;
  TRayQCWDriver(const TRayQCWDriver&) = delete;
  TRayQCWDriver& operator=(const TRayQCWDriver&) = delete;

  // Commands without data.
  void CheckStatus() { SendCmd(raycus::cmdCheckStatus); }
  void CheckBySuperMode() { SendCmd(raycus::cmdCheckBySuperMode); }
  void ReadErrorRecord() { SendCmd(raycus::cmdReadErrorRecord); }
  void LaserOn() { SendCmd(raycus::cmdLaserOn); }
  void LaserOff() { SendCmd(raycus::cmdLaserOff); }
  void ResetLaserMode() { SendCmd(raycus::cmdResetLaserMode); }

  // Stores the pulse parameters, clamped for the reported model; sends nothing.
  void SetLaserParam(std::uint8_t Power, std::uint16_t Freq, std::uint8_t Ratio,
                     std::uint16_t PulseW);
  // Sends the stored parameters (0xE2).
  void SetLaserData();
  // Sends ResetLaserMode when the mode changes.
  void SetControlMode(TCtrlMode Mode);
  void EnableContinusCtrl() { SetControlMode(raycus::OuterContinusMode); }
  void EnableModulationCtrl() { SetControlMode(raycus::OuterModulationMode); }
  void DisableContinusCtrl() { SetControlMode(raycus::OFFMode); }
  void DisableModulationCtrl() { SetControlMode(raycus::OFFMode); }

  std::uint8_t GetLaserPower() const { return FPower; }
  std::uint16_t GetLaserFreq() const { return FFreq; }
  std::uint8_t GetLaserRatio() const { return FRatio; }
  std::uint16_t GetLaserPulseW() const { return FPulseW; }
  // The mode the laser reported (CheckBySuperMode).
  TCtrlMode CtrlMode() const { return FCurMode; }
  TLaserData LaserData() const;
  // The model text and identifier, each byte one character, NULs included.
  std::string GetLaserID() const;
  std::string GetLaserType() const;
  bool GetIsQCW150() const;
  bool GetIsQCW450() const;

  // Reopens the port when it is not active; the port's active flag.
  bool CheckConnection();
  bool HasAlarm() const;
  std::string GetAlarmDesc() const;

  void LockComm() { FCommLock.lock(); }
  void UnlockComm() { FCommLock.unlock(); }

  void SetBufEvent(TBufEvent Event);

  // The framing steps.
  void SendCmd(std::uint8_t Code, std::span<const std::uint8_t> Data = {});
  void ReceiveResponse();
  void AnalyzeResponse(std::span<const std::uint8_t> Buf);
  void ExtractData(const raycus::TAnswer& Answer);

  bool HasPort() const { return FComm != nullptr; }
  TCommThread* GetThread() const { return FThread.get(); }

private:
  void DebugLog(const std::string& Line);
  bool PortActive() const;
  raycus::TQCWModel Model() const;

  TThreadPtr<TCommThread> FThread;
  std::unique_ptr<TCommCtrl> FComm;
  TCtrlMode FCtrlMode = raycus::OFFMode;
  std::atomic<TCtrlMode> FCurMode{raycus::OFFMode};
  std::atomic<std::uint8_t> FPower{0};
  std::atomic<std::uint16_t> FFreq{0};
  std::atomic<std::uint8_t> FRatio{0};
  std::atomic<std::uint16_t> FPulseW{0};
  mutable TCriticalSection FCommLock;
  bool FDebugMode = false;
  mutable std::mutex FDataLock; // guards FLaserData's copy-out
  TLaserData FLaserData{};
  std::uint8_t FCmd = 0; // under FCommLock
  std::mutex FEventLock;
  TBufEvent FBufEvent;
  TRaycusLaserParams FCfgRay;
};

} // namespace nclaser
