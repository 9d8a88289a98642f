// The stand-in host's communication components on Linux: serial ports on ttys (through the
// host's port map), TCP clients and ping clients.
#pragma once

#include <memory>

#include "host/appsys.h"
#include "host/comm.h"
#include "hostkit/serial_port.h"

namespace nclaser::hostkit {

class TLinuxCommFactory : public TCommFactory {
public:
  // Debug lines of the components (the ping method) go to App when given. PingProbePort:
  // the port the ping's TCP fallback knocks on whatever the laser names (0: the laser's
  // own).
  explicit TLinuxCommFactory(std::shared_ptr<const TSerialPortMap> SerialPorts,
                             TAppSystem* App = nullptr, int PingProbePort = 0)
      : FSerialPorts(std::move(SerialPorts)), FApp(App), FPingProbePort(PingProbePort) {}

  std::unique_ptr<TCommCtrl> NewCommCtrl() override;
  std::unique_ptr<TKdTcpClient> NewTcpClient() override;
  std::unique_ptr<TIcmpClient> NewIcmpClient() override;

private:
  std::shared_ptr<const TSerialPortMap> FSerialPorts;
  TAppSystem* FApp;
  int FPingProbePort;
};

} // namespace nclaser::hostkit
