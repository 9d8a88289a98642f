#include "sim/endpoint.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <limits>

#include "host/clock.h"

namespace nclaser::sim {

namespace {

constexpr double Forever = std::numeric_limits<double>::infinity();
// The reader's longest nap: bounds how late a timed state change (Tick) is seen.
constexpr int PollMs = 5;

std::string Errno(const char* What) {
  return std::string(What) + ": " + std::strerror(errno);
}

void CloseFd(int& Fd) {
  if (Fd >= 0) {
    ::close(Fd);
    Fd = -1;
  }
}

} // namespace

TBytes ToBytes(std::string_view Text) {
  return {Text.begin(), Text.end()};
}

std::string ToText(std::span<const std::uint8_t> Bytes) {
  return {Bytes.begin(), Bytes.end()};
}

std::string HexText(std::span<const std::uint8_t> Bytes) {
  static const char Digits[] = "0123456789ABCDEF";
  std::string S;
  for (const std::uint8_t B : Bytes) {
    if (!S.empty()) {
      S += ' ';
    }
    S += Digits[B >> 4];
    S += Digits[B & 0x0F];
  }
  return S;
}

std::optional<TBytes> ParseHex(std::string_view Text) {
  TBytes Out;
  std::string Digits;
  std::size_t I = 0;
  while (I < Text.size()) {
    const char C = Text[I];
    if (C == ' ' || C == ',' || C == '\t') {
      ++I;
    } else if (C == '0' && I + 1 < Text.size() && (Text[I + 1] == 'x' || Text[I + 1] == 'X')) {
      I += 2;
    } else if (std::isxdigit(static_cast<unsigned char>(C)) != 0) {
      Digits += C;
      ++I;
      // A group of digits ends at a separator; groups are read two digits a byte.
      if (I == Text.size() || std::isxdigit(static_cast<unsigned char>(Text[I])) == 0) {
        if (Digits.size() % 2 != 0) {
          return std::nullopt;
        }
        for (std::size_t K = 0; K < Digits.size(); K += 2) {
          Out.push_back(static_cast<std::uint8_t>(std::stoi(Digits.substr(K, 2), nullptr, 16)));
        }
        Digits.clear();
      }
    } else {
      return std::nullopt;
    }
  }
  return Out;
}

std::string TSimModel::Describe(std::span<const std::uint8_t> Request) const {
  return HexText(Request);
}

void SplitRequests(TSimModel& Model, TBytes& Pending, std::span<const std::uint8_t> In,
                   std::size_t& Junk, const std::function<void(TBytes)>& OnRequest) {
  Pending.insert(Pending.end(), In.begin(), In.end());
  for (;;) {
    const TSplit S = Model.Split(Pending);
    const std::size_t Skip = std::min(S.Skip, Pending.size());
    Junk += Skip;
    Pending.erase(Pending.begin(), Pending.begin() + static_cast<std::ptrdiff_t>(Skip));
    const std::size_t Len = std::min(S.Length, Pending.size());
    if (Len == 0) {
      if (Skip == 0) {
        return;
      }
      continue;
    }
    TBytes Req(Pending.begin(), Pending.begin() + static_cast<std::ptrdiff_t>(Len));
    Pending.erase(Pending.begin(), Pending.begin() + static_cast<std::ptrdiff_t>(Len));
    OnRequest(std::move(Req));
  }
}

TBytes FeedModel(TSimModel& Model, TBytes& Pending, std::span<const std::uint8_t> In,
                 double NowMs) {
  TBytes Out;
  std::size_t Junk = 0;
  SplitRequests(Model, Pending, In, Junk, [&](const TBytes& Req) {
    const TBytes A = Model.Handle(Req, NowMs);
    Out.insert(Out.end(), A.begin(), A.end());
  });
  return Out;
}

// ---- Life ----------------------------------------------------------------------------

TSimEndpoint::TSimEndpoint(std::unique_ptr<TSimModel> Model) : FModel(std::move(Model)) {}

TSimEndpoint::~TSimEndpoint() {
  Stop();
}

bool TSimEndpoint::OpenPty(std::string* Error) {
  int M = ::posix_openpt(O_RDWR | O_NOCTTY);
  char Name[128] = {};
  if (M < 0 || ::grantpt(M) != 0 || ::unlockpt(M) != 0 || ::ptsname_r(M, Name, sizeof Name) != 0) {
    if (Error != nullptr) {
      *Error = Errno("pty");
    }
    CloseFd(M);
    return false;
  }
  // Keeping one slave descriptor open spares the master a hang-up whenever the laser
  // closes its port, and makes the line raw before anyone opens it.
  int S = ::open(Name, O_RDWR | O_NOCTTY);
  if (S < 0) {
    if (Error != nullptr) {
      *Error = Errno("open pty slave");
    }
    CloseFd(M);
    return false;
  }
  termios T{};
  if (::tcgetattr(S, &T) == 0) {
    ::cfmakeraw(&T);
    ::tcsetattr(S, TCSANOW, &T);
  }
  // Answers to a port nobody reads are dropped rather than blocking the simulator.
  ::fcntl(M, F_SETFL, ::fcntl(M, F_GETFL) | O_NONBLOCK);
  if (FDir.empty()) {
    char Tmpl[] = "/tmp/nclaser-sim-XXXXXX";
    if (::mkdtemp(Tmpl) == nullptr) {
      if (Error != nullptr) {
        *Error = Errno("mkdtemp");
      }
      CloseFd(S);
      CloseFd(M);
      return false;
    }
    FDir = Tmpl;
    FLink = FDir + "/tty";
  }
  // The laser opens the symlink, so its path survives an unplug and a new pty behind it.
  ::unlink(FLink.c_str());
  if (::symlink(Name, FLink.c_str()) != 0) {
    if (Error != nullptr) {
      *Error = Errno("symlink");
    }
    CloseFd(S);
    CloseFd(M);
    return false;
  }
  FMaster = M;
  FSlaveKeep = S;
  return true;
}

void TSimEndpoint::ClosePty() {
  if (!FLink.empty()) {
    ::unlink(FLink.c_str());
  }
  CloseFd(FSlaveKeep);
  CloseFd(FMaster);
}

bool TSimEndpoint::OpenListener(std::string* Error) {
  FListen = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (FListen < 0) {
    if (Error != nullptr) {
      *Error = Errno("socket");
    }
    return false;
  }
  const int One = 1;
  ::setsockopt(FListen, SOL_SOCKET, SO_REUSEADDR, &One, sizeof One);
  sockaddr_in A{};
  A.sin_family = AF_INET;
  A.sin_port = htons(static_cast<std::uint16_t>(FPort));
  if (::inet_pton(AF_INET, FBindAddr.c_str(), &A.sin_addr) != 1) {
    if (Error != nullptr) {
      *Error = "not an IPv4 address: " + FBindAddr;
    }
    CloseFd(FListen);
    return false;
  }
  if (::bind(FListen, reinterpret_cast<sockaddr*>(&A), sizeof A) != 0 ||
      ::listen(FListen, 4) != 0) {
    if (Error != nullptr) {
      *Error = Errno("bind/listen") + " (" + FBindAddr + ":" + std::to_string(FPort) + ")";
    }
    CloseFd(FListen);
    return false;
  }
  return true;
}

bool TSimEndpoint::Launch(bool Opened) {
  if (Opened) {
    FStop = false;
    FWake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    FRunning = true;
    FThread = std::thread(&TSimEndpoint::Run, this);
  }
  return Opened;
}

bool TSimEndpoint::StartPty(std::string* Error) {
  Stop();
  FTcp = false;
  return Launch(OpenPty(Error));
}

bool TSimEndpoint::StartTcp(const std::string& Address, int Port, std::string* Error) {
  Stop();
  FTcp = true;
  FBindAddr = Address;
  FPort = Port;
  return Launch(OpenListener(Error));
}

void TSimEndpoint::Stop() {
  {
    std::lock_guard<std::mutex> L(FLock);
    FStop = true;
  }
  Wake();
  if (FThread.joinable()) {
    FThread.join();
  }
  FRunning = false;
  CloseFd(FClient);
  CloseFd(FListen);
  ClosePty();
  CloseFd(FWake);
  if (!FDir.empty()) {
    ::rmdir(FDir.c_str());
    FDir.clear();
    FLink.clear();
  }
  FPending.clear();
  FLate.clear();
  FHeld.clear();
  // A restarted simulator starts with its link whole.
  FWantUnplug = FWantReplug = FWantDrop = false;
  FUnplugged = FCableWasOut = false;
  FDownUntil = FCableUntil = -1;
}

bool TSimEndpoint::IsTcp() const {
  return FTcp;
}

std::string TSimEndpoint::DevicePath() const {
  std::lock_guard<std::mutex> L(FLock);
  return FTcp ? std::string() : FLink;
}

std::string TSimEndpoint::Address() const {
  std::lock_guard<std::mutex> L(FLock);
  return FTcp ? FBindAddr + ":" + std::to_string(FPort) : std::string();
}

std::string TSimEndpoint::Where() const {
  return FTcp ? Address() : DevicePath();
}

void TSimEndpoint::Wake() {
  if (FWake >= 0) {
    const std::uint64_t One = 1;
    [[maybe_unused]] const ssize_t N = ::write(FWake, &One, sizeof One);
  }
}

void TSimEndpoint::Settle(std::unique_lock<std::mutex>& L) {
  const std::uint64_t Mine = ++FRequested;
  if (!FRunning) {
    Apply(NowMs());
    return;
  }
  Wake();
  FChanged.wait_for(L, std::chrono::seconds(2), [&] { return FApplied >= Mine || FStop; });
}

// ---- The reader thread -----------------------------------------------------------------

bool TSimEndpoint::Down(double Now) const {
  return Now < FDownUntil;
}

bool TSimEndpoint::CableOut(double Now) const {
  return Now < FCableUntil;
}

void TSimEndpoint::CloseClient() {
  if (FClient >= 0) {
    CloseFd(FClient);
    FPending.clear();
    FHeld.clear();
    FLate.clear();
    FModel->LinkReset();
  }
}

// Carries out what other threads asked for and what the clock says.
void TSimEndpoint::Apply(double Now) {
  if (FWantUnplug) {
    FWantUnplug = false;
    if (!FTcp && FMaster >= 0) {
      ClosePty();
      FPending.clear();
      FHeld.clear();
      FLate.clear();
      FModel->LinkReset();
    }
    FUnplugged = true;
  }
  if (FWantReplug) {
    FWantReplug = false;
    if (!FTcp && FMaster < 0 && !FDir.empty()) {
      OpenPty(nullptr);
    }
    FUnplugged = false;
  }
  if (FWantDrop) {
    FWantDrop = false;
    if (FTcp) {
      if (!CableOut(Now)) {
        CloseClient();
      }
      CloseFd(FListen);
    } else {
      FPending.clear();
      FModel->LinkReset();
    }
  }
  const bool Cable = CableOut(Now);
  if (FCableWasOut && !Cable && FTcp) {
    CloseClient(); // the cable is back: the dead connection is found dead
  }
  FCableWasOut = Cable;
  if (FTcp && FListen < 0 && !Down(Now) && !Cable && !FUnplugged) {
    OpenListener(nullptr);
  }
  FApplied = FRequested;
}

void TSimEndpoint::Run() {
  std::uint8_t Buf[4096];
  std::unique_lock<std::mutex> L(FLock);
  while (!FStop) {
    double Now = NowMs();
    Apply(Now);
    if (TBytes T = FModel->Tick(Now); !T.empty()) {
      Answer(std::move(T), Now);
    }
    Flush(Now);
    FChanged.notify_all();

    pollfd P[3]{};
    nfds_t N = 0;
    const int DataFd = FTcp ? FClient : FMaster;
    if (DataFd >= 0) {
      P[N++] = {DataFd, POLLIN, 0};
    }
    if (FListen >= 0) {
      P[N++] = {FListen, POLLIN, 0};
    }
    P[N++] = {FWake, POLLIN, 0};
    int Timeout = PollMs;
    if (!FLate.empty()) {
      Timeout = std::clamp(static_cast<int>(FLate.front().Due - Now), 0, PollMs);
    }
    L.unlock();
    // Descriptors are closed only by this thread, so polling them unlocked is safe.
    const int R = ::poll(P, N, Timeout);
    L.lock();
    if (R <= 0) {
      continue;
    }
    Now = NowMs();
    for (nfds_t I = 0; I < N; ++I) {
      if (P[I].revents == 0) {
        continue;
      }
      if (P[I].fd == FWake) {
        std::uint64_t V = 0;
        [[maybe_unused]] const ssize_t Got = ::read(FWake, &V, sizeof V);
      } else if (P[I].fd == FListen) {
        const int C = ::accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (C >= 0) {
          CloseClient(); // a new connection replaces the old one
          FClient = C;
          ++FConnects;
        }
      } else if (P[I].fd == DataFd && DataFd >= 0) {
        const ssize_t Got = ::read(DataFd, Buf, sizeof Buf);
        if (Got > 0) {
          // A dropped link or a pulled cable hears nothing.
          if (!Down(Now) && !CableOut(Now)) {
            Consume({Buf, static_cast<std::size_t>(Got)}, Now);
          }
        } else if (FTcp && (Got == 0 || (errno != EAGAIN && errno != EINTR))) {
          CloseClient();
        } else if (!FTcp) {
          // No reader on the pty's far side right now: do not spin on the hang-up.
          L.unlock();
          ::poll(nullptr, 0, PollMs);
          L.lock();
        }
      }
    }
  }
  FChanged.notify_all();
}

void TSimEndpoint::Consume(std::span<const std::uint8_t> Data, double Now) {
  SplitRequests(*FModel, FPending, Data, FJunk, [&](TBytes Bytes) {
    if (FTrace) {
      FTrace('R', Bytes);
    }
    TBytes Out = FModel->Handle(Bytes, Now);
    FRequests.push_back({Now, std::move(Bytes)});
    Answer(std::move(Out), Now);
  });
}

void TSimEndpoint::Answer(TBytes Bytes, double Now) {
  if (Bytes.empty() || FSilent || Down(Now) || CableOut(Now)) {
    return;
  }
  if (FGarbage) {
    for (auto& B : Bytes) {
      FRandom ^= FRandom << 13;
      FRandom ^= FRandom >> 17;
      FRandom ^= FRandom << 5;
      B = static_cast<std::uint8_t>(FRandom);
    }
  }
  if (FTruncate > 0 && Bytes.size() > FTruncate) {
    Bytes.resize(FTruncate);
  }
  if (FJoin) {
    if (FHeld.empty()) {
      FHeld = std::move(Bytes);
      return;
    }
    FHeld.insert(FHeld.end(), Bytes.begin(), Bytes.end());
    Bytes.swap(FHeld);
    FHeld.clear();
  }
  double Due = std::max(Now + FDelayMs, FLate.empty() ? Now : FLate.back().Due);
  if (FChunk == 0) {
    FLate.push_back({Due, std::move(Bytes)});
    return;
  }
  for (std::size_t I = 0; I < Bytes.size(); I += FChunk) {
    const std::size_t End = std::min(Bytes.size(), I + FChunk);
    FLate.push_back({Due, TBytes(Bytes.begin() + static_cast<std::ptrdiff_t>(I),
                                 Bytes.begin() + static_cast<std::ptrdiff_t>(End))});
    Due += FChunkPauseMs;
  }
}

void TSimEndpoint::Flush(double Now) {
  // Taken out first: a write that finds the client gone clears what is still queued.
  std::vector<TOut> Due;
  while (!FLate.empty() && FLate.front().Due <= Now) {
    Due.push_back(std::move(FLate.front()));
    FLate.erase(FLate.begin());
  }
  for (const auto& O : Due) {
    WriteAll(O.Bytes);
  }
}

void TSimEndpoint::WriteAll(std::span<const std::uint8_t> Bytes) {
  const int Fd = FTcp ? FClient : FMaster;
  if (Fd < 0) {
    return; // nobody on the line: the answer is lost, as on a real one
  }
  if (FTrace) {
    FTrace('T', Bytes);
  }
  std::size_t Done = 0;
  const double Start = NowMs();
  // A reader that takes nothing for a while loses the rest, as on a real line; a pty whose
  // port nobody holds open fills at once, so it is given up on sooner.
  const double Patience = FTcp ? 200.0 : 20.0;
  while (Done < Bytes.size() && ElapsedMs(Start) < Patience) {
    const ssize_t W = FTcp ? ::send(Fd, Bytes.data() + Done, Bytes.size() - Done, MSG_NOSIGNAL)
                           : ::write(Fd, Bytes.data() + Done, Bytes.size() - Done);
    if (W > 0) {
      Done += static_cast<std::size_t>(W);
    } else if (W < 0 && errno != EAGAIN && errno != EINTR) {
      if (FTcp) {
        CloseClient();
      }
      return;
    } else {
      ::poll(nullptr, 0, 1);
    }
  }
}

// ---- Records ---------------------------------------------------------------------------

std::vector<TSimRequest> TSimEndpoint::Requests() const {
  std::lock_guard<std::mutex> L(FLock);
  return FRequests;
}

std::vector<TSimRequest> TSimEndpoint::TakeRequests() {
  std::lock_guard<std::mutex> L(FLock);
  std::vector<TSimRequest> Out;
  Out.swap(FRequests);
  return Out;
}

void TSimEndpoint::ClearRequests() {
  std::lock_guard<std::mutex> L(FLock);
  FRequests.clear();
  FJunk = 0;
}

bool TSimEndpoint::WaitRequests(const std::function<bool(const std::vector<TSimRequest>&)>& Pred,
                                int TimeoutMs) const {
  std::unique_lock<std::mutex> L(FLock);
  return FChanged.wait_for(L, std::chrono::milliseconds(TimeoutMs),
                           [&] { return Pred(FRequests); });
}

std::size_t TSimEndpoint::JunkBytes() const {
  std::lock_guard<std::mutex> L(FLock);
  return FJunk;
}

// ---- Faults ----------------------------------------------------------------------------

void TSimEndpoint::SetSilent(bool On) {
  std::lock_guard<std::mutex> L(FLock);
  FSilent = On;
}

void TSimEndpoint::SetGarbage(bool On) {
  std::lock_guard<std::mutex> L(FLock);
  FGarbage = On;
}

void TSimEndpoint::SetTruncate(std::size_t Count) {
  std::lock_guard<std::mutex> L(FLock);
  FTruncate = Count;
}

void TSimEndpoint::SetSplit(std::size_t Chunk, int PauseMs) {
  std::lock_guard<std::mutex> L(FLock);
  FChunk = Chunk;
  FChunkPauseMs = std::max(0, PauseMs);
}

void TSimEndpoint::SetJoin(bool On) {
  std::lock_guard<std::mutex> L(FLock);
  FJoin = On;
  if (!On) {
    FHeld.clear();
  }
}

void TSimEndpoint::SetDelay(int DelayMs) {
  std::lock_guard<std::mutex> L(FLock);
  FDelayMs = std::max(0, DelayMs);
}

void TSimEndpoint::SendRaw(std::span<const std::uint8_t> Bytes) {
  std::lock_guard<std::mutex> L(FLock);
  FLate.push_back({FLate.empty() ? NowMs() : FLate.back().Due, TBytes(Bytes.begin(), Bytes.end())});
  Wake();
}

void TSimEndpoint::DropLink(int DownMs) {
  std::unique_lock<std::mutex> L(FLock);
  FDownUntil = DownMs > 0 ? NowMs() + DownMs : Forever;
  FWantDrop = true;
  Settle(L);
}

void TSimEndpoint::RestoreLink() {
  std::unique_lock<std::mutex> L(FLock);
  FDownUntil = -1;
  FCableUntil = -1;
  Settle(L);
}

void TSimEndpoint::PullCable(int DownMs) {
  std::unique_lock<std::mutex> L(FLock);
  const double Until = DownMs > 0 ? NowMs() + DownMs : Forever;
  FCableUntil = Until;
  FDownUntil = Until;
  FWantDrop = true;
  Settle(L);
}

bool TSimEndpoint::Unreachable() const {
  std::lock_guard<std::mutex> L(FLock);
  const double Now = NowMs();
  return Down(Now) || CableOut(Now) || FUnplugged;
}

void TSimEndpoint::Unplug() {
  std::unique_lock<std::mutex> L(FLock);
  FWantUnplug = true;
  FWantReplug = false;
  if (FTcp) {
    FWantDrop = true;
  }
  Settle(L);
}

void TSimEndpoint::Replug() {
  std::unique_lock<std::mutex> L(FLock);
  FWantReplug = true;
  FWantUnplug = false;
  Settle(L);
}

double TSimEndpoint::OutputBacklogMs() const {
  std::lock_guard<std::mutex> L(FLock);
  return FLate.empty() ? 0.0 : std::max(0.0, FLate.back().Due - NowMs());
}

bool TSimEndpoint::Plugged() const {
  std::lock_guard<std::mutex> L(FLock);
  return !FUnplugged;
}

bool TSimEndpoint::ClientConnected() const {
  std::lock_guard<std::mutex> L(FLock);
  return FTcp && FClient >= 0;
}

int TSimEndpoint::ConnectCount() const {
  std::lock_guard<std::mutex> L(FLock);
  return FConnects;
}

void TSimEndpoint::SetTrace(TTrace Trace) {
  std::lock_guard<std::mutex> L(FLock);
  FTrace = std::move(Trace);
}

} // namespace nclaser::sim
