// The ping client: ICMP echo through a raw socket (root or CAP_NET_RAW) or an unprivileged
// ICMP datagram socket (allowed when net.ipv4.ping_group_range holds the caller's group),
// whichever this system allows; else a TCP reachability probe, where a connection that is
// accepted or actively refused both mean the host answered. IPv4 only, as laser addresses
// are.
//
// Threads: Ping and PingAsync may be called from any thread. Each asynchronous ping runs
// on a thread of its own, which calls OnTimeout or OnError (as they were when PingAsync was
// called); the destructor waits for pending pings.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/appsys.h"
#include "host/comm.h"

namespace nclaser::hostkit {

enum class TPingMethod { RawIcmp, DatagramIcmp, TcpProbe };
enum class TPingResult { Answered, NoAnswer, Failed };

const char* PingMethodName(TPingMethod Method);

// One way of asking a host whether it is there. Probe may run on several threads at once.
class TPingProber {
public:
  virtual ~TPingProber() = default;
  // Failed when the question could not be asked (unknown host, no route, socket error).
  virtual TPingResult Probe(const std::string& Host, int TimeoutMs) const = 0;
  virtual std::string Describe() const = 0;
  // The TCP port a reachability probe knocks on; the ICMP methods have none. Safe while
  // probes run.
  virtual void SetPort(int /*Port*/) {}
};

// Null when the method is not allowed for this process. The TCP probe knocks on ProbePort
// (echo, until the owner names the port its device listens on).
std::unique_ptr<TPingProber> NewPingProber(TPingMethod Method, int ProbePort = 7);
// The first method allowed: raw ICMP, datagram ICMP, TCP probe.
std::unique_ptr<TPingProber> NewBestPingProber();

class TPingClient : public TIcmpClient {
public:
  // Without a prober the best allowed method is used; one debug line to App names it. A
  // fixed probe port (the host's configuration) wins over the one the owner names.
  explicit TPingClient(std::unique_ptr<TPingProber> Prober = nullptr, TAppSystem* App = nullptr,
                       int FixedProbePort = 0);
  TPingClient(const TPingClient&) = delete;
  TPingClient& operator=(const TPingClient&) = delete;
  ~TPingClient() override;

  void SetHost(const std::string& Host) override;
  void SetTimeout(int TimeoutMs) override;
  // An empty Host means the client's own host, a time-out of 0 or less its own time-out.
  bool Ping(const std::string& Host, int TimeoutMs) override;
  void PingAsync(const std::string& Host, int TimeoutMs) override;
  void SetProbePort(int Port) override;

  const TPingProber& Prober() const { return *FProber; }
  // Asynchronous pings started and not yet finished.
  int Pending() const;

private:
  struct TJob {
    std::thread Thread;
    std::shared_ptr<std::atomic<bool>> Done;
  };
  void Resolve(std::string& Host, int& TimeoutMs) const;
  void ReapFinished();

  std::unique_ptr<TPingProber> FProber;
  const int FFixedProbePort;
  mutable std::mutex FLock;
  std::string FHost;
  int FTimeoutMs = 1000;
  std::vector<TJob> FJobs;
};

} // namespace nclaser::hostkit
