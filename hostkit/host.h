// The stand-in host: owns the machine I/O, PWM port, alarm list, application services,
// semaphores and communication components, and lends them to the plug-in through its entry
// point. One host is bound to a plug-in at a time.
#pragma once

#include <memory>

#include "host/comm.h"
#include "hostkit/alarm_list.h"
#include "hostkit/app_system.h"
#include "hostkit/machine_io.h"
#include "hostkit/semaphores.h"
#include "hostkit/serial_port.h"
#include "plugin/plugin.h"

namespace nclaser::hostkit {

struct THostOptions {
  bool PwmPort = true;
};

class THost {
public:
  explicit THost(THostOptions Options = {});
  THost(const THost&) = delete;
  THost& operator=(const THost&) = delete;
  ~THost();

  // What the plug-in's entry point takes (valid while this host lives).
  TNcHostServices Services();

  // For programs that link the plug-in itself (its objects, or libnclaser.so at link
  // time): enters it with this host's services, as loading the package does; Uninstall
  // finalises it. Throws std::logic_error when the program has no plug-in linked or the
  // plug-in refuses. Hosts that load the plug-in with dlopen use TPluginLibrary instead.
  void Install();
  void Uninstall();
  // The table of the plug-in entered by Install; null when not installed.
  const TNcPlugin* Plugin() const { return FPlugin; }

  TMachineIO IO;
  std::unique_ptr<TVirtualPwmPort> Pwm; // null on a machine without a PWM port
  TAlarmList Alarms;
  THostAppSystem App;
  TSemaphoreTable Semaphores;
  // Serial port number -> device path, read by every serial port when it opens (fill it,
  // e.g. Host.SerialPorts->Set(1, "/dev/ttyUSB0"); the object itself stays).
  const std::shared_ptr<TSerialPortMap> SerialPorts = std::make_shared<TSerialPortMap>();
  std::unique_ptr<TCommFactory> Comm; // the Linux components unless replaced

private:
  const TNcPlugin* FPlugin = nullptr;
};

} // namespace nclaser::hostkit
