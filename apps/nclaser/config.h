// The tool's configuration files are hostkit's (hostkit/config.h); these names keep the
// tool's code short.
#pragma once

#include "hostkit/config.h"
#include "plugin/select.h"

namespace nclaser::cli {

using hostkit::DefaultClass;
using hostkit::EConfigError;
using hostkit::LoadConfigFile;
using hostkit::LoadConfigText;
using hostkit::MakeHost;
using hostkit::MissingSerialDevices;
using hostkit::TConfig;
using hostkit::THostConfig;

inline void InitializeDefaults(TLaserParams& Params, TEnumLaserType LaserType) {
  InitializeHostDefaults(Params, LaserType);
}

} // namespace nclaser::cli
