// TIPGYLSDriver: the link to an IPG YLS fiber laser over TCP in the laser's binary frame
// protocol, with its monitor thread. It only moves frames and keeps state; the wire format
// is protocols/yls.
//
// Threads: the host's threads (through the laser) and the monitor thread call the driver.
// FCommLock (re-entrant) is held across every drain, send and receive, so frames never
// interleave. The status words, the diode current and the connected flag are atomic and
// read without the lock; the records are guarded by a small lock of their own so that the
// host's getters never wait for an exchange. IcmpTimeout runs on the ping client's thread.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>

#include "drivers/linkmonitor.h"
#include "host/sync.h"
#include "host/types.h"
#include "ipgdrv/ipglink.h"
#include "params/params.h"
#include "protocols/yls.h"
#include "runtime/thread.h"

namespace nclaser {

class TIPGYLSDriver : public TComponent {
public:
  // Tear-down: no new connection and no connect in progress from now on; a link that is
  // up still carries the last commands.
  void Shutdown();
  using TLaserStatusYLS = yls::TLaserStatusYLS;
  using TLaserStatusYLSArr = yls::TLaserStatusYLSArr;

  // Polls status data and time counters and reports a lost link until the driver frees it.
  class TIPGMonThread : public TLinkMonitor {
  public:
    explicit TIPGMonThread(TIPGYLSDriver* Owner);

  protected:
    bool Round() override;
    void Poll() override;
    bool CheckLink() override;

  private:
    std::uint8_t FNum = 0;
    TIPGYLSDriver* FOwner;
  };

  // Makes the TCP client (port 5100) and the ping client, tries to connect once, starts
  // the monitor. Does not look at IPGType: the laser class does.
  TIPGYLSDriver(TComponent* Owner, const TIPGLaserParams& CfgIPG);
  // Stops and joins the monitor thread, then frees the ping and TCP clients.
  ~TIPGYLSDriver() override;
  TIPGYLSDriver(const TIPGYLSDriver&) = delete;
  TIPGYLSDriver& operator=(const TIPGYLSDriver&) = delete;

  void LockComm();
  void UnlockComm();

  // ---- Traffic ----
  void SendCmd(std::uint16_t Code, const yls::TBytes& Data);
  void ReceiveResponse(int Timeout);
  void AnalyzeResponse(const yls::TBytes& Frame);
  bool ExtractData(const yls::TAnswerHeader& Answer, std::span<const std::uint8_t> Data);
  void GetResponseAndSendCmd(std::uint16_t Code, const yls::TBytes& Data, bool NeedReply,
                             int Timeout);
  void SendAndReply(std::uint16_t Code, const yls::TBytes& Data, int Timeout);
  void SendNoReply(std::uint16_t Code, const yls::TBytes& Data);
  // Sends the command under the lock without awaiting its answer.
  void CtrlCmd(std::uint16_t Code, const yls::TBytes& Data = {});

  // ---- Control operations ----
  void SetAccessLev() { CtrlCmd(yls::cmdSetAccessLev); }
  void PowerSupplyOn() { CtrlCmd(yls::cmdPowerSupply, yls::Word16(1)); }
  void PowerSupplyOff() { CtrlCmd(yls::cmdPowerSupply, yls::Word16(0)); }
  // Nothing is sent outside 0..100 percent.
  void SetPumpCurrent(double Value);
  void SetOutPower(std::uint32_t Value) { CtrlCmd(yls::cmdSetOutPower, yls::Word32(Value)); }
  void EmissionOn() { CtrlCmd(yls::cmdEmission, yls::Word16(yls::EmissionOnValue)); }
  void EmissionOff() { CtrlCmd(yls::cmdEmission, yls::Word16(0)); }
  void GuideLaserOn() { CtrlCmd(yls::cmdGuideLaser, yls::StructureA(0, 1)); }
  void GuideLaserOff() { CtrlCmd(yls::cmdGuideLaser, yls::StructureA(0, 0)); }
  void SetOptChannel(std::uint16_t Value) { CtrlCmd(yls::cmdSetOptChannel, yls::Word16(Value)); }
  void ResetNoCritError() { CtrlCmd(yls::cmdResetNoCritError); }
  void EnableAnalogCtrl() { CtrlCmd(yls::cmdAnalogCtrl, yls::Word16(1)); }
  void DisableAnalogCtrl() { CtrlCmd(yls::cmdAnalogCtrl, yls::Word16(0)); }
  void EnableModulationCtrl() { CtrlCmd(yls::cmdModulationCtrl, yls::Word16(1)); }
  void DisableModulationCtrl() { CtrlCmd(yls::cmdModulationCtrl, yls::Word16(0)); }

  // ---- Queries ----
  bool GetLaserIDCmd();
  void GetLaserStatus();
  void GetTimeDataCmd();
  void GetYLSDewPointData();

  // ---- Accessors ----
  std::string GetSerialNumber();
  double GetDiodeCurrent();
  std::uint16_t GetSetPower();
  std::uint16_t GetOutPower();
  std::uint16_t GetTemperatureMax();
  double GetTemperatureMean();
  std::uint32_t GetWorkTimeToday();
  std::uint32_t GetEmissionTimeToday();
  yls::TLaserData GetLaserData();
  yls::TTimeData GetTimeData();
  yls::TDewPointData GetDewPointData();
  bool GetCmdStatus() const { return FCmdStatus; }
  std::uint16_t GetCmdCode() const { return FCmdCode; }

  // ---- Status, alarms, link ----
  void UpdateStatus();
  TLaserStatusYLSArr GetDeviceStatus() const;
  static bool GetDevStatusBit(std::uint32_t Word, std::uint16_t Bit);
  bool GetStatusBit(int Index) const;
  bool HasAlarm() const;
  std::string GetAlarmDesc() const;
  // Throws ELaserError for a bit outside 0..31 or an entry beyond the table.
  std::string GetAlmWarnDes(int Word, int Bit) const;
  void InitLaserAlmWarnStrTable();
  bool CheckConnection();
  void IcmpTimeout(TIcmpClient* Sender);

  bool GetConnected() const { return FConnected; }
  TIPGMonThread* GetMonThread() const { return FThread.get(); }
  // Bytes the stream reassembly dropped as noise so far.
  std::size_t GetSkippedBytes();

private:
  void SendAccessLev();
  void Debug(const std::string& Text, TColor Color) const;

  TCriticalSection FCommLock;
  std::atomic<bool> FConnected{false};
  bool FDebugMode = false;
  std::atomic<bool> FCmdStatus{false};
  std::array<std::atomic<std::uint32_t>, 5> FDevStatus{};
  std::atomic<double> FDiodeCurrent{0.0};
  std::unique_ptr<TIPGNetLink> FLink; // TCP client and ping client
  std::string FTcpHost;
  TThreadPtr<TIPGMonThread> FThread;
  std::atomic<std::uint16_t> FCmdCode{0};
  mutable std::mutex FRecLock; // guards the four records
  yls::TLaserID FLaserID{};
  yls::TLaserData FLaserData{};
  yls::TTimeData FTimeData{};
  yls::TDewPointData FDewPointData{};
  TIPGLaserParams FCfgIPG;
  std::array<std::string, yls::AlarmWarnTextCount> FAlarmWarnStrTable;
  yls::TCrc16 FCrc;
  yls::TFrameAssembler FAssembler{FCrc}; // under FCommLock
  bool FInAccessLev = false;             // under FCommLock
};

} // namespace nclaser
