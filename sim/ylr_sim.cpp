#include "sim/ylr_sim.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "host/clock.h"
#include "host/format1033.h"
#include "protocols/ylr.h"

namespace nclaser::sim {

namespace {

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

TYLRSim::TYLRSim() = default;

TYLRSim::~TYLRSim() {
  Stop();
}

bool TYLRSim::StartPty(std::string* Error) {
  Stop();
  FMaster = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (FMaster < 0 || ::grantpt(FMaster) != 0 || ::unlockpt(FMaster) != 0) {
    if (Error != nullptr) {
      *Error = Errno("posix_openpt");
    }
    CloseFd(FMaster);
    return false;
  }
  char Name[128] = {};
  if (::ptsname_r(FMaster, Name, sizeof Name) != 0) {
    if (Error != nullptr) {
      *Error = Errno("ptsname_r");
    }
    CloseFd(FMaster);
    return false;
  }
  FDevicePath = Name;
  // Keeping one slave descriptor open spares the master a hang-up whenever the driver
  // closes its port, and makes the line raw before anyone opens it.
  FSlaveKeep = ::open(Name, O_RDWR | O_NOCTTY);
  if (FSlaveKeep >= 0) {
    termios T{};
    if (::tcgetattr(FSlaveKeep, &T) == 0) {
      ::cfmakeraw(&T);
      ::tcsetattr(FSlaveKeep, TCSANOW, &T);
    }
  }
  ::fcntl(FMaster, F_SETFL, ::fcntl(FMaster, F_GETFL) | O_NONBLOCK);
  FStop = false;
  FRunning = true;
  FThread = std::thread(&TYLRSim::Run, this);
  return true;
}

bool TYLRSim::OpenListener(std::string* Error) {
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
      *Error = Errno("bind/listen");
    }
    CloseFd(FListen);
    return false;
  }
  return true;
}

bool TYLRSim::StartTcp(const std::string& Address, int Port, std::string* Error) {
  Stop();
  FBindAddr = Address;
  FPort = Port;
  if (!OpenListener(Error)) {
    return false;
  }
  FAddress = Address + ":" + std::to_string(Port);
  FStop = false;
  FRunning = true;
  FThread = std::thread(&TYLRSim::Run, this);
  return true;
}

void TYLRSim::Stop() {
  FStop = true;
  if (FThread.joinable()) {
    FThread.join();
  }
  FRunning = false;
  CloseClient();
  CloseFd(FListen);
  CloseFd(FSlaveKeep);
  CloseFd(FMaster);
}

std::string TYLRSim::DevicePath() const {
  return FDevicePath;
}
std::string TYLRSim::Address() const {
  return FAddress;
}

// ---- The loop -----------------------------------------------------------------------

void TYLRSim::CloseClient() {
  std::lock_guard<std::mutex> L(FLock);
  CloseFd(FClient);
  FModel.ResetInput();
  FHeld.clear();
}

void TYLRSim::Run() {
  char Buf[4096];
  while (!FStop) {
    bool Down = false;
    bool Drop = false;
    bool Cable = false;
    std::string Raw;
    {
      std::lock_guard<std::mutex> L(FLock);
      Down = NowMs() < FDownUntilMs;
      Drop = FDropRequested;
      Cable = FCableOut;
      FDropRequested = false;
      Raw.swap(FRaw);
    }
    bool CableBack = false;
    {
      std::lock_guard<std::mutex> L(FLock);
      CableBack = FCableOut && !Down;
      FCableOut = FCableOut && Down;
    }
    if (Drop && FMaster < 0) {
      if (!Cable) {
        CloseClient();
      }
      CloseFd(FListen);
    }
    if (CableBack && FMaster < 0) {
      CloseClient();
    }
    if (!Raw.empty()) {
      WriteOut(Raw);
    }
    if (FMaster < 0 && !Down && FListen < 0) {
      OpenListener(nullptr);
    }
    pollfd P[2]{};
    int N = 0;
    int DataFd = FMaster >= 0 ? FMaster : FClient;
    if (DataFd >= 0) {
      P[N++] = {DataFd, POLLIN, 0};
    }
    if (FListen >= 0) {
      P[N++] = {FListen, POLLIN, 0};
    }
    if (::poll(P, static_cast<nfds_t>(N), 5) <= 0) {
      continue;
    }
    for (int I = 0; I < N; ++I) {
      if (P[I].revents == 0) {
        continue;
      }
      if (P[I].fd == FListen) {
        const int C = ::accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC);
        if (C >= 0) {
          CloseClient(); // a new connection replaces the old one
          std::lock_guard<std::mutex> L(FLock);
          FClient = C;
          ++FConnects;
          FChanged.notify_all();
        }
        continue;
      }
      const ssize_t R = ::read(P[I].fd, Buf, sizeof Buf);
      if (R > 0) {
        if (!Down) {
          HandleInput(Buf, static_cast<std::size_t>(R));
        }
      } else if (FMaster < 0 && (R == 0 || (errno != EAGAIN && errno != EINTR))) {
        CloseClient();
      } else if (FMaster >= 0) {
        // The pty has no reader on the other side right now.
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
    }
  }
}

void TYLRSim::HandleInput(const char* Data, std::size_t Count) {
  std::string Out;
  {
    std::lock_guard<std::mutex> L(FLock);
    Out = FModel.Feed(std::string_view(Data, Count));
    FChanged.notify_all();
    if (FJoin && !Out.empty() && FHeld.empty()) {
      FHeld = Out;
      return;
    }
    Out = FHeld + Out;
    FHeld.clear();
  }
  WriteOut(Out);
}

