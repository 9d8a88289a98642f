#include "host/device.h"

namespace nclaser {

std::string TNcDevice::GetDeviceDesc() {
  return {};
}
bool TNcDevice::GetIsBusy() {
  return false;
}
void TNcDevice::Create(TComponent* AOwner) {
  FOwner = AOwner;
}
int TNcDevice::ExecCmd(const std::string& /*Name*/, TVariant& /*Value*/) {
  return 0;
}
int TNcDevice::ExecuteCmd(int /*Cmd*/, double /*Param*/) {
  return 0;
}
void TNcDevice::Stop(TNcStopReason /*AReason*/) {}
void TNcDevice::Destroy() {
  FOwner = nullptr;
}

} // namespace nclaser
