// A scripted serial port for thread tests: opens on cue, records every write with its
// time, hands out prepared input chunks, and can answer writes through a responder; and a
// HostTest whose communication services hand out such ports on one line.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/clock.h"
#include "host/comm.h"
#include "tests/support/host_fixture.h"

namespace nclaser::testing {

using TBytes = std::vector<std::uint8_t>;

struct TFakeWrite {
  double TimeMs;
  TBytes Bytes;
};

// The line both ends see: the port object (owned by the thread under test) and the test.
class TFakeLine {
public:
  // Called (without the line's lock) for every successful write; may Feed answers.
  std::function<void(const TBytes&)> Responder;

  void SetCanOpen(bool V) {
    std::lock_guard<std::mutex> L(M);
    FCanOpen = V;
  }
  // Results of the next writes (a count, 0 or -1) instead of the full size.
  void FailNextWrites(int Count, int Result) {
    std::lock_guard<std::mutex> L(M);
    FFailWrites = Count;
    FFailResult = Result;
  }
  void ThrowOnNextRead() {
    std::lock_guard<std::mutex> L(M);
    FThrowRead = true;
  }
  void Feed(TBytes Chunk) {
    std::lock_guard<std::mutex> L(M);
    FInput.push_back(std::move(Chunk));
  }
  std::vector<TFakeWrite> Writes() const { return Get(FWrites); }
  bool WaitFor(const std::function<bool()>& Pred, int TimeoutMs) const {
    const double Start = NowMs();
    while (!Pred()) {
      if (ElapsedMs(Start) > TimeoutMs) {
        return false;
      }
      Sleep(2);
    }
    return true;
  }
  // Input chunks fed but not read yet.
  size_t PendingInput() const { return Get(FInput).size(); }
  int OpenAttempts() const { return Get(FOpenAttempts); }
  int PortsAlive() const { return Get(FAlive); }
  std::string Settings() const { return Get(FSettings); }
  int PortNumber() const { return Get(FPort); }

private:
  friend class TFakeCommCtrl;
  template <class T> T Get(const T& Field) const {
    std::lock_guard<std::mutex> L(M);
    return Field;
  }
  mutable std::mutex M;
  bool FCanOpen = true;
  int FFailWrites = 0;
  int FFailResult = 0;
  bool FThrowRead = false;
  int FOpenAttempts = 0;
  int FAlive = 0;
  std::string FSettings;
  int FPort = 0;
  std::deque<TBytes> FInput;
  std::vector<TFakeWrite> FWrites;
};

class TFakeCommCtrl : public TCommCtrl {
public:
  explicit TFakeCommCtrl(std::shared_ptr<TFakeLine> Line) : FLine(std::move(Line)) {
    std::lock_guard<std::mutex> L(FLine->M);
    ++FLine->FAlive;
  }
  ~TFakeCommCtrl() override {
    std::lock_guard<std::mutex> L(FLine->M);
    --FLine->FAlive;
  }
  void SetSettings(const std::string& S) override {
    std::lock_guard<std::mutex> L(FLine->M);
    FLine->FSettings = S;
  }
  void SetCommPort(int Port) override {
    std::lock_guard<std::mutex> L(FLine->M);
    FLine->FPort = Port;
  }
  void SetActive(bool Value) override {
    std::lock_guard<std::mutex> L(FLine->M);
    if (Value && !FActive) {
      ++FLine->FOpenAttempts;
      FActive = FLine->FCanOpen;
    } else if (!Value) {
      FActive = false;
    }
  }
  bool GetActive() const override { return FActive; }
  void Open() override { SetActive(true); }
  void Close() override { SetActive(false); }
  int Write(const void* Buffer, int Count) override {
    TBytes B(static_cast<const std::uint8_t*>(Buffer),
             static_cast<const std::uint8_t*>(Buffer) + Count);
    {
      std::lock_guard<std::mutex> L(FLine->M);
      if (FLine->FFailWrites > 0) {
        --FLine->FFailWrites;
        return FLine->FFailResult;
      }
      FLine->FWrites.push_back({NowMs(), B});
    }
    if (FLine->Responder) {
      FLine->Responder(B);
    }
    return Count;
  }
  int WriteString(const std::string& Text) override {
    return Write(Text.data(), static_cast<int>(Text.size()));
  }
  int Read(void* Buffer, int Count) override {
    std::lock_guard<std::mutex> L(FLine->M);
    if (FLine->FThrowRead) {
      FLine->FThrowRead = false;
      throw std::runtime_error("read failed");
    }
    if (FLine->FInput.empty()) {
      return 0;
    }
    TBytes& Front = FLine->FInput.front();
    const int N = std::min<int>(Count, static_cast<int>(Front.size()));
    std::memcpy(Buffer, Front.data(), static_cast<size_t>(N));
    Front.erase(Front.begin(), Front.begin() + N);
    if (Front.empty()) {
      FLine->FInput.pop_front();
    }
    return N;
  }
  std::string ReadAsString() override {
    char B[1024];
    const int N = Read(B, sizeof(B));
    return std::string(B, static_cast<size_t>(N > 0 ? N : 0));
  }
  bool WaitForInput(int /*TimeoutMs*/) override {
    std::lock_guard<std::mutex> L(FLine->M);
    return !FLine->FInput.empty();
  }

private:
  std::shared_ptr<TFakeLine> FLine;
  bool FActive = false;
};

class TFakeCommFactory : public TCommFactory {
public:
  explicit TFakeCommFactory(std::shared_ptr<TFakeLine> Line) : FLine(std::move(Line)) {}
  std::unique_ptr<TCommCtrl> NewCommCtrl() override {
    return std::make_unique<TFakeCommCtrl>(FLine);
  }
  std::unique_ptr<TKdTcpClient> NewTcpClient() override { return nullptr; }
  std::unique_ptr<TIcmpClient> NewIcmpClient() override { return nullptr; }

private:
  std::shared_ptr<TFakeLine> FLine;
};

class FakeCommTest : public HostTest {
protected:
  void SetUp() override {
    HostTest::SetUp();
    CommFactory = &Factory;
  }
  void TearDown() override {
    CommFactory = nullptr;
    HostTest::TearDown();
  }

  std::shared_ptr<TFakeLine> Line = std::make_shared<TFakeLine>();
  TFakeCommFactory Factory{Line};
};

} // namespace nclaser::testing
