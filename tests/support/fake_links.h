// In-memory communication components for driver tests: a serial port and a TCP client
// whose far end is a test-controlled byte queue (optionally answered by a laser model),
// and a ping client that answers on cue. Shared state lives in TFakeLink so a test keeps
// its handle after the driver took the component.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/clock.h"
#include "host/comm.h"

namespace nclaser::testing {

struct TFakeLink {
  mutable std::mutex M;
  std::condition_variable CV;
  // The far end: turns what the driver wrote into what it will read (null: no answer).
  std::function<std::string(const std::string&)> Responder;
  std::vector<std::string> Writes; // every write call, in order
  std::string Incoming;            // waiting for the driver to read
  bool CanOpen = true;             // serial: the port opens; TCP: the laser accepts
  bool Active = false;             // serial port open / TCP connected
  bool PingAnswers = true;
  int Reads = 0;
  int Waits = 0;
  int Connects = 0;
  int SyncPings = 0;
  int AsyncPings = 0;
  std::string Settings;
  int Port = 0;
  std::string RemoteHost;
  std::string RemotePort;
  std::string PingHost;
  int PingTimeout = 0;
  TIcmpClient* Icmp = nullptr;

  void Inject(const std::string& Text) {
    std::lock_guard<std::mutex> L(M);
    Incoming += Text;
    CV.notify_all();
  }
  std::vector<std::string> WritesCopy() const {
    std::lock_guard<std::mutex> L(M);
    return Writes;
  }
  std::string AllWritten() const {
    std::lock_guard<std::mutex> L(M);
    std::string S;
    for (const std::string& W : Writes) {
      S += W;
    }
    return S;
  }
  void ClearWrites() {
    std::lock_guard<std::mutex> L(M);
    Writes.clear();
  }
  template <class F> auto With(F Fn) {
    std::lock_guard<std::mutex> L(M);
    return Fn(*this);
  }
  // Records a write and lets the far end answer it.
  void Written(const std::string& Text) {
    std::lock_guard<std::mutex> L(M);
    Writes.push_back(Text);
    if (Responder) {
      Incoming += Responder(Text);
    }
    CV.notify_all();
  }
  bool WaitIncoming(std::unique_lock<std::mutex>& L, int TimeoutMs) {
    return CV.wait_for(L, std::chrono::milliseconds(TimeoutMs > 0 ? TimeoutMs : 0), [this] {
      return !Incoming.empty() || !Active;
    }) && !Incoming.empty();
  }
};

class TFakeSerial : public TCommCtrl {
public:
  explicit TFakeSerial(std::shared_ptr<TFakeLink> Link) : FL(std::move(Link)) {}
  void SetSettings(const std::string& S) override {
    FL->With([&](TFakeLink& L) { L.Settings = S; });
  }
  void SetCommPort(int P) override {
    FL->With([&](TFakeLink& L) { L.Port = P; });
  }
  void SetActive(bool V) override {
    FL->With([&](TFakeLink& L) { L.Active = V && L.CanOpen; });
  }
  bool GetActive() const override {
    return FL->With([](TFakeLink& L) { return L.Active; });
  }
  void Open() override { SetActive(true); }
  void Close() override { SetActive(false); }
  int Write(const void* B, int N) override {
    WriteString(std::string(static_cast<const char*>(B), static_cast<std::size_t>(N)));
    return N;
  }
  int WriteString(const std::string& T) override {
    if (!GetActive()) {
      return -1;
    }
    FL->Written(T);
    return static_cast<int>(T.size());
  }
  int Read(void* B, int N) override {
    const std::string S = ReadAsString();
    const auto K = std::min<std::size_t>(S.size(), static_cast<std::size_t>(N));
    std::copy_n(S.data(), K, static_cast<char*>(B));
    return static_cast<int>(K);
  }
  std::string ReadAsString() override {
    std::lock_guard<std::mutex> L(FL->M);
    ++FL->Reads;
    std::string S;
    S.swap(FL->Incoming);
    return S;
  }
  bool WaitForInput(int TimeoutMs) override {
    std::unique_lock<std::mutex> L(FL->M);
    ++FL->Waits;
    return FL->WaitIncoming(L, TimeoutMs);
  }

private:
  std::shared_ptr<TFakeLink> FL;
};

class TFakeTcp : public TKdTcpClient {
public:
  explicit TFakeTcp(std::shared_ptr<TFakeLink> Link) : FL(std::move(Link)) {}
  void SetRemoteHost(const std::string& H) override {
    FL->With([&](TFakeLink& L) { L.RemoteHost = H; });
  }
  void SetRemotePort(const std::string& P) override {
    FL->With([&](TFakeLink& L) { L.RemotePort = P; });
  }
  bool GetConnected() override {
    return FL->With([](TFakeLink& L) { return L.Active; });
  }
  bool ConnectTimeout(int /*TimeoutMs*/) override {
    return FL->With([](TFakeLink& L) {
      ++L.Connects;
      L.Active = L.CanOpen;
      return L.Active;
    });
  }
  int SendBuf(const void* B, int N, int /*Flags*/) override {
    if (!GetConnected()) {
      return -1;
    }
    FL->Written(std::string(static_cast<const char*>(B), static_cast<std::size_t>(N)));
    return N;
  }
  bool Select(bool* ReadReady, bool* /*W*/, bool* /*E*/, int TimeoutMs) override {
    std::unique_lock<std::mutex> L(FL->M);
    ++FL->Waits;
    const bool R = FL->WaitIncoming(L, TimeoutMs);
    if (ReadReady != nullptr) {
      *ReadReady = R;
    }
    return R;
  }
  int ReceiveBuf(void* B, int N, int /*Flags*/) override {
    std::lock_guard<std::mutex> L(FL->M);
    ++FL->Reads;
    const auto K = std::min<std::size_t>(FL->Incoming.size(), static_cast<std::size_t>(N));
    std::copy_n(FL->Incoming.data(), K, static_cast<char*>(B));
    FL->Incoming.erase(0, K);
    return static_cast<int>(K);
  }
  void Disconnect() override {
    FL->With([](TFakeLink& L) {
      L.Active = false;
      L.CV.notify_all();
    });
  }

private:
  std::shared_ptr<TFakeLink> FL;
};

class TFakeIcmp : public TIcmpClient {
public:
  explicit TFakeIcmp(std::shared_ptr<TFakeLink> Link) : FL(std::move(Link)) {
    FL->With([this](TFakeLink& L) { L.Icmp = this; });
  }
  ~TFakeIcmp() override {
    FL->With([](TFakeLink& L) { L.Icmp = nullptr; });
  }
  void SetHost(const std::string& H) override {
    FL->With([&](TFakeLink& L) { L.PingHost = H; });
  }
  void SetTimeout(int T) override {
    FL->With([&](TFakeLink& L) { L.PingTimeout = T; });
  }
  bool Ping(const std::string& /*Host*/, int /*TimeoutMs*/) override {
    return FL->With([](TFakeLink& L) {
      ++L.SyncPings;
      return L.PingAnswers;
    });
  }
  // Never notifies by itself: a test fires OnTimeout when it wants the ping to fail.
  void PingAsync(const std::string& /*Host*/, int /*TimeoutMs*/) override {
    FL->With([](TFakeLink& L) { ++L.AsyncPings; });
  }

private:
  std::shared_ptr<TFakeLink> FL;
};

class TFakeLinkFactory : public TCommFactory {
public:
  std::shared_ptr<TFakeLink> Link = std::make_shared<TFakeLink>();
  std::unique_ptr<TCommCtrl> NewCommCtrl() override { return std::make_unique<TFakeSerial>(Link); }
  std::unique_ptr<TKdTcpClient> NewTcpClient() override { return std::make_unique<TFakeTcp>(Link); }
  std::unique_ptr<TIcmpClient> NewIcmpClient() override {
    return std::make_unique<TFakeIcmp>(Link);
  }
};

} // namespace nclaser::testing
