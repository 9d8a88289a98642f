#include "hostkit/comm_factory.h"

#include "hostkit/icmp_client.h"
#include "hostkit/tcp_client.h"

namespace nclaser::hostkit {

std::unique_ptr<TCommCtrl> TLinuxCommFactory::NewCommCtrl() {
  return std::make_unique<TSerialPort>(FSerialPorts);
}

std::unique_ptr<TKdTcpClient> TLinuxCommFactory::NewTcpClient() {
  return std::make_unique<TTcpClient>();
}

std::unique_ptr<TIcmpClient> TLinuxCommFactory::NewIcmpClient() {
  return std::make_unique<TPingClient>(nullptr, FApp, FPingProbePort);
}

} // namespace nclaser::hostkit
