// Which class a record selects, as data the plug-in's table hands to hosts, and the host's
// defaults for a record.
#pragma once

#include <cstdint>
#include <string_view>

#include "params/params.h"

namespace nclaser {

// The sub-type bits of a class (see TNcPluginClass::SubTypes); 0 when the class is never
// a default.
std::uint32_t DefaultSubTypes(std::string_view ClassName);

// The sub-type bit a record has under its LaserType.
std::uint32_t SubTypeOf(const TLaserParams& Params);

// The default class for the record's LaserType and sub-type; null when there is none.
const char* DefaultClassName(const TLaserParams& Params);

// TLaserParams::Initialize, then Initialize of DefParams.PWM, DefParams.DA and of the
// member that LaserType selects; LaserType is set.
void InitializeHostDefaults(TLaserParams& Params, TEnumLaserType LaserType);

} // namespace nclaser
