// The transports of the IPG drivers. TLaserLink is what a driver needs of whatever carries
// its bytes; TIPGNetLink is the TCP side every IPG driver shares (the TCP client on the
// laser's fixed port, the ping client that watches it, the link check that reconnects a
// dropped link); TSerialLink is the serial line of a YLR laser.
//
// Threads: the owning driver calls everything under its own communication lock, except
// DropConnection, which the ping client's thread calls; the link's own lock keeps the TCP
// client alive across that call.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "host/comm.h"

namespace nclaser {

class TLaserLink {
public:
  using TSink = std::function<void(const std::uint8_t*, int)>;
  virtual ~TLaserLink() = default;
  // Makes the link usable where it can (reopens, reconnects) and tells whether it is.
  virtual bool Check() = 0;
  // The owner is being torn down: no new connection from now on.
  virtual void Shutdown() = 0;
  // One write; the transport's result (-1 on failure).
  virtual int Send(const std::uint8_t* Bytes, int Count) = 0;
  // Hands what arrives within TimeoutMs to Sink, piece by piece, pausing 1 ms after each.
  virtual void Receive(int TimeoutMs, const TSink& Sink) = 0;
  // When a connection is up, runs Before and drops it; returns whether it did.
  virtual bool DropConnection(const std::function<void()>& Before) = 0;
};

class TIPGNetLink : public TLaserLink {
public:
  // Creates the TCP client (remote Host:Port) and the ping client (host Host, time-out
  // PingTimeoutMs; a host that may only knock knocks on Port). Both ping notifications call
  // OnPingFailed on the ping client's thread.
  // Either client is null when the host has no communication services.
  TIPGNetLink(const std::string& Host, const std::string& Port, int PingTimeoutMs,
              const std::function<void()>& OnPingFailed);
  // The TCP client goes first, then the ping client, which waits for pending pings, so no
  // notification comes after this.
  ~TIPGNetLink() override;
  TIPGNetLink(const TIPGNetLink&) = delete;
  TIPGNetLink& operator=(const TIPGNetLink&) = delete;

  bool HasTcp() const { return FTcpClient != nullptr; }
  bool HasPing() const { return FIcmpClient != nullptr; }
  const std::string& Host() const { return FHost; }

  // Connected: pings the laser in the background every 5000 ms (a failed ping drops the
  // link through OnPingFailed). Not connected: a 100 ms ping, and when it answers a
  // connect within 1000 ms. Returns the connected flag as it then stands.
  // After Shutdown only the connected flag: no ping, no new connection.
  bool Check() override;
  bool Connected();
  // The owner is being torn down: no new connection from now on, and a connect another
  // thread is waiting in is given up (a link that is up stays up for the last commands).
  void Shutdown() override;
  // One write; the client's result (-1 on a socket error).
  int Send(const std::uint8_t* Bytes, int Count) override;
  // Reads pieces of up to 1024 bytes while input keeps coming within TimeoutMs of the
  // start; each piece goes to Sink. Returns at once when the peer has closed.
  void Receive(int TimeoutMs, const TSink& Sink) override;
  void Disconnect();
  // For the ping thread: when the client is connected, runs Before and disconnects it;
  // returns whether it did.
  bool DropConnection(const std::function<void()>& Before) override;

private:
  std::string FHost;
  std::unique_ptr<TKdTcpClient> FTcpClient;
  std::unique_ptr<TIcmpClient> FIcmpClient;
  double FLastPingTime = 0.0; // Check's callers never overlap (YLR: its lock; YLS: one thread)
  std::atomic<bool> FClosing{false};
  // Guards FTcpClient's lifetime against a late ping notification on the ping thread.
  std::mutex FIcmpLock;
};

// A serial port as a link. The port opens on the first check; it is only ever reopened,
// never closed, by the link, so there is nothing to shut down or drop.
class TSerialLink : public TLaserLink {
public:
  // Creates the port with its line settings and number; null when the host has no serial
  // ports, and then the link is never usable.
  TSerialLink(const std::string& Settings, int Port);
  TSerialLink(const TSerialLink&) = delete;
  TSerialLink& operator=(const TSerialLink&) = delete;

  // Asks the port to open (harmless when open) and returns its active flag.
  bool Check() override;
  void Shutdown() override {}
  // The port's text write of the bytes as they are.
  int Send(const std::uint8_t* Bytes, int Count) override;
  // Listens for the whole time-out and takes everything that arrives, sleeping in the
  // port's wait while nothing does; returns at once while the port is closed.
  void Receive(int TimeoutMs, const TSink& Sink) override;
  bool DropConnection(const std::function<void()>& /*Before*/) override { return false; }

private:
  std::unique_ptr<TCommCtrl> FComm;
};

} // namespace nclaser
