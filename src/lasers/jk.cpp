#include "lasers/jk.h"

#include <array>
#include <string>

#include "host/appsys.h"
#include "host/clock.h"
#include "lasers/factory.h"
#include "protocols/jk.h"
#include "strings/messages.h"

namespace nclaser {

namespace {

const TLaserClassRegistrar GReg{{"TJKLaser", &NewLaser<TJKLaser>, eltGSI, SubTypeAny, 170}};

constexpr std::array<std::uint8_t, 3> ParamsQuery{jk::fcParams, 0x01, 0x01};

} // namespace

// The JK thread keeps no debug flag of its own: it writes no traffic log.
TJKLaser::TCommThread::TCommThread(TJKLaser* ALaser)
    : TBinaryCommThread(ALaser->FCfgGSI.Comm, false), FAddr(ALaser->FCfgGSI.Address),
      FLaser(ALaser) {}

void TJKLaser::TCommThread::LockAddCmd(std::span<const std::uint8_t> Data) {
  LockAddCmdWithCRC(jk::BuildFrame(FAddr, Data));
}

void TJKLaser::TCommThread::LockAddCmdWithCRC(std::span<const std::uint8_t> Frame) {
  LockAddBytes(Frame);
}

void TJKLaser::TCommThread::InputPhase() {
  std::uint8_t Buf[1024];
  for (int I = 0; I < 5; ++I) {
    const int N = FComm->Read(Buf, sizeof(Buf));
    if (N > 3) {
      Decode(Buf, N);
    }
    Sleep(20);
    if (N > 0 || Terminated()) {
      return;
    }
  }
}

void TJKLaser::TCommThread::Decode(const std::uint8_t* Buffer, int Count) {
  const auto A = jk::DecodeAnswer(Buffer, Count);
  if (!A) {
    return;
  }
  if (A->LaserStatus) {
    FLaser->FLaserStatus = *A->LaserStatus;
  }
  if (A->AimingOn) {
    FLaser->FIsAimingOn = *A->AimingOn;
  }
  if (A->ActiveParamSet) {
    FLaser->FLaserActiveParamSet = *A->ActiveParamSet;
  }
  if (A->AlarmCode) {
    FLaser->FLaserAlarm = *A->AlarmCode;
  }
  if (A->Announces() && TakeOnce()) {
    ShowMsg(SLaserConnectedOk.Get(), clBlack);
  }
}

bool TJKLaser::TCommThread::HoldBack(const TCommCmd& Head) {
  // Emission waits until the laser reports it is ready; everything queued after it waits
  // too, while the status poll goes on.
  return Head.CmdSize > 2 && Head.CmdBuf[2] == jk::fcEmission && FLaser->FLaserStatus <= 1;
}

void TJKLaser::TCommThread::AfterSend(bool Written) {
  if (!Written) {
    FComm->Write(jk::StatusRequestFrame.data(), static_cast<int>(jk::StatusRequestFrame.size()));
  }
}

void TJKLaser::TCommThread::AfterLoop() {
  if (PortActive()) {
    FComm->Write(jk::ClosingFrame1.data(), static_cast<int>(jk::ClosingFrame1.size()));
    FComm->Write(jk::ClosingFrame2.data(), static_cast<int>(jk::ClosingFrame2.size()));
  }
}

void TJKLaser::Create(TComponent* AOwner, const TLaserParams& AParams) {
  FCfgGSI = AParams.CfgGSI;
  TFiberLaser::Create(AOwner, AParams);
  FCommPort = FCfgGSI.Comm.CommPort;
  if (FCommPort > 0) {
    FCommThread = StartCommThread<TCommThread>(this);
  }
  FLaserActiveParamSet = 1;
}

void TJKLaser::Destroy() {
  EmissionOff();
  FCommThread.reset(); // terminates and waits: the closing frames go out here
  TFiberLaser::Destroy();
}

void TJKLaser::LockAddCmd(std::span<const std::uint8_t> Data) {
  if (FCommThread != nullptr) {
    FCommThread->LockAddCmd(Data);
  }
}

void TJKLaser::Standby() {
  if (FCommThread != nullptr) {
    const std::uint8_t D[] = {jk::fcStandby};
    LockAddCmd(D);
  }
  FLaserStatus = 2;
}

int TJKLaser::ExecuteCmd(int Cmd, double Param) {
  if (Cmd < 0x1000) {
    return TNcLaser::ExecuteCmd(Cmd, Param);
  }
  if (FCommThread != nullptr) {
    if (const auto Data = jk::ExecuteCmdData(Cmd, Param)) {
      LockAddCmd(*Data);
    }
  }
  return 0;
}

std::string TJKLaser::GetAlarmDesc() {
  return FCfgLaserDef.Model + SLaserAlarm.Get() + " Code: " + std::to_string(FLaserAlarm.load());
}

bool TJKLaser::GetIsAimingOn() {
  return FIsAimingOn;
}

bool TJKLaser::GetIsEmissionOn() {
  return FLaserStatus == 3;
}

void TJKLaser::EmissionOn() {
  const std::uint32_t Seen = SwitchOffs();
  IfNoSwitchOffSince(Seen, [this] {
    if (FCommThread != nullptr) {
      if (FLaserStatus <= 1) {
        for (const auto& Data : jk::EmissionOnSequence()) {
          LockAddCmd(Data);
        }
      } else {
        const std::uint8_t D[] = {jk::fcEmission};
        LockAddCmd(D);
      }
      LockAddCmd(ParamsQuery);
    }
    FLaserStatus = 1;
  });
  TFiberLaser::EmissionOn();
}

void TJKLaser::WithdrawEmission() {
  // An emission frame still waiting for the laser to get ready would switch emission on
  // after the switch-off returned.
  NoteSwitchOff();
  if (FCommThread != nullptr) {
    FCommThread->LockRemoveIf(
        [](const TCommCmd& C) { return C.CmdSize > 2 && C.CmdBuf[2] == jk::fcEmission; });
  }
}

void TJKLaser::EmissionOff() {
  WithdrawEmission();
  TNcLaser::EmissionOff();
  Standby();
}

void TJKLaser::LaserOff() {
  WithdrawEmission();
  TFiberLaser::LaserOff();
}

void TJKLaser::PowerOn() {
  TNcLaser::PowerOn();
  EmissionOn();
}

void TJKLaser::SetAimingOn(bool On) {
  TNcLaser::SetAimingOn(On);
  if (FCommThread != nullptr) {
    if (On) {
      Standby();
      const std::uint8_t D[] = {jk::fcAiming, 0xFF};
      LockAddCmd(D);
    } else {
      const std::uint8_t D[] = {jk::fcAiming, 0x00};
      LockAddCmd(D);
    }
    const std::uint8_t Q[] = {jk::fcAimingQuery};
    LockAddCmd(Q);
  }
  FIsAimingOn = On;
}

void TJKLaser::UpdateAlarms() {
  SetAlarmStatus(FLaserAlarm != 0);
}

bool TJKLaser::SetDiodeCustom(double Value) {
  if (FCommPort <= 0 || FCommThread == nullptr) {
    return false;
  }
  LockAddCmd(jk::DiodeSetPointData(Value));
  LockAddCmd(ParamsQuery);
  return true;
}

} // namespace nclaser
