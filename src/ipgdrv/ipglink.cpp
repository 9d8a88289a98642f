#include "ipgdrv/ipglink.h"

#include <charconv>
#include <cmath>

#include "host/clock.h"

namespace nclaser {

namespace {

constexpr int PingWatchdogMs = 5000;
constexpr int AsyncPingTimeoutMs = 1000;
constexpr int SyncPingTimeoutMs = 100;
constexpr int ConnectTimeoutMs = 1000;
constexpr int ReadChunk = 1024;

} // namespace

TIPGNetLink::TIPGNetLink(const std::string& Host, const std::string& Port, int PingTimeoutMs,
                         const std::function<void()>& OnPingFailed)
    : FHost(Host) {
  FTcpClient = NewTcpClient();
  if (FTcpClient) {
    FTcpClient->SetRemoteHost(Host);
    FTcpClient->SetRemotePort(Port);
  }
  FIcmpClient = NewIcmpClient();
  if (FIcmpClient) {
    FIcmpClient->SetHost(Host);
    FIcmpClient->SetTimeout(PingTimeoutMs);
    int PortNumber = 0;
    std::from_chars(Port.data(), Port.data() + Port.size(), PortNumber);
    FIcmpClient->SetProbePort(PortNumber);
    FIcmpClient->OnTimeout = [OnPingFailed](TIcmpClient*) { OnPingFailed(); };
    FIcmpClient->OnError = [OnPingFailed](TIcmpClient*) { OnPingFailed(); };
  }
}

TIPGNetLink::~TIPGNetLink() {
  {
    std::lock_guard<std::mutex> L(FIcmpLock);
    FTcpClient.reset();
  }
  FIcmpClient.reset();
}

bool TIPGNetLink::Check() {
  if (!FTcpClient || !FIcmpClient) {
    return false;
  }
  if (FClosing) {
    return FTcpClient->GetConnected();
  }
  if (FTcpClient->GetConnected()) {
    if (ElapsedMs(FLastPingTime) > PingWatchdogMs) {
      FLastPingTime = NowMs();
      FIcmpClient->PingAsync(FHost, AsyncPingTimeoutMs);
    }
  } else if (FIcmpClient->Ping("", SyncPingTimeoutMs)) {
    FTcpClient->ConnectTimeout(ConnectTimeoutMs);
  }
  return FTcpClient->GetConnected();
}

void TIPGNetLink::Shutdown() {
  FClosing = true;
  std::lock_guard<std::mutex> L(FIcmpLock);
  if (FTcpClient && !FTcpClient->GetConnected()) {
    FTcpClient->Disconnect(); // ends a connect in progress
  }
}

bool TIPGNetLink::Connected() {
  return FTcpClient && FTcpClient->GetConnected();
}

int TIPGNetLink::Send(const std::uint8_t* Bytes, int Count) {
  return FTcpClient ? FTcpClient->SendBuf(Bytes, Count, 0) : -1;
}

void TIPGNetLink::Receive(int TimeoutMs, const TSink& Sink) {
  if (!FTcpClient) {
    return;
  }
  const double Start = NowMs();
  std::uint8_t Buf[ReadChunk];
  bool ReadReady = false;
  while (FTcpClient->Select(&ReadReady, nullptr, nullptr, TimeoutMs) &&
         ElapsedMs(Start) < TimeoutMs) {
    const int N = FTcpClient->ReceiveBuf(Buf, ReadChunk, 0);
    if (N > 0) {
      Sink(Buf, N);
      Sleep(1);
    } else if (!FTcpClient->GetConnected()) {
      // The peer closed: readiness would be reported at once, every time, until the end.
      break;
    }
  }
}

void TIPGNetLink::Disconnect() {
  if (FTcpClient) {
    FTcpClient->Disconnect();
  }
}

bool TIPGNetLink::DropConnection(const std::function<void()>& Before) {
  std::lock_guard<std::mutex> L(FIcmpLock);
  if (!FTcpClient || !FTcpClient->GetConnected()) {
    return false;
  }
  Before();
  FTcpClient->Disconnect();
  return true;
}

TSerialLink::TSerialLink(const std::string& Settings, int Port) : FComm(NewCommCtrl()) {
  if (FComm) {
    FComm->SetSettings(Settings);
    FComm->SetCommPort(Port);
  }
}

bool TSerialLink::Check() {
  if (!FComm) {
    return false;
  }
  FComm->SetActive(true);
  return FComm->GetActive();
}

int TSerialLink::Send(const std::uint8_t* Bytes, int Count) {
  if (!FComm) {
    return -1;
  }
  return FComm->WriteString(
      std::string(reinterpret_cast<const char*>(Bytes), static_cast<std::size_t>(Count)));
}

void TSerialLink::Receive(int TimeoutMs, const TSink& Sink) {
  if (!FComm || !FComm->GetActive()) {
    return;
  }
  const double Start = NowMs();
  for (;;) {
    const std::string Chunk = FComm->ReadAsString();
    if (!Chunk.empty()) {
      Sink(reinterpret_cast<const std::uint8_t*>(Chunk.data()), static_cast<int>(Chunk.size()));
      Sleep(1);
    }
    const double Remaining = TimeoutMs - ElapsedMs(Start);
    if (Remaining < 0.0) {
      break;
    }
    if (Chunk.empty()) {
      // Sleep past the deadline rather than wake just before it.
      FComm->WaitForInput(static_cast<int>(std::floor(Remaining)) + 1);
      // A port that vanished answers every wait at once: nothing more can come, so let
      // the lock go now instead of spinning to the deadline.
      if (!FComm->GetActive()) {
        break;
      }
    }
  }
}

} // namespace nclaser
