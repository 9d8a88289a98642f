#include "lasers/castext.h"

#include "host/appsys.h"
#include "host/clock.h"
#include "lasers/factory.h"
#include "protocols/castext.h"
#include "protocols/hexdump.h"

namespace nclaser {

namespace {

const TLaserClassRegistrar GRegCAS{{"TCASLaser", &NewLaser<TCASLaser>, eltCAS, SubTypeAny, 200}};
const TLaserClassRegistrar GRegQH{
    {"TQingHuaLaser", &NewLaser<TQingHuaLaser>, eltQingHua, SubTypeAny, 210}};

std::span<const std::uint8_t> AsBytes(std::string_view Text) {
  return {reinterpret_cast<const std::uint8_t*>(Text.data()), Text.size()};
}

} // namespace

// ---- CAS ---------------------------------------------------------------------------

TCASLaser::TCommThread::TCommThread(const TLaserCommParam& Cfg)
    : TBinaryCommThread(Cfg.Comm, Cfg.Comm.DebugMode) {}

void TCASLaser::TCommThread::LockAddCmd(std::string_view Data) {
  LockAddBytes(AsBytes(Data));
}

void TCASLaser::TCommThread::InputPhase() {
  // The laser's answers are not decoded; with the debug flag they are logged.
  DrainBytes([this](const std::uint8_t* B, int N) {
    if (FDebugMode) {
      ShowMsg("Rev Data: " + BytesToStr(B, N), clBlack);
    }
  });
}

void TCASLaser::Create(TComponent* AOwner, const TLaserParams& AParams) {
  FCfgCAS = AParams.CfgCAS;
  TFiberLaser::Create(AOwner, AParams);
  FCommPort = FCfgCAS.Comm.CommPort;
  FIgnoreCommResult = FCfgCAS.Comm.IgnoreCommResult;
  if (FCommPort > 0) {
    FCommThread = StartCommThread<TCommThread>(FCfgCAS);
  }
}

void TCASLaser::Destroy() {
  EmissionOff();
  FCommThread.reset();
  TFiberLaser::Destroy();
}

bool TCASLaser::GetIsAimingOn() {
  return FIsAimingOn;
}

bool TCASLaser::GetIsEmissionOn() {
  return FIsEmissionOn;
}

void TCASLaser::EmissionOn() {
  // A switch-off from another thread between the start of this call and the queueing must
  // not be followed by the emission-on.
  IfNoSwitchOffSince(SwitchOffs(), [this] {
    if (HasLink()) {
      FCommThread->LockAddCmd(cas::EmissionCmd(true));
    }
    FIsEmissionOn = true;
  });
  TFiberLaser::EmissionOn();
}

void TCASLaser::EmissionOff() {
  NoteSwitchOff();
  TNcLaser::EmissionOff();
  if (HasLink()) {
    // An emission-on still waiting for the port must not follow this call.
    FCommThread->LockRemoveBytes(AsBytes(cas::EmissionCmd(true)));
    FCommThread->LockAddCmd(cas::EmissionCmd(false));
  }
  FIsEmissionOn = false;
}

void TCASLaser::LaserOn() {
  TFiberLaser::LaserOn();
  if (!FIsEmissionOn) {
    EmissionOn();
  }
}

void TCASLaser::LaserOff() {
  NoteSwitchOff(); // an EmissionOn under way has queued its command, or will not
  TFiberLaser::LaserOff();
  if (FIsEmissionOn) {
    EmissionOff();
  }
}

void TCASLaser::PowerOn() {
  TNcLaser::PowerOn();
}

void TCASLaser::SetAimingOn(bool On) {
  TNcLaser::SetAimingOn(On);
  if (HasLink()) {
    FCommThread->LockAddCmd(cas::GuideCmd(On));
  }
  FIsAimingOn = On;
  TNcLaser::SetAimingOn(On);
}

bool TCASLaser::SetDiodeCustom(double Value) {
  FDiodeCurrent = Value;
  if (FCfgCAS.Comm.CommPort <= 0 || FCommThread == nullptr) {
    return false;
  }
  FCommThread->LockAddCmd(cas::CurrentCmd(Value));
  return true;
}

double TCASLaser::GetDiodeCustom() {
  if (!FIgnoreCommResult && FCommThread != nullptr) {
    FCommThread->LockAddCmd(cas::CurrentQuery());
  }
  return FDiodeCurrent;
}

// ---- QingHua -----------------------------------------------------------------------

TQingHuaLaser::TCommThread::TCommThread(const TLaserCommParam& Cfg)
    : TBinaryCommThread(Cfg.Comm, Cfg.Comm.DebugMode) {}

void TQingHuaLaser::TCommThread::LockAddCmd(int Channel, std::string_view Data) {
  LockAddBytes(qinghua::Frame(Channel, Data));
}

void TQingHuaLaser::Create(TComponent* AOwner, const TLaserParams& AParams) {
  FCfgQH = AParams.CfgQingHua;
  FCommPort = FCfgQH.Comm.CommPort;
  if (FCommPort > 0) {
    FCommThread = StartCommThread<TCommThread>(FCfgQH);
  }
  TFiberLaser::Create(AOwner, AParams);
}

void TQingHuaLaser::Destroy() {
  EmissionOff();
  TFiberLaser::Destroy();
  FCommThread.reset();
}

bool TQingHuaLaser::GetIsLaserOn() {
  return FIsLaserOn;
}

void TQingHuaLaser::LaserOn() {
  IfNoSwitchOffSince(SwitchOffs(), [this] {
    if (HasLink()) {
      FCommThread->LockAddCmd(qinghua::chLaser, "1");
    }
    FIsLaserOn = true;
  });
  TFiberLaser::LaserOn();
}

void TQingHuaLaser::LaserOff() {
  NoteSwitchOff();
  TFiberLaser::LaserOff();
  if (HasLink()) {
    // A laser-on still waiting for the port must not follow this call.
    FCommThread->LockRemoveBytes(qinghua::Frame(qinghua::chLaser, "1"));
    FCommThread->LockAddCmd(qinghua::chLaser, "0");
  }
  FIsLaserOn = false;
}

void TQingHuaLaser::EmissionOff() {
  NoteSwitchOff();
  if (HasLink() && FCommThread->LockRemoveBytes(qinghua::Frame(qinghua::chLaser, "1")) > 0) {
    FIsLaserOn = false;
  }
  TFiberLaser::EmissionOff();
}

void TQingHuaLaser::PowerOn() {
  TNcLaser::PowerOn();
}

bool TQingHuaLaser::SetDiodeCustom(double Value) {
  if (!HasLink()) {
    return false;
  }
  FCommThread->LockAddCmd(qinghua::chMode, "0");
  Sleep(100); // the laser takes the power only a while after the mode command
  FCommThread->LockAddCmd(qinghua::chPower, qinghua::PowerDigits(Value));
  return true;
}

} // namespace nclaser
