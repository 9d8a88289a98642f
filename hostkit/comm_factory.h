// The stand-in host's communication components on Linux: serial ports on ttys (through the
// host's port map), TCP clients and ping clients.
#pragma once

#include <memory>

#include "host/comm.h"
#include "hostkit/serial_port.h"

namespace nclaser::hostkit {

class TLinuxCommFactory : public TCommFactory {
public:
  explicit TLinuxCommFactory(std::shared_ptr<const TSerialPortMap> SerialPorts)
      : FSerialPorts(std::move(SerialPorts)) {}

  std::unique_ptr<TCommCtrl> NewCommCtrl() override;
  std::unique_ptr<TKdTcpClient> NewTcpClient() override;
  std::unique_ptr<TIcmpClient> NewIcmpClient() override;

private:
  std::shared_ptr<const TSerialPortMap> FSerialPorts;
};

} // namespace nclaser::hostkit
