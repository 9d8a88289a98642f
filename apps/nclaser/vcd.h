// The machine I/O and PWM timeline as a VCD file (timescale 1 us) that GTKWave and
// PulseView open.
#pragma once

#include <ostream>
#include <set>
#include <vector>

#include "hostkit/machine_io.h"

namespace nclaser::cli {

// Events are times on the monotonic clock; StartMs is time 0 and EndMs the last time shown.
// Digital ports appear when they changed or (inputs) were read; every port starts at 0, as
// the host's I/O does.
void WriteVcd(std::ostream& Out, const std::vector<hostkit::TIoEvent>& Events,
              const std::set<int>& InputsRead, double StartMs, double EndMs);

} // namespace nclaser::cli