void TYLRSim::WriteAll(const std::string& Text) {
  const int Fd = FMaster >= 0 ? FMaster : FClient;
  std::size_t Done = 0;
  const double Start = NowMs();
  while (Fd >= 0 && Done < Text.size() && ElapsedMs(Start) < 1000.0) {
    const ssize_t W = FMaster >= 0
                          ? ::write(Fd, Text.data() + Done, Text.size() - Done)
                          : ::send(Fd, Text.data() + Done, Text.size() - Done, MSG_NOSIGNAL);
    if (W > 0) {
      Done += static_cast<std::size_t>(W);
    } else if (W < 0 && errno != EAGAIN && errno != EINTR) {
      return;
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
}

void TYLRSim::WriteOut(const std::string& Text) {
  if (Text.empty()) {
    return;
  }
  std::size_t Chunk = 0;
  int Pause = 0;
  {
    std::lock_guard<std::mutex> L(FLock);
    Chunk = FChunk;
    Pause = FChunkPauseMs;
  }
  if (Chunk == 0) {
    WriteAll(Text);
    return;
  }
  for (std::size_t I = 0; I < Text.size(); I += Chunk) {
    WriteAll(Text.substr(I, Chunk));
    if (I + Chunk < Text.size()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(Pause));
    }
  }
}

// ---- State and faults ---------------------------------------------------------------

std::uint32_t TYLRSim::Status() const {
  std::lock_guard<std::mutex> L(FLock);
  return FModel.Status();
}

bool TYLRSim::Emission() const {
  std::lock_guard<std::mutex> L(FLock);
  return FModel.Emission();
}

bool TYLRSim::Aiming() const {
  std::lock_guard<std::mutex> L(FLock);
  return FModel.Aiming();
}

double TYLRSim::DiodeCurrent() const {
  std::lock_guard<std::mutex> L(FLock);
  return FModel.DiodeCurrent();
}

void TYLRSim::SetSerialNumber(const std::string& SN) {
  std::lock_guard<std::mutex> L(FLock);
  FModel.SetSerialNumber(SN);
}

bool TYLRSim::ClientConnected() const {
  std::lock_guard<std::mutex> L(FLock);
  return FClient >= 0;
}

std::vector<std::string> TYLRSim::Commands() const {
  std::lock_guard<std::mutex> L(FLock);
  return FModel.Commands();
}

void TYLRSim::ClearCommands() {
  std::lock_guard<std::mutex> L(FLock);
  FModel.ClearCommands();
}

int TYLRSim::CountCommand(const std::string& Cmd) const {
  std::lock_guard<std::mutex> L(FLock);
  int N = 0;
  for (const std::string& C : FModel.Commands()) {
    N += C == Cmd ? 1 : 0;
  }
  return N;
}

bool TYLRSim::WaitForCommand(const std::string& Cmd, int TimeoutMs, int Count) const {
  std::unique_lock<std::mutex> L(FLock);
  return FChanged.wait_for(L, std::chrono::milliseconds(TimeoutMs), [&] {
    int N = 0;
    for (const std::string& C : FModel.Commands()) {
      N += C == Cmd ? 1 : 0;
    }
    return N >= Count;
  });
}

void TYLRSim::SetFaultBits(std::uint32_t Bits, bool On) {
  std::lock_guard<std::mutex> L(FLock);
  FModel.SetFaultBits(Bits, On);
}

void TYLRSim::SetErrorReply(const std::string& Mnemonic, const std::string& Text) {
  std::lock_guard<std::mutex> L(FLock);
  FModel.SetErrorReply(Mnemonic, Text);
}

void TYLRSim::SetSilent(bool On) {
  std::lock_guard<std::mutex> L(FLock);
  FModel.SetSilent(On);
}

void TYLRSim::SetSplitReplies(std::size_t ChunkSize, int PauseMs) {
  std::lock_guard<std::mutex> L(FLock);
  FChunk = ChunkSize;
  FChunkPauseMs = PauseMs;
}

void TYLRSim::SetJoinReplies(bool On) {
  std::lock_guard<std::mutex> L(FLock);
  FJoin = On;
}

void TYLRSim::SetDiodeEchoOffset(double Offset) {
  std::lock_guard<std::mutex> L(FLock);
  FModel.SetDiodeEchoOffset(Offset);
}

void TYLRSim::SendRaw(const std::string& Text) {
  std::lock_guard<std::mutex> L(FLock);
  FRaw += Text;
}

void TYLRSim::DropConnection(int DownMs) {
  std::lock_guard<std::mutex> L(FLock);
  FDownUntilMs = NowMs() + DownMs;
  FDropRequested = true;
}

void TYLRSim::PullCable(int DownMs) {
  std::lock_guard<std::mutex> L(FLock);
  FDownUntilMs = NowMs() + DownMs;
  FDropRequested = true;
  FCableOut = true;
}

bool TYLRSim::Unreachable() const {
  std::lock_guard<std::mutex> L(FLock);
  return NowMs() < FDownUntilMs;
}

int TYLRSim::ConnectCount() const {
  std::lock_guard<std::mutex> L(FLock);
  return FConnects;
}

} // namespace nclaser::sim
