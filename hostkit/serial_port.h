// The serial port component on a real tty (on-board UART, USB adapter or pty), with POSIX
// termios. Port numbers are mapped to device paths by a host-level table.
//
// Threads: the owner serialises traffic (Write, Read, WaitForInput, Open, Close); GetActive
// may be read from any thread at any time. Close from another thread wakes a WaitForInput or
// a stalled Write at once.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "host/comm.h"

namespace nclaser::hostkit {

// Port number -> device path. COMn defaults to /dev/ttyS(n-1); entries override single
// ports (the command-line tool fills them from [Host.SerialPorts]). Thread-safe.
class TSerialPortMap {
public:
  void Set(int Port, std::string Device);
  void Remove(int Port);
  void Clear();
  // The mapped path, else the default; empty for a port number below 1.
  std::string DevicePath(int Port) const;

private:
  mutable std::mutex FLock;
  std::map<int, std::string> FPaths;
};

enum class TParity : char { None = 'n', Even = 'e', Odd = 'o', Mark = 'm', Space = 's' };

struct TSerialSettings {
  int Baud = 9600;
  TParity Parity = TParity::None;
  int DataBits = 8;
  int StopBits = 1;
};

// Parses "9600,n,8,1": baud (a positive decimal), parity letter n/e/o/m/s (either case),
// data bits 5..8, stop bits 1 or 2; blanks around fields are allowed and the text ends at
// its first NUL. False (with a reason in Error) for anything else.
bool ParseSerialSettings(std::string_view Text, TSerialSettings& Out, std::string* Error = nullptr);

class TSerialPort : public TCommCtrl {
public:
  // Without a map the default COMn -> /dev/ttyS(n-1) applies.
  explicit TSerialPort(std::shared_ptr<const TSerialPortMap> Map = nullptr);
  TSerialPort(const TSerialPort&) = delete;
  TSerialPort& operator=(const TSerialPort&) = delete;
  ~TSerialPort() override;

  // Applied at once to an open port when valid; malformed text makes later opens fail.
  void SetSettings(const std::string& Settings) override;
  // Takes effect at the next open.
  void SetCommPort(int Port) override;
  void SetActive(bool Value) override;
  bool GetActive() const override { return FActive.load(std::memory_order_acquire); }
  // Opening an open port is harmless; an open port whose device hung up is reopened.
  void Open() override;
  void Close() override;
  // Waits for the line to take every byte (up to 1 s plus the transmission time); -1 and
  // inactive when the device fails or the time runs out.
  int Write(const void* Buffer, int Count) override;
  int WriteString(const std::string& Text) override;
  // Never blocks. A device found gone makes the port inactive (the read then returns 0).
  int Read(void* Buffer, int Count) override;
  std::string ReadAsString() override;
  bool WaitForInput(int TimeoutMs) override;

  // The device path of the last open attempt and why it failed (empty after success).
  std::string DevicePath() const;
  std::string LastError() const;

private:
  bool OpenLocked();
  void CloseLocked();
  bool ApplyLocked(const TSerialSettings& S);
  void FailLocked(const std::string& Why);
  // Reads what is waiting; -1 when the device is gone.
  int ReadLocked(void* Buffer, int Count);

  std::shared_ptr<const TSerialPortMap> FMap;
  mutable std::mutex FLock;
  int FFd = -1;
  int FWake = -1; // eventfd: Close from another thread cuts waits short
  int FPort = 1;
  std::string FSettingsText = "9600,n,8,1";
  bool FSettingsOk = true;
  TSerialSettings FSettings;
  std::string FDevice;
  std::string FError;
  std::atomic<bool> FActive{false};
};

} // namespace nclaser::hostkit
