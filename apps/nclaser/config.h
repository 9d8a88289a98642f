// Configuration files (TOML): the laser's TLaserParams with the host's defaults applied
// first, the laser class, and the stand-in host's own settings.
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
}

namespace nclaser::cli {

// The [Host] section: the machine the laser is built on.
struct THostConfig {
  bool PwmPort = true;
  int PingProbePort = 0; // the ping's TCP fallback: 0 knocks on the laser's own port
  std::optional<std::vector<int>> Outputs; // unset: every port 0..255 exists
  std::optional<std::vector<int>> Inputs;
  std::map<int, std::string> SerialPorts; // serial port number -> device path
  // RealTime: "auto" by default, since precise sequences are what a user running a real
  // laser wants and a process without the right simply keeps normal scheduling.
  hostkit::TRealTimeOptions RealTime{hostkit::TRealTimeMode::Auto, 0, false, {}};
  bool RealTimeGiven = false; // written in the file: the tool shows what it got
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

// The record's defaults as the host gives them: TLaserParams::Initialize, then the PWM and
// DA records' Initialize and that of the member LaserType selects.
void InitializeDefaults(TLaserParams& Params, TEnumLaserType LaserType);

// The serial ports whose device does not exist (port number, device), in port order.
std::vector<std::pair<int, std::string>> MissingSerialDevices(const THostConfig& Config);

// A host built the way the [Host] section says (not yet installed).
std::unique_ptr<hostkit::THost> MakeHost(const THostConfig& Config);

} // namespace nclaser::cli
