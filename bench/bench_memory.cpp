// Resident memory per additional laser: the resident set after building 1 and then 33
// lasers of a family (against simulators in this process, built beforehand), divided by
// the 32 added. Usage: bench_memory [count] [family-filter]
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "bench/bench_common.h"
#include "bench/bench_util.h"

using namespace nclaser;
using namespace nclaser::bench;

namespace {

double ResidentKiB() {
  std::ifstream In("/proc/self/statm");
  long Size = 0;
  long Resident = 0;
  In >> Size >> Resident;
  return static_cast<double>(Resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1024.0;
}

void Family(TFamily F, int Count) {
  std::vector<std::unique_ptr<sim::TSimEndpoint>> Sims;
  std::vector<std::string> Endpoints;
  for (int I = 0; I <= Count; ++I) {
    Sims.push_back(StartSim(F, 100 + I));
    Endpoints.push_back(EndpointOf(*Sims.back()));
  }
  hostkit::THost Host;
  Host.Install();
  std::vector<TNcLaserPtr> Lasers;
  Lasers.push_back(BuildLaser(Host, F, 0, Endpoints[0]));
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  const double Before = ResidentKiB();
  for (int I = 1; I <= Count; ++I) {
    Lasers.push_back(BuildLaser(Host, F, I, Endpoints[static_cast<size_t>(I)]));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  const double Per = (ResidentKiB() - Before) / Count;
  std::printf("%-24s +%d lasers: %8.1f KiB resident per laser (simulators included)\n",
              FamilyName(F), Count, Per);
  Json("memory", std::string(FamilyName(F)) + ".per_laser", Per, "KiB");
  Lasers.clear();
}

} // namespace

int main(int argc, char** argv) {
  const int Count = argc > 1 ? std::atoi(argv[1]) : 32;
  std::printf("# resident set growth per additional laser\n");
  const std::string Filter = argc > 2 ? argv[2] : "";
  for (const TFamily F : {TFamily::YlrSerial, TFamily::YlrTcp, TFamily::Jk, TFamily::Spi,
                          TFamily::Spi1000, TFamily::YlsTcp, TFamily::RayQCW, TFamily::RaycusCW}) {
    if (std::string(FamilyName(F)).find(Filter) == std::string::npos) {
      continue;
    }
    Family(F, Count);
  }
  return 0;
}
