#include "ipgdrv/ylrdriver.h"

#include <cmath>

#include "drivers/linkreport.h"
#include "host/appsys.h"
#include "host/clock.h"
#include "host/errors.h"
#include "params/textbuf.h"
#include "protocols/ylr.h"
#include "runtime/format1033.h"
#include "strings/messages.h"

namespace nclaser {

namespace {

// The laser always listens on this port; the configured TcpPort is not used.
constexpr const char* YLRRemotePort = "10001";
constexpr int PingTimeoutMs = 1000;
constexpr int DrainMs = 20;
constexpr int QueryTimeoutMs = 1000;

} // namespace

// ---- Lifetime -----------------------------------------------------------------------

TIPGYLRDriver::TIPGYLRDriver(TComponent* /*Owner*/, const TIPGLaserParams& CfgIPG)
    : FCfgIPG(CfgIPG) {
  FDevStatus = ylr::StatusUnknown;
  FDiodeCurrent = 0.0;
  FIsImdState = false;
  std::int32_t PollMs = 50;
  switch (FCfgIPG.IPGType) {
  case ltYLRNet: {
    FTcpHost = TextBufToUtf8(FCfgIPG.YLR.Net.TcpHost);
    auto Net = std::make_unique<TIPGNetLink>(To8Bit(FTcpHost), YLRRemotePort, PingTimeoutMs,
                                             [this] { IcmpTimeout(nullptr); });
    if (Net->HasTcp()) {
      PollMs = 100;
    }
    FLink = std::move(Net);
    FAsciiWire = true;
    break;
  }
  case ltYLRComm:
    FLink = std::make_unique<TSerialLink>(TextBufToUtf8(FCfgIPG.YLR.Comm.CommSettings),
                                          FCfgIPG.YLR.Comm.CommPort);
    break;
  default:
    throw ELaserError("IPG.LaserType Error Message");
  }
  FIgnoreDiodeReply = FCfgIPG.YLR.IgnoreDiodeReply;
  FDebugMode = FCfgIPG.YLR.DebugMode;
  FThread.reset(new TIPGMonThread(this));
  FThread->SetThreadDelay(PollMs);
  FThread->Start();
}

TIPGYLRDriver::~TIPGYLRDriver() {
  FThread.reset();
  FLink.reset();
}

void TIPGYLRDriver::Shutdown() {
  FLink->Shutdown();
}

void TIPGYLRDriver::LockComm() {
  FCommLock.lock();
}
void TIPGYLRDriver::UnlockComm() {
  FCommLock.unlock();
}

// ---- Traffic ------------------------------------------------------------------------

void TIPGYLRDriver::SendCmd(const std::string& Cmd) {
  if (Cmd.empty()) {
    return;
  }
  const std::string Text = ylr::TerminateCmd(Cmd);
  std::lock_guard<TCriticalSection> L(FCommLock);
  if (!CheckConnection()) {
    return;
  }
  const std::vector<std::uint8_t> Bytes =
      FAsciiWire ? ylr::AsciiEncode(Text) : std::vector<std::uint8_t>(Text.begin(), Text.end());
  FLink->Send(Bytes.data(), static_cast<int>(Bytes.size()));
  if (FDebugMode) {
    ShowMsg("PC->Laser:" + Text, clBlack);
  }
}

void TIPGYLRDriver::SendNoReply(const std::string& Cmd) {
  std::lock_guard<TCriticalSection> L(FCommLock);
  if (!CheckConnection()) {
    return;
  }
  if (!FIsImdState) {
    std::string Pending;
    ReceiveResponse(DrainMs, Pending);
  }
  SendCmd(Cmd);
}

void TIPGYLRDriver::SendAndReply(const std::string& Cmd, int Timeout, std::string& Reply) {
  std::lock_guard<TCriticalSection> L(FCommLock);
  Reply.clear();
  if (!CheckConnection()) {
    return;
  }
  std::string Pending;
  ReceiveResponse(DrainMs, Pending);
  SendCmd(Cmd);
  ReceiveResponse(Timeout, Reply);
}

void TIPGYLRDriver::ReceiveResponse(int Timeout, std::string& Reply) {
  std::lock_guard<TCriticalSection> L(FCommLock);
  Reply.clear();
  FLink->Receive(Timeout, [this, &Reply](const std::uint8_t* Bytes, int Count) {
    const auto N = static_cast<std::size_t>(Count);
    Reply += FAsciiWire ? ylr::AsciiDecode(Bytes, N)
                        : std::string(reinterpret_cast<const char*>(Bytes), N);
  });
  if (!Reply.empty()) {
    AnalyzeResponse(Reply);
    if (!FConnected) {
      FConnected = true;
      ShowMsg(SLaserConnectedOk.Get(), clTeal);
    }
  }
}

void TIPGYLRDriver::AnalyzeResponse(const std::string& Text) {
  std::lock_guard<TCriticalSection> L(FCommLock);
  if (FDebugMode) {
    ShowMsg("Response Buf0 = " + ylr::ShowCR(FResponseBuf), clBlack);
    ShowMsg("Response      = " + ylr::ShowCR(Text), clBlack);
  }
  const ylr::TSplitResult R = ylr::SplitResponse(FResponseBuf, Text);
  for (const std::string& Line : R.Lines) {
    switch (ylr::ClassifyLine(Line)) {
    case ylr::TLineKind::Error:
      ShowMsg("Laser: " + Line, clRed);
      break;
    case ylr::TLineKind::Status:
      UpdateStatusMsg(Line);
      break;
    case ylr::TLineKind::DiodeCurrent: {
      double V = FDiodeCurrent;
      if (TryStrToFloat1033(ylr::ExtractParam(Line), V)) {
        FDiodeCurrent = V;
      }
      break;
    }
    case ylr::TLineKind::Other:
      break;
    }
  }
  if (R.Overflow) {
    ShowMsg(SIPGCommCommunicationException.Get(), clBlack);
  }
  if (FDebugMode) {
    ShowMsg("Response Buf2 = " + ylr::ShowCR(FResponseBuf), clBlack);
  }
  FLastRecvTime = NowMs();
}

std::string TIPGYLRDriver::ExtractParam(const std::string& Text) {
  return ylr::ExtractParam(Text);
}

// ---- Link, status, alarms -----------------------------------------------------------

bool TIPGYLRDriver::CheckConnection() {
  std::lock_guard<TCriticalSection> L(FCommLock);
  return FLink->Check();
}

void TIPGYLRDriver::IcmpTimeout(TIcmpClient* /*Sender*/) {
  // A ping that ends while the link is being freed finds FLink already null.
  if (!FLink) {
    return;
  }
  FLink->DropConnection([this] {
    ShowMsgType("TCP Connection Closed.", mtProminent);
    FConnected = false;
  });
}

void TIPGYLRDriver::UpdateStatusMsg(const std::string& Line) {
  const std::string P = ylr::ExtractParam(Line);
  if (FDebugMode && AppSys != nullptr) {
    AppSys->ShowMsg(Format1033("IPG>>\"%s\", param=\"%s\"", Line, P), clBlack);
  }
  const std::optional<std::uint32_t> Status = ylr::ParseStatus(P);
  if (!Status) {
    return;
  }
  FDevStatus = *Status;
  if (FDebugMode && AppSys != nullptr) {
    AppSys->ShowMsg(Format1033("IPG QCWMode=%d, AlarmBits=%8x, Status=%8x, HasAlarm=%d",
                               FQCWMode.load(), FAlarmBits.load(), *Status, HasAlarm()),
                    clBlack);
  }
}

bool TIPGYLRDriver::GetStatusBit(std::int32_t Bit) const {
  return ylr::GetStatusBit(FDevStatus, Bit);
}

bool TIPGYLRDriver::HasAlarm() const {
  return ylr::HasAlarm(FDevStatus, FAlarmBits);
}

std::string TIPGYLRDriver::GetAlarmDesc() const {
  return ylr::AlarmDescription(GetDeviceStatus());
}

void TIPGYLRDriver::SetQCWMode(bool Value) {
  FQCWMode = Value;
  FAlarmBits = ylr::AlarmMask(Value);
}

// ---- Queries and set-points ---------------------------------------------------------

std::string TIPGYLRDriver::Query(const char* Cmd) {
  std::string Reply;
  SendAndReply(Cmd, QueryTimeoutMs, Reply);
  return ylr::ExtractParam(Reply);
}

double TIPGYLRDriver::QueryFloat(const char* Cmd, double Default) {
  double V = 0.0;
  return TryStrToFloat1033(Query(Cmd), V) ? V : Default;
}

void TIPGYLRDriver::ResetErrors() {
  Query("RERR");
}
double TIPGYLRDriver::GetElapsedTime() {
  return QueryFloat("RET", 0.0);
}
double TIPGYLRDriver::GetFilterWndSz() {
  return QueryFloat("RFWS", 0.0);
}
double TIPGYLRDriver::GetLaserTemperature() {
  return QueryFloat("RCT", 0.0);
}
double TIPGYLRDriver::GetMinimumCurrent() {
  return QueryFloat("RNC", 10.0);
}

std::int32_t TIPGYLRDriver::GetModuleErrorCode() {
  return ylr::ParseInt32(Query("RMEC")).value_or(0);
}

std::string TIPGYLRDriver::GetOutputPower() {
  return Query("ROP");
}
std::string TIPGYLRDriver::GetSerialNumber() {
  return Query("RSN");
}
std::string TIPGYLRDriver::GetSoftwareRevision() {
  return Query("RFV");
}

void TIPGYLRDriver::SetDiodeCurrent(double Value, const std::function<bool()>& Cancelled) {
  const std::optional<std::string> Cmd = ylr::CmdSetDiodeCurrent(Value);
  if (!Cmd) {
    return;
  }
  const auto Stop = [&] { return Cancelled && Cancelled(); };
  const double Start = NowMs();
  if (FIgnoreDiodeReply) {
    for (int I = 0; I < 5 && !Stop(); ++I) {
      FIsImdState = true;
      try {
        SendNoReply(*Cmd);
      } catch (...) {
        FIsImdState = false;
        throw;
      }
      FIsImdState = false;
      Sleep(5);
    }
    return;
  }
  std::string Reply;
  do {
    SendAndReply(*Cmd, 100, Reply);
    Sleep(5);
  } while (std::fabs(FDiodeCurrent - Value) >= 0.05 && ElapsedMs(Start) <= QueryTimeoutMs &&
           !Stop());
}

void TIPGYLRDriver::SetFilterWndSz(double Value) {
  if (const auto Cmd = ylr::CmdSetFilterWndSz(Value)) {
    SendNoReply(*Cmd);
  }
}

void TIPGYLRDriver::SetPulseRate(std::int32_t Value) {
  if (const auto Cmd = ylr::CmdSetPulseRate(Value)) {
    std::string Reply;
    SendAndReply(*Cmd, 100, Reply);
  }
}

void TIPGYLRDriver::SetPulseWidth(double Value) {
  if (const auto Cmd = ylr::CmdSetPulseWidth(Value)) {
    std::string Reply;
    SendAndReply(*Cmd, 100, Reply);
  }
}

// ---- Monitor thread -----------------------------------------------------------------

TIPGYLRDriver::TIPGMonThread::TIPGMonThread(TIPGYLRDriver* Owner)
    : TLinkMonitor("IPGDriver", Owner->FCfgIPG.YLR.ConnCheck, 50), FOwner(Owner) {}

void TIPGYLRDriver::TIPGMonThread::Poll() {
  // The answer is analysed by the drain of the next send, so the status lags one round.
  if (!FOwner->GetIsImdState()) {
    FOwner->SendNoReply("STA");
  }
}

bool TIPGYLRDriver::TIPGMonThread::CheckLink() {
  return FOwner->CheckConnection();
}

} // namespace nclaser
