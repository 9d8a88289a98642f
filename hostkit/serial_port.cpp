#include "hostkit/serial_port.h"
#include "hostkit/deadline.h"

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace nclaser::hostkit {

namespace {

std::string_view Trim(std::string_view S) {
  while (!S.empty() && (S.front() == ' ' || S.front() == '\t')) {
    S.remove_prefix(1);
  }
  while (!S.empty() && (S.back() == ' ' || S.back() == '\t')) {
    S.remove_suffix(1);
  }
  return S;
}

bool ParseInt(std::string_view S, int& Out) {
  S = Trim(S);
  if (S.empty()) {
    return false;
  }
  const auto R = std::from_chars(S.data(), S.data() + S.size(), Out);
  return R.ec == std::errc() && R.ptr == S.data() + S.size();
}

struct TBaudEntry {
  int Baud;
  speed_t Speed;
};

constexpr TBaudEntry KBauds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

bool BaudToSpeed(int Baud, speed_t& Out) {
  for (const auto& E : KBauds) {
    if (E.Baud == Baud) {
      Out = E.Speed;
      return true;
    }
  }
  return false;
}

void DrainEvent(int Fd) {
  std::uint64_t V = 0;
  while (::read(Fd, &V, sizeof V) > 0) {
  }
}

} // namespace

// --- TSerialPortMap ------------------------------------------------------------------------

void TSerialPortMap::Set(int Port, std::string Device) {
  std::lock_guard<std::mutex> L(FLock);
  FPaths[Port] = std::move(Device);
}

void TSerialPortMap::Remove(int Port) {
  std::lock_guard<std::mutex> L(FLock);
  FPaths.erase(Port);
}

void TSerialPortMap::Clear() {
  std::lock_guard<std::mutex> L(FLock);
  FPaths.clear();
}

std::string TSerialPortMap::DevicePath(int Port) const {
  {
    std::lock_guard<std::mutex> L(FLock);
    const auto It = FPaths.find(Port);
    if (It != FPaths.end()) {
      return It->second;
    }
  }
  if (Port < 1) {
    return {};
  }
  return "/dev/ttyS" + std::to_string(Port - 1);
}

// --- Settings ------------------------------------------------------------------------------

bool ParseSerialSettings(std::string_view Text, TSerialSettings& Out, std::string* Error) {
  auto Fail = [&](const char* Why) {
    if (Error != nullptr) {
      *Error = std::string(Why) + ": \"" + std::string(Text) + "\"";
    }
    return false;
  };
  const auto Nul = Text.find('\0');
  if (Nul != std::string_view::npos) {
    Text = Text.substr(0, Nul);
  }
  std::string_view Fields[4];
  std::string_view Rest = Text;
  for (int I = 0; I < 4; ++I) {
    const auto Comma = Rest.find(',');
    if ((Comma == std::string_view::npos) != (I == 3)) {
      return Fail("serial settings need four comma-separated fields");
    }
    Fields[I] = Trim(Rest.substr(0, Comma));
    Rest = Comma == std::string_view::npos ? std::string_view() : Rest.substr(Comma + 1);
  }
  TSerialSettings S;
  if (!ParseInt(Fields[0], S.Baud) || S.Baud <= 0) {
    return Fail("bad baud rate");
  }
  if (Fields[1].size() != 1) {
    return Fail("bad parity");
  }
  switch (Fields[1][0] | 0x20) {
  case 'n':
    S.Parity = TParity::None;
    break;
  case 'e':
    S.Parity = TParity::Even;
    break;
  case 'o':
    S.Parity = TParity::Odd;
    break;
  case 'm':
    S.Parity = TParity::Mark;
    break;
  case 's':
    S.Parity = TParity::Space;
    break;
  default:
    return Fail("bad parity");
  }
  if (!ParseInt(Fields[2], S.DataBits) || S.DataBits < 5 || S.DataBits > 8) {
    return Fail("bad data bits");
  }
  if (!ParseInt(Fields[3], S.StopBits) || (S.StopBits != 1 && S.StopBits != 2)) {
    return Fail("bad stop bits");
  }
  Out = S;
  return true;
}

// --- TSerialPort ---------------------------------------------------------------------------

TSerialPort::TSerialPort(std::shared_ptr<const TSerialPortMap> Map) : FMap(std::move(Map)) {
  FWake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

TSerialPort::~TSerialPort() {
  {
    std::lock_guard<std::mutex> L(FLock);
    CloseLocked();
  }
  if (FWake >= 0) {
    ::close(FWake);
  }
}

void TSerialPort::SetSettings(const std::string& Settings) {
  std::lock_guard<std::mutex> L(FLock);
  FSettingsText = Settings;
  TSerialSettings S;
  FSettingsOk = ParseSerialSettings(Settings, S, &FError);
  if (!FSettingsOk) {
    return;
  }
  FSettings = S;
  FError.clear();
  if (FFd >= 0 && !ApplyLocked(S)) {
    CloseLocked();
  }
}

void TSerialPort::SetCommPort(int Port) {
  std::lock_guard<std::mutex> L(FLock);
  FPort = Port;
}

void TSerialPort::SetActive(bool Value) {
  if (Value) {
    Open();
  } else {
    Close();
  }
}

void TSerialPort::Open() {
  std::lock_guard<std::mutex> L(FLock);
  if (FFd >= 0) {
    // A device that went away since the last call is reopened rather than trusted.
    pollfd P{FFd, POLLIN, 0};
    if (::poll(&P, 1, 0) >= 0 && (P.revents & (POLLHUP | POLLERR | POLLNVAL)) == 0) {
      return;
    }
    CloseLocked();
  }
  OpenLocked();
}

bool TSerialPort::OpenLocked() {
  FDevice = FMap ? FMap->DevicePath(FPort) : TSerialPortMap().DevicePath(FPort);
  if (!FSettingsOk) {
    // FError still holds the parse failure.
    return false;
  }
  if (FDevice.empty()) {
    FError = "no device for port " + std::to_string(FPort);
    return false;
  }
  const int Fd = ::open(FDevice.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (Fd < 0) {
    FError = FDevice + ": " + std::strerror(errno);
    return false;
  }
  if (::isatty(Fd) == 0) {
    FError = FDevice + ": not a terminal device";
    ::close(Fd);
    return false;
  }
  // Another program (or another port object) already holding the line is refused, as a
  // COM port is on the controller's own platform.
  if (::flock(Fd, LOCK_EX | LOCK_NB) != 0) {
    FError = FDevice + ": in use";
    ::close(Fd);
    return false;
  }
  ::ioctl(Fd, TIOCEXCL);
  FFd = Fd;
  if (!ApplyLocked(FSettings)) {
    CloseLocked();
    return false;
  }
  // Stale input from before the open goes; output is left alone (on a pty, flushing it
  // would discard what the far end has not read yet).
  ::tcflush(FFd, TCIFLUSH);
  if (FWake >= 0) {
    DrainEvent(FWake);
  }
  FError.clear();
  FActive.store(true, std::memory_order_release);
  return true;
}

bool TSerialPort::ApplyLocked(const TSerialSettings& S) {
  termios T{};
  if (::tcgetattr(FFd, &T) != 0) {
    FError = FDevice + ": " + std::strerror(errno);
    return false;
  }
  speed_t Speed = 0;
  if (!BaudToSpeed(S.Baud, Speed)) {
    FError = FDevice + ": unsupported baud rate " + std::to_string(S.Baud);
    return false;
  }
  ::cfmakeraw(&T);
  T.c_cflag |= CLOCAL | CREAD;
  T.c_cflag &= ~(CSIZE | CSTOPB | PARENB | PARODD | CRTSCTS);
#ifdef CMSPAR
  T.c_cflag &= ~CMSPAR;
#endif
  T.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK);
  switch (S.DataBits) {
  case 5:
    T.c_cflag |= CS5;
    break;
  case 6:
    T.c_cflag |= CS6;
    break;
  case 7:
    T.c_cflag |= CS7;
    break;
  default:
    T.c_cflag |= CS8;
    break;
  }
  if (S.StopBits == 2) {
    T.c_cflag |= CSTOPB;
  }
  switch (S.Parity) {
  case TParity::None:
    break;
  case TParity::Even:
    T.c_cflag |= PARENB;
    break;
  case TParity::Odd:
    T.c_cflag |= PARENB | PARODD;
    break;
  case TParity::Mark:
  case TParity::Space:
#ifdef CMSPAR
    T.c_cflag |= PARENB | CMSPAR | (S.Parity == TParity::Mark ? PARODD : 0);
    break;
#else
    FError = FDevice + ": mark/space parity not supported here";
    return false;
#endif
  }
  T.c_cc[VMIN] = 0;
  T.c_cc[VTIME] = 0;
  ::cfsetispeed(&T, Speed);
  ::cfsetospeed(&T, Speed);
  if (::tcsetattr(FFd, TCSANOW, &T) != 0) {
    FError = FDevice + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

void TSerialPort::Close() {
  // Wake a wait of another thread first so that the lock comes free.
  if (FWake >= 0) {
    const std::uint64_t One = 1;
    (void)!::write(FWake, &One, sizeof One);
  }
  std::lock_guard<std::mutex> L(FLock);
  CloseLocked();
  if (FWake >= 0) {
    DrainEvent(FWake);
  }
}

void TSerialPort::CloseLocked() {
  FActive.store(false, std::memory_order_release);
  if (FFd >= 0) {
    // The exclusive flag lives on the tty, not on our descriptor: lift it, or a device that
    // someone else still holds open would refuse our own reopen.
    ::ioctl(FFd, TIOCNXCL);
    ::close(FFd); // also drops the flock
    FFd = -1;
  }
}

void TSerialPort::FailLocked(const std::string& Why) {
  FError = FDevice + ": " + Why;
  CloseLocked();
}

int TSerialPort::Write(const void* Buffer, int Count) {
  std::lock_guard<std::mutex> L(FLock);
  if (FFd < 0 || Count < 0 || (Buffer == nullptr && Count > 0)) {
    return -1;
  }
  // 1 s of slack plus the time the bytes take on the line at 10 bits each.
  const double Deadline = NowMs() + 1000.0 + static_cast<double>(Count) * 10000.0 / FSettings.Baud;
  const auto* P = static_cast<const unsigned char*>(Buffer);
  int Done = 0;
  while (Done < Count) {
    const ssize_t N = ::write(FFd, P + Done, static_cast<size_t>(Count - Done));
    if (N > 0) {
      Done += static_cast<int>(N);
      continue;
    }
    if (N < 0 && errno == EINTR) {
      continue;
    }
    if (N < 0 && errno != EAGAIN) {
      FailLocked(std::strerror(errno));
      return -1;
    }
    const double Left = Deadline - NowMs();
    if (Left <= 0) {
      FailLocked("write timed out");
      return -1;
    }
    pollfd Ps[2] = {{FFd, POLLOUT, 0}, {FWake, POLLIN, 0}};
    const int R = ::poll(Ps, FWake >= 0 ? 2 : 1, static_cast<int>(Left) + 1);
    if (R < 0 && errno != EINTR) {
      FailLocked(std::strerror(errno));
      return -1;
    }
    if ((Ps[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
      FailLocked("device hung up");
      return -1;
    }
    if (FWake >= 0 && (Ps[1].revents & POLLIN) != 0) {
      return -1; // closed by another thread, which finishes the close
    }
  }
  return Done;
}

int TSerialPort::WriteString(const std::string& Text) {
  return Write(Text.data(), static_cast<int>(Text.size()));
}

int TSerialPort::ReadLocked(void* Buffer, int Count) {
  if (FFd < 0) {
    return 0;
  }
  for (;;) {
    const ssize_t N = ::read(FFd, Buffer, static_cast<size_t>(Count));
    if (N > 0) {
      return static_cast<int>(N);
    }
    if (N < 0 && errno == EINTR) {
      continue;
    }
    if (N < 0 && errno != EAGAIN) {
      FailLocked(std::strerror(errno));
      return -1;
    }
    // Nothing waiting, or end of file: a hung-up tty reads as end of file forever, a live
    // raw tty with VMIN=0 reads 0 too; only poll tells the two apart.
    pollfd P{FFd, POLLIN, 0};
    if (::poll(&P, 1, 0) > 0 && (P.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
      FailLocked("device hung up");
      return -1;
    }
    return 0;
  }
}

int TSerialPort::Read(void* Buffer, int Count) {
  if (Count <= 0 || Buffer == nullptr) {
    return 0;
  }
  std::lock_guard<std::mutex> L(FLock);
  const int N = ReadLocked(Buffer, Count);
  return N > 0 ? N : 0;
}

std::string TSerialPort::ReadAsString() {
  std::lock_guard<std::mutex> L(FLock);
  std::string Text;
  char Buf[1024];
  for (;;) {
    const int N = ReadLocked(Buf, sizeof Buf);
    if (N <= 0) {
      break;
    }
    Text.append(Buf, static_cast<size_t>(N));
  }
  return Text;
}

bool TSerialPort::WaitForInput(int TimeoutMs) {
  std::lock_guard<std::mutex> L(FLock);
  if (FFd < 0) {
    return false;
  }
  const double Deadline = NowMs() + (TimeoutMs > 0 ? TimeoutMs : 0);
  for (;;) {
    const double Left = Deadline - NowMs();
    pollfd Ps[2] = {{FFd, POLLIN, 0}, {FWake, POLLIN, 0}};
    const int R = ::poll(Ps, FWake >= 0 ? 2 : 1, Left > 0 ? static_cast<int>(Left + 0.999) : 0);
    if (R < 0 && errno == EINTR) {
      continue;
    }
    if (R <= 0) {
      return false;
    }
    if (FWake >= 0 && (Ps[1].revents & POLLIN) != 0) {
      return false;
    }
    if ((Ps[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
      FailLocked("device hung up");
      return false;
    }
    return (Ps[0].revents & POLLIN) != 0;
  }
}

std::string TSerialPort::DevicePath() const {
  std::lock_guard<std::mutex> L(FLock);
  return FDevice;
}

std::string TSerialPort::LastError() const {
  std::lock_guard<std::mutex> L(FLock);
  return FError;
}

} // namespace nclaser::hostkit
