#include "sim/jk_sim.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>
#include <system_error>

#include "host/clock.h"
#include "protocols/jk.h"

namespace nclaser::sim {

namespace {

// Data bytes (function code included) of each frame the laser understands; 0 for codes
// whose length is not known (then the next flag ends the frame).
int DataLength(std::uint8_t Fc) {
  switch (Fc) {
  case jk::fcOff:
  case jk::fcStandby:
  case jk::fcEmission:
  case jk::fcStatus:
  case jk::fcPrepare:
  case jk::fcAimingQuery:
  case jk::fcAlarm:
    return 1;
  case jk::fcAiming:
    return 2;
  case jk::fcParams:
    return 3;
  case jk::fcSetFlag:
    return 4;
  case jk::fcSetValue:
    return 7;
  default:
    return 0;
  }
}

// Unknown frames longer than this are taken as noise.
constexpr size_t MaxUnknownFrame = 64;

} // namespace

TJKSim::TJKSim() : TJKSim(TJKSimOptions{}) {}

TJKSim::TJKSim(TJKSimOptions Options)
    : FOptions(Options), FState(Options.InitialState), FActiveParamSet(Options.ActiveParamSet) {}

TJKSim::~TJKSim() {
  Stop();
}

void TJKSim::Start() {
  std::lock_guard<std::mutex> L(FLock);
  if (FRunning) {
    return;
  }
  OpenPty();
  FStop = false;
  FRunning = true;
  FThread = std::thread(&TJKSim::Run, this);
}

void TJKSim::Stop() {
  {
    std::lock_guard<std::mutex> L(FLock);
    if (!FRunning) {
      return;
    }
    FStop = true;
  }
  FThread.join();
  std::lock_guard<std::mutex> L(FLock);
  FRunning = false;
  ClosePty();
  if (!FDir.empty()) {
    ::rmdir(FDir.c_str());
    FDir.clear();
    FLink.clear();
  }
}

bool TJKSim::Running() const {
  std::lock_guard<std::mutex> L(FLock);
  return FRunning;
}

std::string TJKSim::DevicePath() const {
  std::lock_guard<std::mutex> L(FLock);
  return FLink;
}

void TJKSim::OpenPty() {
  const int M = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (M < 0) {
    throw std::system_error(errno, std::generic_category(), "posix_openpt");
  }
  char Name[128] = {};
  if (::grantpt(M) != 0 || ::unlockpt(M) != 0 || ::ptsname_r(M, Name, sizeof(Name)) != 0) {
    const int E = errno;
    ::close(M);
    throw std::system_error(E, std::generic_category(), "pty set-up");
  }
  // Held open so the far end never reads EIO while the laser's port is closed.
  const int S = ::open(Name, O_RDWR | O_NOCTTY);
  if (S < 0) {
    const int E = errno;
    ::close(M);
    throw std::system_error(E, std::generic_category(), "open pty slave");
  }
  termios T{};
  if (::tcgetattr(S, &T) == 0) {
    ::cfmakeraw(&T);
    ::tcsetattr(S, TCSANOW, &T);
  }
  // Answers to a port nobody reads are dropped rather than blocking the simulator.
  ::fcntl(M, F_SETFL, ::fcntl(M, F_GETFL) | O_NONBLOCK);
  if (FDir.empty()) {
    char Tmpl[] = "/tmp/nclaser-jk-XXXXXX";
    if (::mkdtemp(Tmpl) == nullptr) {
      const int E = errno;
      ::close(S);
      ::close(M);
      throw std::system_error(E, std::generic_category(), "mkdtemp");
    }
    FDir = Tmpl;
    FLink = FDir + "/ttyJK";
  }
  ::unlink(FLink.c_str());
  if (::symlink(Name, FLink.c_str()) != 0) {
    const int E = errno;
    ::close(S);
    ::close(M);
    throw std::system_error(E, std::generic_category(), "symlink");
  }
  FMaster = M;
  FSlave = S;
  FPending.clear();
}

void TJKSim::ClosePty() {
  if (!FLink.empty()) {
    ::unlink(FLink.c_str());
  }
  if (FSlave >= 0) {
    ::close(FSlave);
    FSlave = -1;
  }
  if (FMaster >= 0) {
    ::close(FMaster);
    FMaster = -1;
  }
}

void TJKSim::Unplug() {
  std::lock_guard<std::mutex> L(FLock);
  ClosePty();
}

void TJKSim::Replug() {
  std::lock_guard<std::mutex> L(FLock);
  if (FMaster < 0 && !FDir.empty()) {
    OpenPty();
  }
}

bool TJKSim::Plugged() const {
  std::lock_guard<std::mutex> L(FLock);
  return FMaster >= 0;
}

void TJKSim::Run() {
  std::uint8_t Buf[512];
  while (!FStop) {
    // The descriptor is used under the lock only, so Unplug cannot close it under a read.
    std::unique_lock<std::mutex> L(FLock);
    TickLocked();
    if (FMaster < 0) {
      L.unlock();
      Sleep(5);
      continue;
    }
    pollfd P{FMaster, POLLIN, 0};
    const int R = ::poll(&P, 1, 0);
    if (R > 0 && (P.revents & POLLIN) != 0) {
      const ssize_t N = ::read(FMaster, Buf, sizeof(Buf));
      if (N > 0) {
        Consume(Buf, static_cast<int>(N));
        continue; // more may be waiting
      }
    }
    L.unlock();
    Sleep(2);
  }
}

void TJKSim::Consume(const std::uint8_t* Data, int Count) {
  FPending.insert(FPending.end(), Data, Data + Count);
  ParseLocked();
  FChanged.notify_all();
}

void TJKSim::ParseLocked() {
  for (;;) {
    size_t Skip = 0;
    while (Skip < FPending.size() && FPending[Skip] != jk::Flag) {
      ++Skip;
    }
    FJunk += static_cast<int>(Skip);
    FPending.erase(FPending.begin(), FPending.begin() + static_cast<std::ptrdiff_t>(Skip));
    if (FPending.size() < 3) {
      return;
    }
    size_t Len = 0;
    if (const int D = DataLength(FPending[2]); D > 0) {
      Len = static_cast<size_t>(D) + jk::FrameOverhead;
      if (FPending.size() < Len) {
        return;
      }
      if (FPending[Len - 1] != jk::Flag) {
        ++FJunk; // not a frame start after all: resynchronise on the next flag
        FPending.erase(FPending.begin());
        continue;
      }
    } else {
      size_t End = 3;
      while (End < FPending.size() && FPending[End] != jk::Flag) {
        ++End;
      }
      if (End >= FPending.size()) {
        if (FPending.size() > MaxUnknownFrame) {
          ++FJunk;
          FPending.erase(FPending.begin());
          continue;
        }
        return;
      }
      Len = End + 1;
      if (Len < 6) {
        ++FJunk;
        FPending.erase(FPending.begin());
        continue;
      }
    }
    TJKSimFrame F{
        NowMs(), {FPending.begin(), FPending.begin() + static_cast<std::ptrdiff_t>(Len)}, false};
    const std::uint16_t Crc = CalcCRC16(F.Bytes.data() + 1, static_cast<int>(Len) - 4);
    F.CrcOk = F.Bytes[Len - 3] == (Crc & 0xFF) && F.Bytes[Len - 2] == (Crc >> 8);
    FPending.erase(FPending.begin(), FPending.begin() + static_cast<std::ptrdiff_t>(Len));
    if (FTrace) {
      FTrace('R', F.Bytes);
    }
    FFrames.push_back(F);
    if (F.CrcOk) {
      HandleLocked(F);
    }
  }
}

void TJKSim::TickLocked() {
  if (FReadyAt >= 0 && NowMs() >= FReadyAt) {
    FReadyAt = -1;
    FState = 2;
  }
}

void TJKSim::HandleLocked(const TJKSimFrame& F) {
  const auto& B = F.Bytes;
  const auto Param = [&B](size_t I) { return I < B.size() ? B[I] : std::uint8_t{0}; };
  TickLocked();
  switch (F.FunctionCode()) {
  case jk::fcOff:
    FState = 0;
    FReadyAt = -1;
    FAiming = false;
    break;
  case jk::fcPrepare:
    if (FState == 0) {
      FState = 1;
    }
    break;
  case jk::fcStandby:
    if (FState <= 1 && FOptions.ReadyDelayMs > 0) {
      if (FReadyAt < 0) {
        FReadyAt = NowMs() + FOptions.ReadyDelayMs;
      }
    } else {
      FState = 2;
    }
    break;
  case jk::fcEmission:
    if (FState >= 2) {
      FState = 3;
    }
    break;
  case jk::fcStatus:
    if (FAlarmPending) {
      FAlarmPending = false;
      AnswerLocked({jk::fcAlarm, 0x00, static_cast<std::uint8_t>(FAlarm >> 8),
                    static_cast<std::uint8_t>(FAlarm & 0xFF)});
    } else {
      AnswerLocked({jk::fcStatus, static_cast<std::uint8_t>(FState)});
    }
    break;
  case jk::fcAiming:
    FAiming = Param(3) == 0xFF;
    break;
  case jk::fcAimingQuery:
    AnswerLocked({jk::fcAimingQuery, 0x00, static_cast<std::uint8_t>(FAiming ? 0xFF : 0x00)});
    break;
  case jk::fcParams: {
    // Byte 6 of the answer frame is the state, byte 21 the active parameter set.
    std::vector<std::uint8_t> D(20, 0x00);
    D[0] = jk::fcParams;
    D[1] = Param(3);
    D[2] = Param(4);
    D[4] = static_cast<std::uint8_t>(FState);
    D[19] = static_cast<std::uint8_t>(FActiveParamSet);
    AnswerLocked(D);
    break;
  }
  case jk::fcSetValue: {
    const std::int32_t V =
        static_cast<std::int32_t>((static_cast<std::uint32_t>(Param(5)) << 24) |
                                  (static_cast<std::uint32_t>(Param(6)) << 16) |
                                  (static_cast<std::uint32_t>(Param(7)) << 8) | Param(8));
    FValues[Param(4)] = V;
    if (Param(4) == 0x05) {
      FSetPoint = V;
    }
    break;
  }
  case jk::fcSetFlag:
    FFlags[Param(4)] = Param(5);
    break;
  case jk::fcAlarm:
    FAlarmPending = false;
    AnswerLocked({jk::fcAlarm, 0x00, static_cast<std::uint8_t>(FAlarm >> 8),
                  static_cast<std::uint8_t>(FAlarm & 0xFF)});
    break;
  default:
    break;
  }
}

void TJKSim::AnswerLocked(const std::vector<std::uint8_t>& Data) {
  std::vector<std::uint8_t> Out = jk::BuildFrame(FOptions.Address, Data);
  switch (FFault) {
  case TJKFault::Silence:
    return;
  case TJKFault::ShortAnswers:
    Out.resize(3);
    break;
  case TJKFault::Garbage: {
    FRandom ^= FRandom << 13;
    FRandom ^= FRandom >> 17;
    FRandom ^= FRandom << 5;
    Out.resize(4 + FRandom % 12);
    for (auto& X : Out) {
      FRandom ^= FRandom << 13;
      FRandom ^= FRandom >> 17;
      FRandom ^= FRandom << 5;
      X = static_cast<std::uint8_t>(FRandom);
    }
    break;
  }
  case TJKFault::None:
    break;
  }
  WriteLocked(Out);
}

void TJKSim::WriteLocked(const std::vector<std::uint8_t>& Bytes) {
  if (FMaster < 0) {
    return;
  }
  size_t Done = 0;
  while (Done < Bytes.size()) {
    const ssize_t N = ::write(FMaster, Bytes.data() + Done, Bytes.size() - Done);
    if (N <= 0) {
      break; // nobody reads: the answer is lost, as on a real line
    }
    Done += static_cast<size_t>(N);
  }
  if (FTrace) {
    FTrace('T', Bytes);
  }
}

int TJKSim::State() const {
  std::lock_guard<std::mutex> L(FLock);
  return FState;
}

void TJKSim::SetState(int State) {
  std::lock_guard<std::mutex> L(FLock);
  FState = State;
  FReadyAt = -1;
}

bool TJKSim::AimingOn() const {
  std::lock_guard<std::mutex> L(FLock);
  return FAiming;
}

std::optional<std::int32_t> TJKSim::SetPoint() const {
  std::lock_guard<std::mutex> L(FLock);
  return FSetPoint;
}

std::optional<std::uint8_t> TJKSim::Flag(std::uint8_t Param) const {
  std::lock_guard<std::mutex> L(FLock);
  const auto It = FFlags.find(Param);
  return It != FFlags.end() ? std::optional<std::uint8_t>(It->second) : std::nullopt;
}

std::optional<std::int32_t> TJKSim::Value(std::uint8_t Param) const {
  std::lock_guard<std::mutex> L(FLock);
  const auto It = FValues.find(Param);
  return It != FValues.end() ? std::optional<std::int32_t>(It->second) : std::nullopt;
}

int TJKSim::AlarmCode() const {
  std::lock_guard<std::mutex> L(FLock);
  return FAlarm;
}

void TJKSim::ReportAlarm(std::uint16_t Code) {
  std::lock_guard<std::mutex> L(FLock);
  FAlarm = Code;
  FAlarmPending = true;
}

void TJKSim::SendRaw(const std::vector<std::uint8_t>& Bytes) {
  std::lock_guard<std::mutex> L(FLock);
  WriteLocked(Bytes);
}

std::vector<TJKSimFrame> TJKSim::Frames() const {
  std::lock_guard<std::mutex> L(FLock);
  return FFrames;
}

std::vector<TJKSimFrame> TJKSim::Commands() const {
  std::lock_guard<std::mutex> L(FLock);
  std::vector<TJKSimFrame> Out;
  for (const auto& F : FFrames) {
    if (F.FunctionCode() != jk::fcStatus) {
      Out.push_back(F);
    }
  }
  return Out;
}

int TJKSim::CountFunction(std::uint8_t FunctionCode) const {
  std::lock_guard<std::mutex> L(FLock);
  int N = 0;
  for (const auto& F : FFrames) {
    N += F.FunctionCode() == FunctionCode ? 1 : 0;
  }
  return N;
}

void TJKSim::ClearFrames() {
  std::lock_guard<std::mutex> L(FLock);
  FFrames.clear();
  FJunk = 0;
}

bool TJKSim::WaitFrames(const std::function<bool(const std::vector<TJKSimFrame>&)>& Pred,
                        int TimeoutMs) const {
  std::unique_lock<std::mutex> L(FLock);
  return FChanged.wait_for(L, std::chrono::milliseconds(TimeoutMs), [&] { return Pred(FFrames); });
}

int TJKSim::JunkBytes() const {
  std::lock_guard<std::mutex> L(FLock);
  return FJunk;
}

void TJKSim::SetFault(TJKFault Fault) {
  std::lock_guard<std::mutex> L(FLock);
  FFault = Fault;
}

TJKFault TJKSim::Fault() const {
  std::lock_guard<std::mutex> L(FLock);
  return FFault;
}

void TJKSim::SetTrace(TTrace Trace) {
  std::lock_guard<std::mutex> L(FLock);
  FTrace = std::move(Trace);
}

} // namespace nclaser::sim
