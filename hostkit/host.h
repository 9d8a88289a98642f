// The stand-in host: owns the machine I/O, PWM port, alarm list, application services,
// semaphores and communication components, and lends them to the plug-in through its entry
// point. One host is bound to a plug-in at a time.
#pragma once

#include <memory>

#include "host/comm.h"
#include "hostkit/alarm_list.h"
#include "hostkit/app_system.h"
#include "hostkit/machine_io.h"
#include "hostkit/realtime.h"
#include "hostkit/semaphores.h"
#include "hostkit/serial_port.h"
#include "plugin/plugin.h"

namespace nclaser::hostkit {

struct THostOptions {
  bool PwmPort = true;
  // Where ICMP is not allowed, the ping knocks on a TCP port instead: the one the laser
  // listens on, unless this names another (a firewall may drop that one).
  int PingProbePort = 0;
};

class THost {
public:
  explicit THost(THostOptions Options = {});
  THost(const THost&) = delete;
  THost& operator=(const THost&) = delete;
  ~THost();

  // What the plug-in's entry point takes (valid while this host lives). With a real-time
  // policy, decides it first (once per host) and logs its line.
  TNcHostServices Services();

  // For programs that link the plug-in itself (its objects, or libnclaser.so at link
  // time): enters it with this host's services, as loading the package does; Uninstall
  // finalises it. Throws std::logic_error when the program has no plug-in linked or the
  // plug-in refuses. Hosts that load the plug-in with dlopen use TPluginLibrary instead.
  void Install();
  // Scheduling of the plug-in's timing-critical threads; call before Install. Without it
  // every thread is left as it is and nothing is logged; with it the policy is decided when
  // the host installs itself and one message-log line says what is in effect.
  void SetRealTime(TRealTimeOptions Options);
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
  std::unique_ptr<TCommFactory> Comm;        // the Linux components unless replaced
  std::unique_ptr<TRealTimePolicy> RealTime; // null until SetRealTime

private:
  const TNcPlugin* FPlugin = nullptr;
  bool FRealTimeLogged = false;
};

} // namespace nclaser::hostkit
