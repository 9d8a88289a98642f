#include "ipgdrv/ylsdriver.h"

#include <string>

#include "host/appsys.h"
#include "host/clock.h"
#include "host/errors.h"
#include "params/textbuf.h"
#include "protocols/hexdump.h"
#include "runtime/format1033.h"
#include "strings/messages.h"

namespace nclaser {

namespace {

// The laser always listens on this port; the configured TcpPort is not used.
constexpr const char* YLSRemotePort = "5100";
constexpr int PingTimeoutMs = 500;
// Every exchange drains and awaits its answer with this time-out, whatever the caller asks.
constexpr int ExchangeMs = 20;
constexpr int QueryTimeoutMs = 1000;
// What a failed link check costs when the laser does not answer its ping.
constexpr int FailedCheckMs = 100;

std::string Hex(std::span<const std::uint8_t> Bytes) {
  return BytesToStr(Bytes.data(), static_cast<int>(Bytes.size()));
}

} // namespace

// ---- Lifetime -----------------------------------------------------------------------

TIPGYLSDriver::TIPGYLSDriver(TComponent* /*Owner*/, const TIPGLaserParams& CfgIPG)
    : FCfgIPG(CfgIPG) {
  for (auto& W : FDevStatus) {
    W = 0;
  }
  FDiodeCurrent = 0.0;
  FTcpHost = TextBufToUtf8(FCfgIPG.YLS.Net.TcpHost);
  FLink = std::make_unique<TIPGNetLink>(To8Bit(FTcpHost), YLSRemotePort, PingTimeoutMs,
                                        [this] { IcmpTimeout(nullptr); });
  FConnected = CheckConnection();
  FDebugMode = FCfgIPG.YLS.DebugMode;
  // The texts are in place before the monitor can report anything.
  InitLaserAlmWarnStrTable();
  FThread.reset(new TIPGMonThread(this));
  if (FLink->HasTcp()) {
    FThread->SetThreadDelay(100);
  }
  FThread->Start();
}

TIPGYLSDriver::~TIPGYLSDriver() {
  try {
    FThread.reset();
    FLink.reset();
  } catch (...) {
    // Tear-down goes on regardless.
  }
}

void TIPGYLSDriver::LockComm() {
  FCommLock.lock();
}
void TIPGYLSDriver::UnlockComm() {
  FCommLock.unlock();
}

void TIPGYLSDriver::Debug(const std::string& Text, TColor Color) const {
  if (FDebugMode) {
    ShowMsg(Text, Color);
  }
}

// ---- Traffic ------------------------------------------------------------------------

void TIPGYLSDriver::SendCmd(std::uint16_t Code, const yls::TBytes& Data) {
  std::lock_guard<TCriticalSection> L(FCommLock);
  if (!FConnected) {
    return;
  }
  const yls::TBytes Frame = yls::BuildRequest(FCrc, Code, Data);
  FCmdCode = Code;
  if (FLink->Send(Frame.data(), static_cast<int>(Frame.size())) == -1) {
    FConnected = false;
    FLink->Disconnect();
    FAssembler.Reset();
    Debug("TcpClient.SendBuf SOCKET_ERROR", clRed);
  }
  Debug("PC->Laser:" + std::to_string(Code) + "CmdStr: " + Hex(Frame), clBlack);
}

void TIPGYLSDriver::ReceiveResponse(int Timeout) {
  std::lock_guard<TCriticalSection> L(FCommLock);
  if (!FLink->Connected()) {
    return;
  }
  std::vector<yls::TBytes> Frames;
  FLink->Receive(Timeout, [this, &Frames](const std::uint8_t* Bytes, int Count) {
    for (yls::TBytes& F : FAssembler.Feed({Bytes, static_cast<std::size_t>(Count)})) {
      Frames.push_back(std::move(F));
    }
  });
  for (const yls::TBytes& F : Frames) {
    AnalyzeResponse(F);
    Debug("Laser-> PC: ", clBlack);
    Debug("CmdRes" + Hex(F), clBlack);
  }
}

void TIPGYLSDriver::AnalyzeResponse(const yls::TBytes& Frame) {
  std::lock_guard<TCriticalSection> L(FCommLock);
  yls::TAnswerHeader H;
  switch (yls::CheckAnswer(FCrc, Frame, H)) {
  case yls::TCheck::Empty:
    return;
  case yls::TCheck::CrcError:
  case yls::TCheck::SizeError:
    Debug("AnalyzeResponse CRC Error", clRed);
    return;
  case yls::TCheck::Ok:
    break;
  }
  FCmdCode = H.Answer;
  if ((H.Executioncode & 0xFF) == 0) {
    if (H.Datasize == 0 && H.Answer >= yls::cmdSetAccessLev) {
      return; // an acknowledged control command
    }
    const std::span<const std::uint8_t> Data(Frame.data() + yls::HeaderSize, H.Datasize);
    FCmdStatus = ExtractData(H, Data);
    if (!FCmdStatus) {
      Debug(SYLSAnalyzeResponseErr.Get(), clBlack);
    }
    return;
  }
  if (H.Executioncode == yls::ExecNeedAccessLevel) {
    SetAccessLev();
  }
  Debug(SYLSCmdErr.Get() + ",ErrorCode:" + std::to_string(H.Executioncode), clRed);
}

bool TIPGYLSDriver::ExtractData(const yls::TAnswerHeader& Answer,
                                std::span<const std::uint8_t> Data) {
  try {
    std::lock_guard<std::mutex> R(FRecLock);
    switch (Answer.Answer) {
    case yls::cmdGetLaserID:
      return yls::DecodeLaserID(Data, FLaserID);
    case yls::cmdGetLaserStatus: {
      const bool Ok = yls::DecodeLaserData(Data, FLaserData);
      Debug((Ok ? "Datasize OK!\xEF\xBC\x9A " : "Datasize Error!\xEF\xBC\x9A ") +
                std::to_string(Answer.Datasize),
            Ok ? clGreen : clRed);
      for (std::size_t I = 0; I < FDevStatus.size(); ++I) {
        FDevStatus[I] = yls::StatusWords(FLaserData)[I];
      }
      return Ok;
    }
    case yls::cmdGetTimeData:
      return yls::DecodeTimeData(Data, FTimeData);
    case yls::cmdGetDewPointData:
      return yls::DecodeDewPointData(Data, FDewPointData);
    default:
      return false;
    }
  } catch (...) {
    ShowMsg("ExtractData Error, CodeNum: " + std::to_string(Answer.Answer), clRed);
    return false;
  }
}

void TIPGYLSDriver::GetResponseAndSendCmd(std::uint16_t Code, const yls::TBytes& Data,
                                          bool NeedReply, int Timeout) {
  std::lock_guard<TCriticalSection> L(FCommLock);
  ReceiveResponse(Timeout);
  SendCmd(Code, Data);
  if (NeedReply || FDebugMode) {
    ReceiveResponse(Timeout);
  }
}

void TIPGYLSDriver::SendAndReply(std::uint16_t Code, const yls::TBytes& Data, int /*Timeout*/) {
  if (!FConnected) {
    return;
  }
  try {
    GetResponseAndSendCmd(Code, Data, true, ExchangeMs);
  } catch (...) {
    ShowMsg("IPGLaser SendAndReply Error", clBlack);
  }
}

void TIPGYLSDriver::SendNoReply(std::uint16_t Code, const yls::TBytes& Data) {
  if (!FConnected) {
    return;
  }
  try {
    if (Code == yls::cmdSetAccessLev) {
      SendAccessLev();
    } else {
      GetResponseAndSendCmd(Code, Data, false, ExchangeMs);
    }
  } catch (...) {
    ShowMsg("IPGLaser SendNoReply Error", clBlack);
  }
}

void TIPGYLSDriver::SendAccessLev() {
  std::lock_guard<TCriticalSection> L(FCommLock);
  // A laser that refuses the access level itself with 0xFFFA would otherwise be asked
  // again from inside this very exchange, without end.
  if (FInAccessLev) {
    return;
  }
  FInAccessLev = true;
  try {
    GetResponseAndSendCmd(yls::cmdSetAccessLev, yls::AccessLevelData(), false, ExchangeMs);
  } catch (...) {
    FInAccessLev = false;
    throw;
  }
  FInAccessLev = false;
}

void TIPGYLSDriver::CtrlCmd(std::uint16_t Code, const yls::TBytes& Data) {
  std::lock_guard<TCriticalSection> L(FCommLock);
  SendNoReply(Code, Data);
}

void TIPGYLSDriver::SetPumpCurrent(double Value) {
  if (const auto V = yls::PumpCurrentValue(Value)) {
    CtrlCmd(yls::cmdSetPumpCurrent, yls::Word16(*V));
  }
}

// ---- Queries and accessors ----------------------------------------------------------

bool TIPGYLSDriver::GetLaserIDCmd() {
  std::lock_guard<TCriticalSection> L(FCommLock);
  SendAndReply(yls::cmdGetLaserID, {}, QueryTimeoutMs);
  return FCmdStatus;
}

void TIPGYLSDriver::GetLaserStatus() {
  {
    std::lock_guard<TCriticalSection> L(FCommLock);
    SendNoReply(yls::cmdGetLaserStatus, {});
  }
  UpdateStatus();
}

void TIPGYLSDriver::GetTimeDataCmd() {
  std::lock_guard<TCriticalSection> L(FCommLock);
  SendAndReply(yls::cmdGetTimeData, {}, QueryTimeoutMs);
}

void TIPGYLSDriver::GetYLSDewPointData() {
  SendNoReply(yls::cmdGetDewPointData, {});
}

std::string TIPGYLSDriver::GetSerialNumber() {
  if (!GetLaserIDCmd()) {
    return {};
  }
  std::lock_guard<std::mutex> R(FRecLock);
  return yls::SerialNumberText(FLaserID);
}

double TIPGYLSDriver::GetDiodeCurrent() {
  std::lock_guard<std::mutex> R(FRecLock);
  FDiodeCurrent = FLaserData.SetILD / 100.0;
  return FDiodeCurrent;
}

std::uint16_t TIPGYLSDriver::GetSetPower() {
  std::lock_guard<std::mutex> R(FRecLock);
  return static_cast<std::uint16_t>(FLaserData.SetPower & 0xFFFF);
}

std::uint16_t TIPGYLSDriver::GetOutPower() {
  std::lock_guard<std::mutex> R(FRecLock);
  return static_cast<std::uint16_t>(FLaserData.OutputPower & 0xFFFF);
}

std::uint16_t TIPGYLSDriver::GetTemperatureMax() {
  std::lock_guard<std::mutex> R(FRecLock);
  return FLaserData.TemperatureMax;
}

double TIPGYLSDriver::GetTemperatureMean() {
  std::lock_guard<std::mutex> R(FRecLock);
  return FLaserData.TemperatureMean / 10.0;
}

std::uint32_t TIPGYLSDriver::GetWorkTimeToday() {
  std::lock_guard<std::mutex> R(FRecLock);
  return FTimeData.WorkTimeToday;
}

std::uint32_t TIPGYLSDriver::GetEmissionTimeToday() {
  std::lock_guard<std::mutex> R(FRecLock);
  return FTimeData.EmissionTimeTaday;
}

yls::TLaserData TIPGYLSDriver::GetLaserData() {
  std::lock_guard<std::mutex> R(FRecLock);
  return FLaserData;
}

yls::TTimeData TIPGYLSDriver::GetTimeData() {
  std::lock_guard<std::mutex> R(FRecLock);
  return FTimeData;
}

yls::TDewPointData TIPGYLSDriver::GetDewPointData() {
  std::lock_guard<std::mutex> R(FRecLock);
  return FDewPointData;
}

std::size_t TIPGYLSDriver::GetSkippedBytes() {
  std::lock_guard<TCriticalSection> L(FCommLock);
  return FAssembler.Skipped();
}

// ---- Status, alarms, link -----------------------------------------------------------

void TIPGYLSDriver::UpdateStatus() {
  std::lock_guard<std::mutex> R(FRecLock);
  const TLaserStatusYLSArr W = yls::StatusWords(FLaserData);
  for (std::size_t I = 0; I < W.size(); ++I) {
    FDevStatus[I] = W[I];
  }
}

TIPGYLSDriver::TLaserStatusYLSArr TIPGYLSDriver::GetDeviceStatus() const {
  TLaserStatusYLSArr W{};
  for (std::size_t I = 0; I < W.size(); ++I) {
    W[I] = FDevStatus[I];
  }
  return W;
}

bool TIPGYLSDriver::GetDevStatusBit(std::uint32_t Word, std::uint16_t Bit) {
  return Bit < 32 && ((Word >> Bit) & 1U) != 0;
}

bool TIPGYLSDriver::GetStatusBit(int Index) const {
  return yls::GetStatusBit(GetDeviceStatus(), Index);
}

bool TIPGYLSDriver::HasAlarm() const {
  return yls::HasAlarm(GetDeviceStatus());
}

std::string TIPGYLSDriver::GetAlmWarnDes(int Word, int Bit) const {
  if (Bit < 0 || Bit > 31) {
    throw ELaserError("GetAlmWarnDes Idx Error Message");
  }
  const int Idx = (Word * 32) + Bit;
  if (Idx > 159 || Idx < 0) {
    throw ELaserError("FAlarmWarnStrTable Length Error Message");
  }
  return FAlarmWarnStrTable[static_cast<std::size_t>(Idx)] + Format1033("(%d_%d)", Word, Bit);
}

std::string TIPGYLSDriver::GetAlarmDesc() const {
  const TLaserStatusYLSArr W = GetDeviceStatus();
  std::string Desc;
  for (const int Word : {yls::lsAlarms1, yls::lsAlarms2, yls::lsWarnings1}) {
    for (int Bit = 0; Bit < 32; ++Bit) {
      if (GetDevStatusBit(W[static_cast<std::size_t>(Word)], static_cast<std::uint16_t>(Bit))) {
        Desc += GetAlmWarnDes(Word, Bit);
      }
    }
  }
  return Desc.empty() ? Desc : "Laser: " + Desc;
}

void TIPGYLSDriver::InitLaserAlmWarnStrTable() {
  const auto& Texts = yls::AlarmWarnTexts();
  for (std::size_t I = 0; I < FAlarmWarnStrTable.size(); ++I) {
    FAlarmWarnStrTable[I] = Texts[I];
  }
}

bool TIPGYLSDriver::CheckConnection() {
  // Only the constructor and then the monitor thread check the link. The ping and the
  // connect take up to 1.1 s, so they run outside the lock: a host command never waits for
  // them (while the link is down it skips its send at once).
  const bool Was = FLink->Connected();
  const bool Now = FLink->Check();
  if (!Now || !Was) {
    // Bytes of an old connection never join the frames of a new one.
    std::lock_guard<TCriticalSection> L(FCommLock);
    FAssembler.Reset();
  }
  FConnected = Now;
  return Now;
}

void TIPGYLSDriver::IcmpTimeout(TIcmpClient* /*Sender*/) {
  FLink->DropConnection([] { ShowMsg("TCP Connection Closed.", clBlack); });
}

// ---- Monitor thread -----------------------------------------------------------------

TIPGYLSDriver::TIPGMonThread::TIPGMonThread(TIPGYLSDriver* Owner)
    : TLinkMonitor("IPGYLSDriver", Owner->FCfgIPG.YLS.ConnCheck, 50), FOwner(Owner) {
  (void)FNum;
}

void TIPGYLSDriver::TIPGMonThread::Poll() {
  FOwner->GetLaserStatus();
}

bool TIPGYLSDriver::TIPGMonThread::CheckLink() {
  return FOwner->CheckConnection();
}

// YLS's own round: reconnect first, ask twice, and the first failed check ends the short wait.
bool TIPGYLSDriver::TIPGMonThread::Round() {
  if (!FOwner->FConnected) {
    const double Check = NowMs();
    if (!CheckLink()) {
      // A refused connection fails at once where a silent laser costs the ping's
      // 100 ms; keep that pace rather than spin.
      const double Spent = ElapsedMs(Check);
      return Spent >= FailedCheckMs || SleepA(static_cast<int>(FailedCheckMs - Spent));
    }
  }
  Poll();
  if (Terminated() || !Pause()) {
    return false;
  }
  FOwner->GetTimeDataCmd();
  if (!CheckLink()) {
    const double W = FConntStartCheckTag == 0 ? FStartDays : FIntervalDays;
    FConntStartCheckTag = 1;
    if (ElapsedMs(FLostSince) > 86400.0 * W) {
      FLostSince = NowMs();
      ShowMsgType(SLaserConnectedFail.Get(), mtProminent);
    }
  }
  return true;
}

void TIPGYLSDriver::Shutdown() {
  if (FLink) {
    FLink->Shutdown();
  }
}

} // namespace nclaser
