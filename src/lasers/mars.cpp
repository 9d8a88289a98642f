#include "lasers/mars.h"

#include "host/appsys.h"
#include "lasers/factory.h"
#include "protocols/hexdump.h"
#include "runtime/format1033.h"
#include "strings/messages.h"

namespace nclaser {

namespace {

const TLaserClassRegistrar GReg{{"TMarsLaser", &NewLaser<TMarsLaser>, eltMars, SubTypeAny, 180}};

const TResourceString& AlarmMessage(mars::TVersion Version, mars::TAlarm Alarm) {
  const bool V1 = Version == mars::TVersion::Ver101;
  switch (Alarm) {
  case mars::TAlarm::CurrentErr:
    return SV101CurrentErr;
  case mars::TAlarm::PanelDisConnectErr:
    return SV101PanelDisConnectErr;
  case mars::TAlarm::InterLockErr:
    return V1 ? SV101InterLockErr : SV102InterLockErr;
  case mars::TAlarm::Err:
    return V1 ? SV101Err : SV102Err;
  case mars::TAlarm::Warning:
    return V1 ? SV101Warning : SV102Warning;
  case mars::TAlarm::ServerTimeOut:
    return V1 ? SV101ServerTimeOut : SV102ServerTimeOut;
  case mars::TAlarm::BreakLineErr:
    return SV102BreakLineErr;
  case mars::TAlarm::CondensationErr:
    break;
  }
  return SV102CondensationErr;
}

} // namespace

TMarsLaser::TCommThread::TCommThread(TMarsLaser* ALaser)
    : TQueuedCommThread(ALaser->FCfgMars.Comm, ALaser->FCfgMars.Comm.DebugMode), FLaser(ALaser) {}

void TMarsLaser::TCommThread::InputPhase() {
  DrainText([this](const std::string& Text) {
    GetMaxPower(Text);
    GetLaserState(Text);
    if (FLaser->FMaxPower > 10.0 && TakeOnce()) {
      ShowMsg(SLaserConnectedOk.Get(), clBlack);
    }
  });
}

void TMarsLaser::TCommThread::IdleRequest() {
  LockAddCmd(mars::StatusQuery());
  if (!OnceTaken()) {
    LockAddCmd(mars::MaxPowerQuery());
  }
}

void TMarsLaser::TCommThread::GetMaxPower(const std::string& Text) {
  const auto A = mars::ParseMaxPower(Text);
  if (!A.Found) {
    return;
  }
  if (FDebugMode) {
    ShowMsg(Text, clBlack);
    ShowMsg("PwrStr = " + A.PwrStr, clBlack);
  }
  if (!A.MaxPowerW) {
    return;
  }
  FLaser->FMaxPower = *A.MaxPowerW;
  if (FDebugMode) {
    ShowMsg("MaxPower = " + FloatToStr1033(*A.MaxPowerW), clBlack);
  }
}

void TMarsLaser::TCommThread::GetLaserState(const std::string& Text) {
  const auto A = mars::ParseStatus(Text, FLaser->FVersion);
  if (!A.Found) {
    return;
  }
  FLaser->FVersion = A.Version;
  if (A.Version != TVersion::VerN && !A.Digits.empty()) {
    std::lock_guard<std::mutex> L(FLaser->FStateLock);
    FLaser->FLaserState = A.Digits;
  }
  if (FDebugMode) {
    ShowMsg("STATUS = " + A.DigitText, clBlack);
    ShowMsg("STATUS = " + BytesToStr(A.Digits.data(), static_cast<int>(A.Digits.size())), clBlack);
  }
}

void TMarsLaser::Create(TComponent* AOwner, const TLaserParams& AParams) {
  FCfgMars = AParams.CfgMars;
  FCommPort = FCfgMars.Comm.CommPort;
  if (FCommPort > 0) {
    // The start commands are queued before the thread runs, so they lead its own polls.
    FCommThread.reset(new TCommThread(this));
    for (const auto& Cmd : mars::StartCommands()) {
      FCommThread->LockAddCmd(Cmd);
    }
    FMaxPower = 10.0;
    FCommThread->Start();
  }
  FVersion = TVersion::VerN;
  {
    std::lock_guard<std::mutex> L(FStateLock);
    FLaserAlarmDes.clear();
  }
  InitStateInfo();
  TFiberLaser::Create(AOwner, AParams);
}

void TMarsLaser::Destroy() {
  EmissionOff();
  TFiberLaser::Destroy();
  FCommThread.reset();
  FAlarmDicVer101.clear();
  FAlarmDicVer102.clear();
}

void TMarsLaser::InitStateInfo() {
  FAlarmDicVer101.clear();
  FAlarmDicVer102.clear();
  for (const auto V : {TVersion::Ver101, TVersion::Ver102}) {
    auto& Dic = V == TVersion::Ver101 ? FAlarmDicVer101 : FAlarmDicVer102;
    for (const auto& B : mars::AlarmBits(V)) {
      Dic[B.Bit] = AlarmMessage(V, B.Alarm).Get();
    }
  }
}

bool TMarsLaser::GetStatusDes(const std::vector<std::uint8_t>& Digits, std::string& Text) const {
  Text.clear();
  bool Found = false;
  const TVersion V = FVersion;
  if (V == TVersion::VerN) {
    return false;
  }
  const auto& Dic = V == TVersion::Ver101 ? FAlarmDicVer101 : FAlarmDicVer102;
  for (const int Bit : mars::SetBits(Digits)) {
    const auto It = Dic.find(Bit);
    if (It != Dic.end()) {
      Found = true;
      Text = It->second;
    }
  }
  return Found;
}

std::vector<std::uint8_t> TMarsLaser::GetLaserState() const {
  std::lock_guard<std::mutex> L(FStateLock);
  return FLaserState;
}

std::string TMarsLaser::GetAlarmDesc() {
  std::lock_guard<std::mutex> L(FStateLock);
  return "RerId" + SLaserAlarm.Get() + " Des: " + FLaserAlarmDes;
}

bool TMarsLaser::GetIsAimingOn() {
  return FIsAimingOn;
}

bool TMarsLaser::GetIsEmissionOn() {
  return FIsEmissionOn;
}

void TMarsLaser::EmissionOn() {
  const std::uint32_t Seen = SwitchOffs();
  TFiberLaser::EmissionOn();
  IfNoSwitchOffSince(Seen, [this] {
    if (FCommPort > 0 && FCommThread != nullptr) {
      FCommThread->LockAddCmd(mars::EmissionOnCmd());
    }
    FIsEmissionOn = true;
  });
}

void TMarsLaser::WithdrawEmissionOn() {
  NoteSwitchOff();
  if (FCommPort > 0 && FCommThread != nullptr &&
      FCommThread->LockRemoveIf([](const std::string& C) { return C == mars::EmissionOnCmd(); }) >
          0) {
    FIsEmissionOn = false; // it never reached the laser
  }
}

void TMarsLaser::EmissionOff() {
  TNcLaser::EmissionOff();
  // An emission-on still waiting for the port must not follow this call.
  WithdrawEmissionOn();
  if (FCommPort > 0 && FCommThread != nullptr) {
    FCommThread->LockAddCmd(mars::EmissionOffCmd());
  }
  FIsEmissionOn = false;
}

void TMarsLaser::LaserOff() {
  WithdrawEmissionOn();
  TFiberLaser::LaserOff();
}

void TMarsLaser::PowerOn() {
  TNcLaser::PowerOn();
}

void TMarsLaser::SetAimingOn(bool On) {
  TNcLaser::SetAimingOn(On);
  if (FCommPort > 0 && FCommThread != nullptr) {
    FCommThread->LockAddCmd(mars::PilotCmd(On));
  }
  FIsAimingOn = On;
}

void TMarsLaser::UpdateAlarms() {
  const std::vector<std::uint8_t> Digits = GetLaserState();
  std::string Des;
  const bool Found = GetStatusDes(Digits, Des);
  {
    std::lock_guard<std::mutex> L(FStateLock);
    FLaserAlarmDes = Des;
  }
  SetAlarmStatus(Found);
}

bool TMarsLaser::SetDiodeCustom(double Value) {
  FDiodeCurrent = Value;
  if (FCfgMars.Comm.CommPort <= 0 || FCommThread == nullptr) {
    return false;
  }
  FCommThread->LockAddCmd(mars::PowerCmd(FMaxPower, Value));
  return true;
}

} // namespace nclaser
