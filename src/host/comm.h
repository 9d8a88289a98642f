// The host's communication components: serial port, TCP client, ping client.
// The plug-in creates them (with no owner) through the host's CommFactory and frees them.
//
// Threads: one component is used by one owner; calls on one component may come from
// several threads but are serialised by the owner's own lock, except where noted below.
// Every blocking call has a time-out.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace nclaser {

class TCommCtrl {
public:
  virtual ~TCommCtrl() = default;
  // "9600,n,8,1": baud rate, parity letter (n/e/o/m/s), data bits, stop bits. Malformed
  // text makes later opens fail; it never throws.
  virtual void SetSettings(const std::string& Settings) = 0;
  virtual void SetCommPort(int Port) = 0;
  // Opens (true) or closes (false); read GetActive afterwards to learn whether it opened.
  virtual void SetActive(bool Value) = 0;
  virtual bool GetActive() const = 0;
  virtual void Open() = 0;
  virtual void Close() = 0;
  // Raw bytes; returns the number written, -1 on failure (the port then drops inactive).
  virtual int Write(const void* Buffer, int Count) = 0;
  virtual int WriteString(const std::string& Text) = 0;
  // Returns at once with what is waiting (at most Count bytes), 0 when nothing is.
  virtual int Read(void* Buffer, int Count) = 0;
  // All waiting input as text; empty when none. Never blocks.
  virtual std::string ReadAsString() = 0;
  // Waits up to TimeoutMs for input to arrive; true when some is waiting. Lets callers
  // that must listen for a while do so without spinning.
  virtual bool WaitForInput(int TimeoutMs) = 0;
};

class TKdTcpClient {
public:
  virtual ~TKdTcpClient() = default;
  virtual void SetRemoteHost(const std::string& Host) = 0;
  virtual void SetRemotePort(const std::string& Port) = 0;
  // The link state: false once the peer closed or a socket call failed.
  virtual bool GetConnected() = 0;
  // Connects within TimeoutMs; returns the connected flag.
  virtual bool ConnectTimeout(int TimeoutMs) = 0;
  // Returns the bytes sent, -1 on a socket error.
  virtual int SendBuf(const void* Buffer, int Length, int Flags) = 0;
  // True when the socket is ready within TimeoutMs (ms) for what was asked; each non-null
  // flag is set to its own readiness.
  virtual bool Select(bool* ReadReady, bool* WriteReady, bool* ExceptFlag, int TimeoutMs) = 0;
  // Returns the bytes read (0 when the peer closed, -1 on error).
  virtual int ReceiveBuf(void* Buffer, int Length, int Flags) = 0;
  // May be called from any thread, also while another thread waits in Select.
  virtual void Disconnect() = 0;
};

class TIcmpClient {
public:
  using TNotify = std::function<void(TIcmpClient* Sender)>;
  virtual ~TIcmpClient() = default;
  virtual void SetHost(const std::string& Host) = 0;
  virtual void SetTimeout(int TimeoutMs) = 0;
  // Pings Host (the client's own host when empty) within TimeoutMs; true when it answered.
  virtual bool Ping(const std::string& Host, int TimeoutMs) = 0;
  // Returns at once; when no answer comes within TimeoutMs, OnTimeout (or OnError, when the
  // ping could not be made) is called on a thread of the client's own. The client's
  // destructor waits for pending pings, so no notification follows it.
  virtual void PingAsync(const std::string& Host, int TimeoutMs) = 0;
  // The TCP port the laser itself listens on: a host that may not send ICMP knocks there
  // to learn whether the laser is up. A host that pings otherwise ignores it.
  virtual void SetProbePort(int /*Port*/) {}

  TNotify OnTimeout;
  TNotify OnError;
};

class TCommFactory {
public:
  virtual ~TCommFactory() = default;
  virtual std::unique_ptr<TCommCtrl> NewCommCtrl() = 0;
  virtual std::unique_ptr<TKdTcpClient> NewTcpClient() = 0;
  virtual std::unique_ptr<TIcmpClient> NewIcmpClient() = 0;
};

extern TCommFactory* CommFactory;

// Null when the host has no communication services installed.
std::unique_ptr<TCommCtrl> NewCommCtrl();
std::unique_ptr<TKdTcpClient> NewTcpClient();
std::unique_ptr<TIcmpClient> NewIcmpClient();

} // namespace nclaser
