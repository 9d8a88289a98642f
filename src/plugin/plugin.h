// The plug-in's one entry point and the contract between it and its host.
//
// Loading. The host opens libnclaser.so.1 with dlopen (RTLD_NOW | RTLD_LOCAL), finds
// NcLaserPluginEntry with dlsym (the name is NCLASER_PLUGIN_ENTRY) and calls it with the
// interface version it was built against (NcPluginInterfaceVersion) and its services. The
// entry point refuses any other version: it returns null and writes one line saying which
// versions met into Error. The host checks the table's InterfaceVersion the same way, so
// a host of version N and a plug-in of version N+1 refuse each other whichever is newer.
//
// Ownership. The host owns its services; they must stay valid until Finalize returns. The
// plug-in owns the table and every laser: a laser made by a class's New is freed only by
// that class's Free (its Destroy chain and its memory belong to the library), never with
// delete. A laser hands the host an alarm through TNcAlarms::Add; the alarm leaves the
// host's list when its laser is freed.
//
// Threads. The entry point and Finalize run on the host's main thread while no other call
// into the plug-in is running. New and Free may come from any host thread. A laser's
// operations come from the host's threads as TNcLaser says; the laser's own threads call
// the host's services from theirs (each service header says what it must allow).
//
// Unloading. Before dlclose the host frees every laser and calls Finalize once for every
// successful entry call. The last Finalize unregisters the plug-in's locale procedure,
// waits until every thread the plug-in started has ended and forgets the services; after
// it returns no code of the library runs, so dlclose is safe. The library may then be
// loaded again and entered afresh.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/alarms.h"
#include "host/appsys.h"
#include "host/comm.h"
#include "host/io.h"
#include "host/sched.h"
#include "host/sync.h"
#include "lasers/laser.h"
#include "params/params.h"
#include "params/schema.h"

#define NCLASER_PLUGIN_ENTRY "NcLaserPluginEntry"

namespace nclaser {

// Changes whenever anything in this header or in the headers it includes changes in a way
// that a host built against the old one would misread.
constexpr std::uint32_t NcPluginInterfaceVersion = 1;

// What the host lends the plug-in. Every pointer but PwmPort, Comm and Scheduler is
// required.
struct TNcHostServices {
  TNcOutputGroup* Outputs;
  TNcInputGroup* Inputs;
  TNcDAGroup* DA;
  TNcPwmPort* PwmPort; // null on a machine without a PWM port
  TNcAlarms* Alarms;
  TAppSystem* App;
  TSemaphoreApi* Semaphores;
  TCommFactory* Comm; // null: no serial, TCP or ping (the lasers that need them fail to build)
  TThreadScheduler* Scheduler; // null: the plug-in's threads run as they are
};

// Which records a class is selected by. SubTypes is a bit set:
// - eltIPG: bit N for TIPGLaserType N (CfgIPG.IPGType);
// - eltRay: bit N for TRayLaserType N (CfgRay.RayType): ltRayCW selects TRaycusLaser,
//   ltRayWCW TRayQCWLaser;
// - any other LaserType: NcSubTypeAny when the LaserType alone selects the class;
// - 0: the class is never a default; the host names it (a second class of a LaserType,
//   and the classes that read DefParams only, whose LaserType is eltNone).
constexpr std::uint32_t NcSubTypeAny = SubTypeAny;

struct TNcPluginClass {
  const char* Name;         // the class's name, T...Laser
  const char* ConfigMember; // "CfgIPG"; "DefParams" for the classes reading nothing else
  TEnumLaserType LaserType; // the LaserType whose member the class reads (eltNone: any)
  std::uint32_t SubTypes;
  // Builds the laser (Create, and on failure its Destroy chain, so nothing is left
  // running). Returns null on failure with the laser's message in Error (always
  // terminated, cut to ErrorSize). AParams is only read during the call.
  TNcLaser* (*New)(const TNcPluginClass* Self, TComponent* AOwner, const TLaserParams* AParams,
                   char* Error, std::size_t ErrorSize);
  // Runs the laser's Destroy chain (its threads are stopped and joined) and frees it.
  void (*Free)(TNcLaser* Laser);
};

struct TNcPlugin {
  std::uint32_t InterfaceVersion; // first, so that any host can read it
  const char* PluginVersion;      // "1.0.0"
  std::size_t ClassCount;
  const TNcPluginClass* Classes; // sorted by name; valid until the last Finalize
  // The host's defaults for a record: TLaserParams::Initialize, then Initialize of
  // DefParams.PWM, DefParams.DA and of the member LaserType selects.
  void (*InitializeParams)(TLaserParams* Params, TEnumLaserType LaserType);
  // The class a record selects by its LaserType and sub-type, or null.
  const TNcPluginClass* (*DefaultClass)(const TLaserParams* Params);
  void (*Finalize)();
};

} // namespace nclaser

extern "C" {

using TNcPluginEntry = const nclaser::TNcPlugin* (*)(std::uint32_t InterfaceVersion,
                                                     const nclaser::TNcHostServices* Services,
                                                     char* Error, std::size_t ErrorSize);

// The only symbol the library exports. Calls after the first (a second dlopen of the same
// library, or two hosts in one process) must pass the same services; each successful call
// is matched by one Finalize.
__attribute__((visibility("default"))) const nclaser::TNcPlugin*
NcLaserPluginEntry(std::uint32_t InterfaceVersion, const nclaser::TNcHostServices* Services,
                   char* Error, std::size_t ErrorSize);
}
