#include "raydrv/rayqcwdriver.h"

#include <algorithm>

#include "host/appsys.h"
#include "host/clock.h"
#include "params/textbuf.h"
#include "protocols/hexdump.h"
#include "strings/messages.h"

namespace nclaser {

namespace {

constexpr int ReadChunk = 1024;
constexpr int ReopenPauseMs = 50;
constexpr std::int32_t PollMs = 100;

} // namespace

// ---- Lifetime -----------------------------------------------------------------------

TRayQCWDriver::TRayQCWDriver(TComponent* /*Owner*/, const TRaycusLaserParams& AParams)
    : FCfgRay(AParams) {
  if (FCfgRay.Comm.CommPort <= 0) {
    return;
  }
  FComm = NewCommCtrl();
  if (FComm == nullptr) {
    return;
  }
  FComm->SetSettings(TextBufToUtf8(FCfgRay.Comm.CommSettings));
  FComm->SetCommPort(FCfgRay.Comm.CommPort);
  FComm->SetActive(true);
  FComm->Open();
  FDebugMode = FCfgRay.DebugMode;
  FCurMode = raycus::OFFMode;
  // The lock and the settings are ready before the thread can use them.
  FThread.reset(new TCommThread(this));
  FThread->SetThreadDelay(PollMs);
  FThread->Start();
  ResetLaserMode();
}

TRayQCWDriver::~TRayQCWDriver() {
  FThread.reset();
  FComm.reset();
}

void TRayQCWDriver::SetBufEvent(TBufEvent Event) {
  std::lock_guard<std::mutex> L(FEventLock);
  FBufEvent = std::move(Event);
}

void TRayQCWDriver::DebugLog(const std::string& Line) {
  TBufEvent Event;
  {
    std::lock_guard<std::mutex> L(FEventLock);
    Event = FBufEvent;
  }
  if (Event) {
    Event(Line);
  }
  ShowMsg(Line, clBlack);
}

// ---- Framing ------------------------------------------------------------------------

void TRayQCWDriver::SendCmd(std::uint8_t Code, std::span<const std::uint8_t> Data) {
  if (FComm == nullptr || !CheckConnection()) {
    return;
  }
  const std::vector<std::uint8_t> Frame = raycus::BuildRequest(Code, Data);
  {
    std::lock_guard<TCriticalSection> L(FCommLock);
    FCmd = Code;
    if (FComm->Write(Frame.data(), static_cast<int>(Frame.size())) == -1) {
      // The next CheckConnection reopens it.
      FComm->SetActive(false);
    }
  }
  if (FDebugMode) {
    DebugLog("SendCmd: " + BytesToStr(Frame.data(), static_cast<int>(Frame.size())));
  }
  if (Code == raycus::cmdCheckStatus || Code == raycus::cmdSetLaserData ||
      Code == raycus::cmdCheckBySuperMode) {
    ReceiveResponse();
  }
}

void TRayQCWDriver::ReceiveResponse() {
  if (FComm == nullptr) {
    return;
  }
  std::lock_guard<TCriticalSection> L(FCommLock);
  // Takes what has arrived by now, without waiting; only the last read that returned
  // bytes is kept.
  std::uint8_t Buf[ReadChunk];
  std::vector<std::uint8_t> Received;
  for (;;) {
    const int N = FComm->Read(Buf, ReadChunk);
    if (N <= 0) {
      break;
    }
    Received.assign(Buf, Buf + N);
  }
  if (Received.empty()) {
    return;
  }
  std::span<const std::uint8_t> Rest(Received);
  if (FCmd == raycus::cmdCheckBySuperMode) {
    const std::uint8_t Mode = Rest.front();
    Rest = Rest.subspan(1);
    if (Mode == raycus::InterContinusMode || Mode == raycus::InterModulationMode) {
      FCurMode = static_cast<TCtrlMode>(Mode);
    }
  }
  AnalyzeResponse(Rest);
  if (FDebugMode) {
    DebugLog("Recevied:" + BytesToStr(Received.data(), static_cast<int>(Received.size())));
  }
}

void TRayQCWDriver::AnalyzeResponse(std::span<const std::uint8_t> Buf) {
  // Invalid, truncated or concatenated answers are dropped silently.
  if (const auto A = raycus::ParseAnswer(Buf)) {
    ExtractData(*A);
  }
}

void TRayQCWDriver::ExtractData(const raycus::TAnswer& Answer) {
  std::lock_guard<TCriticalSection> L(FCommLock);
  int Status = raycus::StatusAccepted;
  switch (Answer.Code) {
  case raycus::cmdCheckStatus:
    if (auto S = raycus::DecodeStatus(Answer.Data)) {
      std::lock_guard<std::mutex> D(FDataLock);
      FLaserData = std::move(*S);
    }
    break;
  case raycus::cmdSetLaserData:
    if (Answer.Data.size() == 1) {
      Status = Answer.Data[0];
    }
    break;
  case raycus::cmdCheckBySuperMode:
    if (Answer.Data.size() == raycus::LaserDataSize) {
      std::lock_guard<std::mutex> D(FDataLock);
      raycus::CopyLaserHead(Answer.Data.first<raycus::LaserDataSize>(), FLaserData);
    }
    break;
  case raycus::cmdReadErrorRecord:
  case raycus::cmdLaserOn:
  case raycus::cmdLaserOff:
  case raycus::cmdResetLaserMode:
    if (!Answer.Data.empty()) {
      Status = Answer.Data[0];
    }
    break;
  default:
    break;
  }
  if (Status != raycus::StatusAccepted && FDebugMode) {
    ShowMsg("ErrorCode" + std::to_string(Status), clBlack);
  }
}

// ---- Pulse parameters and mode --------------------------------------------------------

raycus::TQCWModel TRayQCWDriver::Model() const {
  if (GetIsQCW450()) {
    return raycus::TQCWModel::QCW450;
  }
  if (GetIsQCW150()) {
    return raycus::TQCWModel::QCW150;
  }
  return raycus::TQCWModel::Unknown;
}

void TRayQCWDriver::SetLaserParam(std::uint8_t Power, std::uint16_t Freq, std::uint8_t Ratio,
                                  std::uint16_t PulseW) {
  const raycus::TPulse P = raycus::ClampPulse(Model(), Power, Freq, Ratio, PulseW);
  FPower = P.Power;
  FFreq = P.Freq;
  FRatio = P.Ratio;
  FPulseW = P.PulseW;
}

void TRayQCWDriver::SetLaserData() {
  const auto Data = raycus::LaserDataBytes(FCtrlMode, FPower, FFreq, FRatio, FPulseW);
  SendCmd(raycus::cmdSetLaserData, Data);
}

void TRayQCWDriver::SetControlMode(TCtrlMode Mode) {
  if (Mode == FCtrlMode) {
    return;
  }
  FCtrlMode = Mode;
  ResetLaserMode();
}

// ---- Status -------------------------------------------------------------------------

TRayQCWDriver::TLaserData TRayQCWDriver::LaserData() const {
  std::lock_guard<std::mutex> L(FDataLock);
  return FLaserData;
}

std::string TRayQCWDriver::GetLaserID() const {
  std::lock_guard<std::mutex> L(FDataLock);
  return raycus::Latin1ToUtf8(FLaserData.DeviceType);
}

std::string TRayQCWDriver::GetLaserType() const {
  std::lock_guard<std::mutex> L(FDataLock);
  return raycus::Latin1ToUtf8(FLaserData.ID);
}

bool TRayQCWDriver::GetIsQCW150() const {
  return GetLaserID().find("QCW150") != std::string::npos;
}

bool TRayQCWDriver::GetIsQCW450() const {
  return GetLaserID().find("QCW450") != std::string::npos;
}

bool TRayQCWDriver::PortActive() const {
  std::lock_guard<TCriticalSection> L(FCommLock);
  return FComm != nullptr && FComm->GetActive();
}

bool TRayQCWDriver::CheckConnection() {
  if (FComm == nullptr) {
    return false;
  }
  // Each port call under the lock (two threads share the port), the pauses outside it.
  if (!PortActive()) {
    const auto Locked = [this](auto&& Step) {
      std::lock_guard<TCriticalSection> L(FCommLock);
      Step();
    };
    Locked([this] { FComm->Close(); });
    Sleep(ReopenPauseMs);
    Locked([this] { FComm->SetActive(true); });
    Sleep(ReopenPauseMs);
    Locked([this] { FComm->Open(); });
  }
  return PortActive();
}

bool TRayQCWDriver::HasAlarm() const {
  bool Any = false;
  {
    std::lock_guard<std::mutex> L(FDataLock);
    const auto& S = FLaserData.ModuleState;
    if (S.size() < raycus::ModuleStateSize) {
      return false;
    }
    Any = std::any_of(S.begin(), S.end(), [](std::uint8_t B) { return B != 0; });
  }
  return Any && PortActive();
}

std::string TRayQCWDriver::GetAlarmDesc() const {
  int Index = -1;
  {
    std::lock_guard<std::mutex> L(FDataLock);
    Index = raycus::AlarmIndex(FLaserData.ModuleState);
  }
  if (Index < 0) {
    return {};
  }
  return RaycusStateStrs()[static_cast<std::size_t>(Index)]->Get();
}

// ---- Monitor thread -----------------------------------------------------------------

TRayQCWDriver::TCommThread::TCommThread(TRayQCWDriver* Owner)
    : TLinkMonitor("RaycusDriver", Owner->FCfgRay.ConnCheck, PollMs), FOwner(Owner) {}

void TRayQCWDriver::TCommThread::Poll() {
  FOwner->CheckStatus();
}

bool TRayQCWDriver::TCommThread::CheckLink() {
  return FOwner->CheckConnection();
}

} // namespace nclaser
