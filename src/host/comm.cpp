#include "host/comm.h"

namespace nclaser {

TCommFactory* CommFactory = nullptr;

std::unique_ptr<TCommCtrl> NewCommCtrl() {
  return CommFactory != nullptr ? CommFactory->NewCommCtrl() : nullptr;
}

std::unique_ptr<TKdTcpClient> NewTcpClient() {
  return CommFactory != nullptr ? CommFactory->NewTcpClient() : nullptr;
}

std::unique_ptr<TIcmpClient> NewIcmpClient() {
  return CommFactory != nullptr ? CommFactory->NewIcmpClient() : nullptr;
}

} // namespace nclaser
