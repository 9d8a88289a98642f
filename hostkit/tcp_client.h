// The TCP client component: a client socket with a connect time-out, a readiness wait, send
// and receive. It reports itself disconnected once the peer closes or a socket call fails,
// so a laser's link check reconnects. No SIGPIPE ever reaches the process.
//
// Threads: the owner serialises traffic; GetConnected and Disconnect may be called from any
// thread, also while another one waits in Select, ReceiveBuf or SendBuf (the wait then ends
// at once). The socket is closed only when no call is using it any more.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "host/comm.h"

namespace nclaser::hostkit {

class TTcpClient : public TKdTcpClient {
public:
  TTcpClient() = default;
  TTcpClient(const TTcpClient&) = delete;
  TTcpClient& operator=(const TTcpClient&) = delete;
  ~TTcpClient() override;

  void SetRemoteHost(const std::string& Host) override;
  void SetRemotePort(const std::string& Port) override;
  // Also notices a peer that has closed (or reset) the connection since the last call.
  bool GetConnected() override;
  // Already connected: true at once. Otherwise a fresh connect that gives up after
  // TimeoutMs (name lookup included for numeric addresses).
  bool ConnectTimeout(int TimeoutMs) override;
  // Sends every byte, waiting up to SendTimeoutMs for room; -1 (and disconnected) on error.
  int SendBuf(const void* Buffer, int Length, int Flags) override;
  // A peer that closed counts as read-ready (the next ReceiveBuf returns 0).
  bool Select(bool* ReadReady, bool* WriteReady, bool* ExceptFlag, int TimeoutMs) override;
  // Waits up to ReceiveTimeoutMs for input. 0 when the peer closed, -1 on a socket error
  // (both leave the client disconnected) or when nothing came in time (link kept).
  int ReceiveBuf(void* Buffer, int Length, int Flags) override;
  void Disconnect() override;

  void SetReceiveTimeoutMs(int Ms) { FReceiveTimeoutMs.store(Ms); }
  void SetSendTimeoutMs(int Ms) { FSendTimeoutMs.store(Ms); }
  std::string LastError() const;

private:
  struct TSocket; // closes its descriptor when the last user lets go
  std::shared_ptr<TSocket> Current();
  // Drops the connection if S is still the current one.
  void Lost(const std::shared_ptr<TSocket>& S, const std::string& Why);

  mutable std::mutex FLock;
  std::shared_ptr<TSocket> FSocket;
  std::string FHost;
  std::string FPort;
  std::string FError;
  unsigned FGeneration = 0; // bumped by Disconnect: a connect in flight then gives up
  std::atomic<bool> FConnected{false};
  std::atomic<int> FReceiveTimeoutMs{1000};
  std::atomic<int> FSendTimeoutMs{1000};
};

} // namespace nclaser::hostkit
