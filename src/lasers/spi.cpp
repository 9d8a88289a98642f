#include "lasers/spi.h"

#include <array>
#include <mutex>

#include "host/appsys.h"
#include "host/clock.h"
#include "lasers/factory.h"
#include "lasers/ioports.h"
#include "protocols/hexdump.h"
#include "protocols/spi.h"
#include "strings/messages.h"

namespace nclaser {

namespace {

const TLaserClassRegistrar GRegSPI{{"TSPILaser", &NewLaser<TSPILaser>, eltSPI, SubTypeAny, 150}};
const TLaserClassRegistrar GRegSPI1000{{"TSPI1000Laser", &NewLaser<TSPI1000Laser>, eltSPI, 0, 160}};

std::array<std::uint8_t, 1> OnOffData(bool On) {
  return {static_cast<std::uint8_t>(On ? 0x01 : 0x00)};
}

} // namespace

// ---- The shared thread ---------------------------------------------------------------

void TSPICommThread::LockAddCmd(std::uint8_t Code, std::span<const std::uint8_t> Data) {
  LockAddBytes(spi::BuildPacket(Code, Data));
}

int TSPICommThread::LockRemoveCmd(std::uint8_t Code, int Data0) {
  return LockRemoveIf([&](const TCommCmd& C) {
    return C.CmdSize > 2 && C.CmdBuf[2] == Code &&
           (Data0 < 0 || (C.CmdSize > 3 && C.CmdBuf[3] == Data0));
  });
}

void TSPICommThread::InputPhase() {
  DrainBytes([this](const std::uint8_t* Buffer, int Count) { OnChunk(Buffer, Count); });
}

void TSPICommThread::PauseAfterWrite() {
  Sleep(20);
}

void TSPICommThread::AfterLoop() {
  // Paced as in the loop, but within a bound: tear-down must not wait on a long queue.
  constexpr double FlushLimitMs = 250.0;
  const double Start = NowMs();
  std::lock_guard<TCriticalSection> L(FCmdLock);
  while (!FCmdQueue->empty() && PortActive() && ElapsedMs(Start) < FlushLimitMs) {
    const TCommCmd Cmd = FCmdQueue->front();
    FCmdQueue->pop_front();
    SendCommand(Cmd);
  }
}

void TSPICommThread::WriteDirect(std::span<const std::uint8_t> Packet) {
  FComm->Write(Packet.data(), static_cast<int>(Packet.size()));
}

// ---- TSPILaser -----------------------------------------------------------------------

// The standard thread keeps no debug flag: it writes no traffic log.
TSPILaser::TCommThread::TCommThread(TSPILaser* AOwner)
    : TSPICommThread(AOwner->FCfgSPI.Comm, false), FOwner(AOwner) {}

bool TSPILaser::TCommThread::OnChunk(const std::uint8_t* Buffer, int Count) {
  if (!spi::IsStatusAnswer(Buffer, Count, spi::StatusLength)) {
    return false;
  }
  FOwner->UpdateStatus(Buffer[3], Buffer[4]);
  if (TakeOnce()) {
    ShowMsg(SLaserConnectedOk.Get(), clBlack);
  }
  return true;
}

void TSPILaser::TCommThread::IdleRequest() {
  // While the laser reports an alarm it is asked for its alarms and warnings instead.
  if (FOwner->FHasAlarm) {
    WriteDirect(spi::AlarmWarningQuery);
  } else {
    WriteDirect(spi::StatusQuery);
  }
}

void TSPILaser::Create(TComponent* AOwner, const TLaserParams& AParams) {
  FCfgSPI = AParams.CfgSPI;
  FCommPort = FCfgSPI.Comm.CommPort;
  // Before the fiber base: its diode current goes out as a packet.
  if (FCommPort > 0) {
    FCommThread = StartCommThread<TCommThread>(this);
  }
  TFiberLaser::Create(AOwner, AParams);
}

void TSPILaser::Destroy() {
  EmissionOff();
  TFiberLaser::Destroy();
  FCommThread.reset(); // terminates and waits; what is still queued goes out first
}

bool TSPILaser::GetIsAimingOn() {
  return FIsAimingOn;
}

bool TSPILaser::GetIsEmissionOn() {
  return FIsEmissionOn;
}

void TSPILaser::EmissionOn() {
  const std::uint32_t Seen = SwitchOffs();
  IfNoSwitchOffSince(Seen, [this] {
    if (SerialUsable()) {
      FCommThread->LockAddCmd(spi::cmdEmissionStart);
      const std::uint8_t D[] = {0x00};
      FCommThread->LockAddCmd(spi::cmdEmissionOn, D);
    }
  });
  TFiberLaser::EmissionOn();
  FIsEmissionOn = true;
}

void TSPILaser::WithdrawEmissionOn() {
  NoteSwitchOff();
  if (FCommThread != nullptr) {
    FCommThread->LockRemoveCmd(spi::cmdEmissionStart);
    FCommThread->LockRemoveCmd(spi::cmdEmissionOn);
  }
}

void TSPILaser::EmissionOff() {
  // Emission packets not yet written must not switch the laser on after this returns.
  WithdrawEmissionOn();
  TNcLaser::EmissionOff();
  FIsEmissionOn = false;
}

void TSPILaser::LaserOff() {
  WithdrawEmissionOn();
  TFiberLaser::LaserOff();
}

void TSPILaser::PowerOn() {
  TNcLaser::PowerOn();
  EmissionOn();
}

void TSPILaser::SetAimingOn(bool On) {
  TNcLaser::SetAimingOn(On);
  FIsAimingOn = On;
  if (SerialUsable()) {
    FCommThread->LockAddCmd(spi::cmdAiming, OnOffData(On));
  }
}

void TSPILaser::UpdateAlarms() {
  TNcLaser::UpdateAlarms();
  SetAlarmStatus(FHasAlarm);
}

bool TSPILaser::SetDiodeCustom(double Value) {
  if (!(Value > 0) || !SerialUsable()) {
    return false;
  }
  FCommThread->LockAddCmd(spi::cmdDiodeCurrent, spi::DiodeCurrentData(Value));
  return true;
}

void TSPILaser::UpdateStatus(std::uint8_t Data0, std::uint8_t /*Data1*/) {
  const spi::TSPIStatus S = spi::SPIStatusFromData(Data0);
  FIsEmissionOn = S.EmissionOn;
  FHasAlarm = S.Alarm;
  FIsAimingOn = S.AimingOn;
}

// ---- TSPI1000Laser -------------------------------------------------------------------

TSPI1000Laser::TCommThread::TCommThread(TSPI1000Laser* AOwner)
    : TSPICommThread(AOwner->FCfgSPI.Comm, AOwner->FCfgSPI.Comm.DebugMode), FOwner(AOwner) {}

bool TSPI1000Laser::TCommThread::OnChunk(const std::uint8_t* Buffer, int Count) {
  const bool Status = spi::IsStatusAnswer(Buffer, Count, spi::Status1000Length);
  if (Status) {
    FOwner->UpdateStatus(Buffer + 3, spi::Status1000DataUsed);
    if (TakeOnce()) {
      ShowMsg(SLaserConnectedOk.Get(), clBlack);
    }
  }
  if (FDebugMode) {
    ShowMsg("Recv: " + BytesToStr(Buffer, Count), clBlack);
  }
  return Status;
}

void TSPI1000Laser::TCommThread::IdleRequest() {
  WriteDirect(spi::StatusQuery);
}

void TSPI1000Laser::Create(TComponent* AOwner, const TLaserParams& AParams) {
  FCfgSPI = AParams.CfgSPI;
  FCommPort = FCfgSPI.Comm.CommPort;
  if (FCommPort > 0) {
    FCommThread = StartCommThread<TCommThread>(this);
  }
  TFiberLaser::Create(AOwner, AParams);
}

void TSPI1000Laser::Destroy() {
  EmissionOff();
  TFiberLaser::Destroy();
  FCommThread.reset(); // terminates and waits; the queued emission-off goes out first
}

bool TSPI1000Laser::GetIsAimingOn() {
  return FIsAimingOn;
}

bool TSPI1000Laser::GetIsEmissionOn() {
  return FIsEmissionOn;
}

void TSPI1000Laser::EmissionOn() {
  const std::uint32_t Seen = SwitchOffs();
  ioport::SetOutput(FCfgLaserDef.CtrlPort, true);
  IfNoSwitchOffSince(Seen, [this] {
    if (SerialUsable()) {
      const std::uint8_t Mode[] = {0x02};
      FCommThread->LockAddCmd(spi::cmd1000EmissionMode, Mode);
      FCommThread->LockAddCmd(spi::cmd1000Emission, OnOffData(true));
    }
  });
  TFiberLaser::EmissionOn();
  FIsEmissionOn = true;
}

void TSPI1000Laser::WithdrawEmissionOn() {
  NoteSwitchOff();
  if (SerialUsable()) {
    FCommThread->LockRemoveCmd(spi::cmd1000EmissionMode);
    FCommThread->LockRemoveCmd(spi::cmd1000Emission, 0x01);
  }
}

void TSPI1000Laser::LaserOff() {
  WithdrawEmissionOn();
  TFiberLaser::LaserOff();
}

void TSPI1000Laser::EmissionOff() {
  // Emission packets not yet written must not switch the laser on after this returns.
  WithdrawEmissionOn();
  if (SerialUsable()) {
    FCommThread->LockAddCmd(spi::cmd1000Emission, OnOffData(false));
  }
  ioport::SetOutput(FCfgLaserDef.CtrlPort, false);
  TNcLaser::EmissionOff();
  FIsEmissionOn = false;
}

void TSPI1000Laser::PowerOn() {
  TNcLaser::PowerOn();
  EmissionOn();
}

void TSPI1000Laser::SetAimingOn(bool On) {
  TNcLaser::SetAimingOn(On);
  FIsAimingOn = On;
  if (SerialUsable()) {
    FCommThread->LockAddCmd(spi::cmd1000Aiming, OnOffData(On));
  }
}

void TSPI1000Laser::UpdateAlarms() {
  TNcLaser::UpdateAlarms();
  SetAlarmStatus(FHasAlarm);
}

bool TSPI1000Laser::SetDiodeCustom(double Value) {
  if (!(Value > 0) || !SerialUsable()) {
    return false;
  }
  FCommThread->LockAddCmd(spi::cmd1000DiodeCurrent, spi::DiodeCurrentData(Value));
  return true;
}

void TSPI1000Laser::UpdateStatus(const std::uint8_t* Data, int Count) {
  const spi::TSPI1000Status S = spi::SPI1000StatusFromData(Data, Count);
  FActualPower = S.ActualPower;
  FIsAimingOn = S.AimingOn;
  FHasAlarm = S.Alarm;
}

} // namespace nclaser
