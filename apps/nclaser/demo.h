// `nclaser demo`: one short scenario per laser family, run against the family's simulator
// (or, for the I/O lasers, the machine I/O acting as the laser's wiring).
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "apps/nclaser/config.h"
#include "apps/nclaser/session.h"
#include "sim/endpoint.h"
#include "sim/table.h"

namespace nclaser::cli {

struct TDemoContext {
  TPrinter& Out;
  const std::atomic<bool>& Stop;
  std::string Locale; // an INI locale file to load; empty for the built-in texts
};

// A family's part of the scenario: its configuration, how to bring its simulator up (and
// down), how to break the laser and how to mend it. The scenario itself is shared.
struct TDemoSetup {
  TConfig Config;
  std::function<void()> Stop; // stops the simulator; may be empty
  std::function<void(hostkit::THost&)> InjectFault;
  std::function<void(hostkit::THost&)> Recover;
  // Holds once the laser's own start-up after EmissionOn is over (a power-on thread that
  // sets the configured current last); the demo changes the current only then. May be empty.
  std::function<bool()> StartupDone;
  std::string FaultText;   // what the injected fault is, for the step line
  bool RaisesAlarm = true; // false: the family has no alarm for the fault; none is awaited
  double Power = 60.0;     // the power change, percent
};

struct TDemoFamily {
  std::string Name;
  std::string Summary;
  // Starts the simulator (if any) and returns the setup; throws std::runtime_error when it
  // cannot start.
  std::function<TDemoSetup()> Prepare;
};

// What the simulator demos share: the class and record of the simulator table's rig Rig
// against the running Sim (serial port 1 on its pty, or its TCP address), the laser's model
// name, control output 3 and 40 % at the start; the demo stops Sim. Name is the demo's.
TDemoSetup DemoSetup(const std::string& Name, const std::string& Rig,
                     const std::shared_ptr<sim::TSimEndpoint>& Sim, const char* Model);

// Starts the demo's simulator on a pty (Address empty) or on Address at the TCP port of the
// simulator table's row Family; throws std::runtime_error when it cannot start.
template <class Sim, class... A>
std::shared_ptr<Sim> StartDemoSim(const std::string& Address, const std::string& Family,
                                  A&&... Args) {
  auto P = std::make_shared<Sim>(std::forward<A>(Args)...);
  std::string Err;
  if (Address.empty() ? !P->StartPty(&Err)
                      : !P->StartTcp(Address, sim::FindSimFamily(Family)->TcpPort, &Err)) {
    throw std::runtime_error(Err);
  }
  return P;
}

// The fault of a class that reads no alarm for it: the port is unplugged, and the thread
// reopens it once it is back.
void UnplugFault(TDemoSetup& S, const std::shared_ptr<sim::TSimEndpoint>& Sim);

void RegisterDemo(TDemoFamily Family);
const std::vector<TDemoFamily>& DemoFamilies();
const TDemoFamily* FindDemo(const std::string& Name);
// The family `nclaser demo` runs without a name.
std::string DefaultDemo();

// The shared scenario: power on, emission on, a power change, the fault and its alarm,
// recovery, emission off, teardown. Returns the exit status.
int RunDemo(const TDemoFamily& Family, TDemoContext& Ctx);

} // namespace nclaser::cli
