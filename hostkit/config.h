// Configuration files (TOML) for a host that links the plug-in: the laser's TLaserParams
// with the host's defaults applied first, the laser class, and the stand-in host's own
// settings ([Host]). Every key is read through the record schema (params/schema.h) and the
// class registrations; one call loads a file:
//
//   const auto C = hostkit::LoadConfigFile("laser.toml"); // throws EConfigError
//   auto Host = hostkit::MakeHost(C.Host);
//   Host->Install();
//   auto Laser = FindLaserClass(C.ClassName)->Factory(nullptr, C.Params);
//
// The loader reads the plug-in's own tables, so it is built into the programs that link
// the plug-in's objects, not into libhostkit.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "hostkit/realtime.h"
#include "params/params.h"

namespace nclaser::hostkit {

class THost;

// The [Host] section: the machine the laser is built on.
struct THostConfig {
  bool PwmPort = true;
  int PingProbePort = 0; // the ping's TCP fallback: 0 knocks on the laser's own port
  std::optional<std::vector<int>> Outputs; // unset: every port 0..255 exists
  std::optional<std::vector<int>> Inputs;
  std::map<int, std::string> SerialPorts; // serial port number -> device path
  // RealTime: "auto" by default, since precise sequences are what a user running a real
  // laser wants and a process without the right simply keeps normal scheduling.
  TRealTimeOptions RealTime{TRealTimeMode::Auto, 0, false, {}};
  bool RealTimeGiven = false; // written in the file: the host shows what it got
};

struct TConfig {
  std::string File;
  std::string ClassName; // named by Class, or the default class for LaserType
  bool ClassFromFile = false;
  TLaserParams Params;
  THostConfig Host;
};

// One configuration error: the file, the line (0 when unknown), the key and the reason.
class EConfigError : public std::runtime_error {
public:
  EConfigError(std::string File, int Line, std::string Key, std::string Reason);
  const std::string& File() const { return FFile; }
  int Line() const { return FLine; }
  const std::string& Key() const { return FKey; }
  const std::string& Reason() const { return FReason; }

private:
  std::string FFile;
  int FLine;
  std::string FKey;
  std::string FReason;
};

// Loads and validates; throws EConfigError on the first problem in file order.
TConfig LoadConfigFile(const std::string& Path);
TConfig LoadConfigText(std::string_view Text, const std::string& Name);

// The default class for the record's LaserType and sub-type. Empty when there is none;
// Why then says what is missing.
std::optional<std::string> DefaultClass(const TLaserParams& Params, std::string* Why = nullptr);

// The serial ports whose device does not exist (port number, device), in port order.
std::vector<std::pair<int, std::string>> MissingSerialDevices(const THostConfig& Config);

// Every key a configuration file may hold, with its type and the default the host gives it,
// as a Markdown page: the top level, DefParams, each member of the variant part with the
// classes that read it, and [Host]. Written from the record schema and the [Host] table,
// so it cannot drift from what the loader takes.
std::string ConfigReference();

// A host built the way the [Host] section says (not yet installed).
std::unique_ptr<THost> MakeHost(const THostConfig& Config);

} // namespace nclaser::hostkit
