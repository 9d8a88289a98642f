// Which class a record selects, and the host's defaults for a record: both read from the
// class registrations and the record schema.
#pragma once

#include "params/params.h"
#include "params/schema.h" // SubTypeOf, InitializeHostDefaults

namespace nclaser {

// The name of the default class for the record's LaserType and sub-type; null when there
// is none.
const char* DefaultClassName(const TLaserParams& Params);

} // namespace nclaser
