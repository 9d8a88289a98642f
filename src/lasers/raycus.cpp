#include "lasers/raycus.h"

#include <algorithm>
#include <cmath>
#include <mutex>

#include "host/appsys.h"
#include "host/clock.h"
#include "lasers/factory.h"
#include "lasers/ioports.h"
#include "params/textbuf.h"
#include "protocols/hexdump.h"
#include "protocols/raycus.h"
#include "strings/messages.h"

namespace nclaser {

namespace {

const TLaserClassRegistrar GRegRaycus{
    {"TRaycusLaser", &NewLaser<TRaycusLaser>, eltRay, SubTypeBit(ltRayCW), 130}};
const TLaserClassRegistrar GRegRayQCW{
    {"TRayQCWLaser", &NewLaser<TRayQCWLaser>, eltRay, SubTypeBit(ltRayWCW), 140}};

bool SameTextAscii(std::string_view A, std::string_view B) {
  return A.size() == B.size() && std::equal(A.begin(), A.end(), B.begin(), [](char X, char Y) {
           return std::tolower(static_cast<unsigned char>(X)) ==
                  std::tolower(static_cast<unsigned char>(Y));
         });
}

// A double taken as a byte: through an integer, the low 8 bits.
std::uint8_t ByteOf(std::int64_t V) {
  return static_cast<std::uint8_t>(static_cast<std::uint64_t>(V) & 0xFFU);
}

std::uint8_t TruncByte(double V) {
  if (!std::isfinite(V)) {
    return 0;
  }
  return ByteOf(static_cast<std::int64_t>(std::fmod(std::trunc(V), 4294967296.0)));
}

} // namespace

// ---- TRaycusLaser's thread ------------------------------------------------------------

TRaycusLaser::TCommThread::TCommThread(TRaycusLaser* AOwner)
    : TBinaryCommThread(AOwner->FCfgRay.Comm, AOwner->FCfgRay.DebugMode), FOwner(AOwner) {}

void TRaycusLaser::TCommThread::SetDiodeCurrent(std::uint8_t Percent) {
  std::lock_guard<TCriticalSection> L(FCmdLock);
  FDiodeCurrent = Percent;
  FDiodeCurrentChanged = 5;
}

void TRaycusLaser::TCommThread::InputPhase() {
  DrainBytes([this](const std::uint8_t* Buffer, int Count) { OnChunk(Buffer, Count); });
}

void TRaycusLaser::TCommThread::OnChunk(const std::uint8_t* Buffer, int Count) {
  const std::span<const std::uint8_t> Chunk(Buffer, static_cast<std::size_t>(Count));
  const TRaycusLaserParams& Cfg = FOwner->FCfgRay;
  // The laser's answers are text; anything else is only dumped in debug mode.
  std::string Text;
  if (!Cfg.Comm.IgnoreCommResult && Chunk.front() != raycus::Esc) {
    Text = raycus::Latin1ToUtf8(Chunk);
  }
  if (!Text.empty()) {
    ShowMsg(Text, clBlack);
  } else if (FDebugMode) {
    ShowMsg("Rev Data: " + BytesToStr(Buffer, Count), clBlack);
  }
  if (Count >= 2 && Chunk[0] == 'T' && Chunk[1] == 'S' && TakeOnce()) {
    ShowMsg(SLaserConnectedOk.Get(), clBlack);
  }
}

void TRaycusLaser::TCommThread::PauseAfterWrite() {
  Sleep(20);
}

void TRaycusLaser::TCommThread::IdleRequest() {
  if (FDiodeCurrentChanged <= 0) {
    return;
  }
  --FDiodeCurrentChanged;
  TCommCmd Cmd;
  if (MakeCommCmd(raycus::DiodeCmd(FDiodeCurrent), Cmd)) {
    SendCommand(Cmd);
  }
}

// ---- TRaycusLaser -------------------------------------------------------------------

void TRaycusLaser::Create(TComponent* AOwner, const TLaserParams& AParams) {
  FCfgRay = AParams.CfgRay;
  FCommPort = FCfgRay.Comm.CommPort;
  // Before the fiber base: its configured diode current becomes a diode request.
  if (FCommPort > 0) {
    FCommThread = StartCommThread<TCommThread>(this);
  }
  TFiberLaser::Create(AOwner, AParams);
}

void TRaycusLaser::Destroy() {
  EmissionOff();
  // Terminates and waits; the queued emission off goes out only if the thread takes it
  // before it sees the stop.
  FCommThread.reset();
  TFiberLaser::Destroy();
}

bool TRaycusLaser::GetIsRaycusQCW() const {
  return TextBufToUtf8(FCfgRay.PulseModel) == "QCW" && SameTextAscii(FCfgLaserDef.Model, "Raycus");
}

bool TRaycusLaser::GetIsEmissionOn() {
  return FIsEmissionOn;
}

bool TRaycusLaser::GetIsLaserOn() {
  return TFiberLaser::GetIsLaserOn();
}

void TRaycusLaser::EmissionOn() {
  const std::uint32_t Seen = SwitchOffs();
  IfNoSwitchOffSince(Seen, [this] {
    if (SerialUsable()) {
      FCommThread->LockAddBytes(raycus::EmissionOnCmd);
    }
    FIsEmissionOn = true;
  });
  TFiberLaser::EmissionOn(); // the diode command follows the emission command
}

void TRaycusLaser::WithdrawEmissionOn() {
  NoteSwitchOff();
  // The thread writes under its queue lock, so a command it has taken is written before
  // this removal returns; one still queued never is.
  if (SerialUsable() && FCommThread->LockRemoveBytes(raycus::EmissionOnCmd) > 0) {
    FIsEmissionOn = false; // it never reached the laser
  }
}

void TRaycusLaser::EmissionOff() {
  TNcLaser::EmissionOff();
  // An emission-on command not yet written must not switch the laser on after this
  // returns.
  WithdrawEmissionOn();
  if (SerialUsable()) {
    FCommThread->LockAddBytes(raycus::EmissionOffCmd);
  }
  FIsEmissionOn = false;
}

void TRaycusLaser::LaserOn() {
  TFiberLaser::LaserOn();
  if (SerialUsable() && GetIsRaycusQCW()) {
    const TLaserQcwParams& Q = FCfgRay.QCW;
    FCommThread->LockAddBytes(raycus::PulseParamsCmd(Q.PulseFreq, Q.PulseRatio, Q.PulsePower));
  }
}

void TRaycusLaser::LaserOff() {
  WithdrawEmissionOn();
  TFiberLaser::LaserOff();
}

void TRaycusLaser::PowerOn() {
  TNcLaser::PowerOn();
  EmissionOn();
}

bool TRaycusLaser::SetDiodeCustom(double Value) {
  if (!SerialUsable()) {
    return false;
  }
  FCommThread->SetDiodeCurrent(ByteOf(RoundHalfEven(Value)));
  return true;
}

// ---- TRayQCWLaser -------------------------------------------------------------------

void TRayQCWLaser::Create(TComponent* AOwner, const TLaserParams& AParams) {
  // Before the fiber base: its configured diode current goes out as 0xE2.
  FRayQCWDriver = std::make_unique<TRayQCWDriver>(nullptr, AParams.CfgRay);
  FLaserCommPort = AParams.CfgRay.Comm.CommPort;
  FLaserCtrlPort = AParams.DefParams.CtrlPort;
  FCfgRay = AParams.CfgRay;
  TFiberLaser::Create(AOwner, AParams);
}

void TRayQCWLaser::Destroy() {
  // The fiber base's chain ends in LaserOff, which still needs the driver.
  TFiberLaser::Destroy();
  FRayQCWDriver.reset();
}

bool TRayQCWLaser::GetIsQCW() {
  return SameTextAscii(TextBufToUtf8(FCfgRay.PulseModel), "QCW");
}

bool TRayQCWLaser::LinkQCW() {
  return FLaserCommPort > 0 && FRayQCWDriver != nullptr && GetIsQCW();
}

void TRayQCWLaser::InitLaserParam() {
  if (!LinkQCW()) {
    return;
  }
  const TLaserQcwParams& Q = FCfgRay.QCW;
  FRayQCWDriver->SetLaserParam(ByteOf(Q.PulsePower), static_cast<std::uint16_t>(Q.PulseFreq),
                               ByteOf(Q.PulseRatio), 1);
  FRayQCWDriver->EnableModulationCtrl();
}

void TRayQCWLaser::LaserOn() {
  std::uint32_t Offs = 0;
  {
    std::lock_guard<std::mutex> L(FSwitchLock);
    Offs = FLaserOffs;
    TFiberLaser::LaserOn();
  }
  if (LinkQCW()) {
    InitLaserParam(); // exchanges with the laser: a LaserOff may come meanwhile
    std::lock_guard<std::mutex> L(FSwitchLock);
    if (FLaserOffs == Offs) {
      FRayQCWDriver->LaserOn();
    }
  }
}

void TRayQCWLaser::LaserOff() {
  {
    // A LaserOn still running sends no laser-on after this; one that holds the lock now
    // sends it before our laser-off.
    std::lock_guard<std::mutex> L(FSwitchLock);
    ++FLaserOffs;
  }
  TFiberLaser::LaserOff();
  if (LinkQCW()) {
    FRayQCWDriver->LaserOff();
  }
}

void TRayQCWLaser::EmissionOn() {
  TFiberLaser::EmissionOn();
  if (FLaserCtrlPort > 0) {
    ioport::SetOutput(FLaserCtrlPort, true);
  }
  if (LinkQCW()) {
    InitLaserParam();
  }
  FIsEmissionOn = true;
}

void TRayQCWLaser::EmissionOff() {
  {
    // This make's emission is its laser-on: a LaserOn still running sends none after this.
    std::lock_guard<std::mutex> L(FSwitchLock);
    ++FLaserOffs;
  }
  TNcLaser::EmissionOff();
  if (FLaserCtrlPort > 0) {
    ioport::SetOutput(FLaserCtrlPort, false);
  }
  FIsEmissionOn = false;
}

bool TRayQCWLaser::GetIsEmissionOn() {
  if (FLaserCtrlPort > 0) {
    return ioport::GetOutput(FLaserCtrlPort);
  }
  return FIsEmissionOn;
}

bool TRayQCWLaser::GetIsLaserOn() {
  return TFiberLaser::GetIsLaserOn();
}

bool TRayQCWLaser::SetDiodeCustom(double Value) {
  if (!LinkQCW()) {
    return false;
  }
  const TLaserQcwParams& Q = FCfgRay.QCW;
  FRayQCWDriver->SetLaserParam(TruncByte(Value), static_cast<std::uint16_t>(Q.PulseFreq),
                               ByteOf(Q.PulseRatio), 1);
  FRayQCWDriver->SetLaserData();
  return true;
}

double TRayQCWLaser::GetDiodeCurrent() {
  return LinkQCW() ? static_cast<double>(FRayQCWDriver->GetLaserPower()) : 0.0;
}

std::string TRayQCWLaser::GetDeviceDesc() {
  return LinkQCW() ? FRayQCWDriver->GetLaserID() : std::string();
}

std::string TRayQCWLaser::GetAlarmDesc() {
  return LinkQCW() ? FRayQCWDriver->GetAlarmDesc() : std::string();
}

void TRayQCWLaser::UpdateAlarms() {
  TNcLaser::UpdateAlarms();
  // A lost link leaves the alarm as it was.
  if (FLaserCommPort > 0 && FRayQCWDriver != nullptr && FRayQCWDriver->CheckConnection()) {
    SetAlarmStatus(FRayQCWDriver->HasAlarm());
  }
}

int TRayQCWLaser::ExecuteCmd(int Cmd, double Param) {
  if (Cmd == 2101) {
    return 10;
  }
  return TNcLaser::ExecuteCmd(Cmd, Param);
}

int TRayQCWLaser::ExecCmd(const std::string& Name, TVariant& Value) {
  return TNcLaser::ExecCmd(Name, Value); // the host device's own
}

} // namespace nclaser
