#include "hostkit/comm_tap.h"

#include <algorithm>
#include <utility>

#include "host/clock.h"

namespace nclaser::hostkit {

namespace {

std::span<const std::uint8_t> BytesOf(const void* Buffer, int Count) {
  return {static_cast<const std::uint8_t*>(Buffer), static_cast<std::size_t>(std::max(Count, 0))};
}

class TTappedSerial : public TCommCtrl {
public:
  TTappedSerial(std::unique_ptr<TCommCtrl> Inner, std::shared_ptr<TLinkTap> Tap)
      : FInner(std::move(Inner)), FTap(std::move(Tap)) {}
  void SetSettings(const std::string& Settings) override { FInner->SetSettings(Settings); }
  void SetCommPort(int Port) override {
    FLink = "com:" + std::to_string(Port);
    FInner->SetCommPort(Port);
  }
  void SetActive(bool Value) override {
    if (Value && !FInner->GetActive()) {
      FTap->Opened(FLink);
    }
    FInner->SetActive(Value);
  }
  bool GetActive() const override { return FInner->GetActive(); }
  void Open() override {
    FTap->Opened(FLink);
    FInner->Open();
  }
  void Close() override { FInner->Close(); }
  int Write(const void* Buffer, int Count) override {
    FTap->Writing(FLink, NowMs(), BytesOf(Buffer, Count));
    return FInner->Write(Buffer, Count);
  }
  int WriteString(const std::string& Text) override {
    FTap->Writing(FLink, NowMs(), BytesOf(Text.data(), static_cast<int>(Text.size())));
    return FInner->WriteString(Text);
  }
  int Read(void* Buffer, int Count) override { return FInner->Read(Buffer, Count); }
  std::string ReadAsString() override { return FInner->ReadAsString(); }
  bool WaitForInput(int TimeoutMs) override { return FInner->WaitForInput(TimeoutMs); }

private:
  std::unique_ptr<TCommCtrl> FInner;
  std::shared_ptr<TLinkTap> FTap;
  std::string FLink = "com:0";
};

class TTappedTcp : public TKdTcpClient {
public:
  TTappedTcp(std::unique_ptr<TKdTcpClient> Inner, std::shared_ptr<TLinkTap> Tap)
      : FInner(std::move(Inner)), FTap(std::move(Tap)) {}
  void SetRemoteHost(const std::string& Host) override {
    FLink = "tcp:" + Host;
    FInner->SetRemoteHost(Host);
  }
  void SetRemotePort(const std::string& Port) override { FInner->SetRemotePort(Port); }
  bool GetConnected() override { return FInner->GetConnected(); }
  bool ConnectTimeout(int TimeoutMs) override {
    FTap->Opened(FLink);
    return FInner->ConnectTimeout(TimeoutMs);
  }
  int SendBuf(const void* Buffer, int Length, int Flags) override {
    FTap->Writing(FLink, NowMs(), BytesOf(Buffer, Length));
    return FInner->SendBuf(Buffer, Length, Flags);
  }
  bool Select(bool* ReadReady, bool* WriteReady, bool* ExceptFlag, int TimeoutMs) override {
    return FInner->Select(ReadReady, WriteReady, ExceptFlag, TimeoutMs);
  }
  int ReceiveBuf(void* Buffer, int Length, int Flags) override {
    return FInner->ReceiveBuf(Buffer, Length, Flags);
  }
  void Disconnect() override { FInner->Disconnect(); }

private:
  std::unique_ptr<TKdTcpClient> FInner;
  std::shared_ptr<TLinkTap> FTap;
  std::string FLink = "tcp:";
};

} // namespace

std::unique_ptr<TCommCtrl> TTapCommFactory::NewCommCtrl() {
  auto Port = FInner->NewCommCtrl();
  return Port ? std::make_unique<TTappedSerial>(std::move(Port), FTap) : nullptr;
}

std::unique_ptr<TKdTcpClient> TTapCommFactory::NewTcpClient() {
  auto Client = FInner->NewTcpClient();
  return Client ? std::make_unique<TTappedTcp>(std::move(Client), FTap) : nullptr;
}

} // namespace nclaser::hostkit
