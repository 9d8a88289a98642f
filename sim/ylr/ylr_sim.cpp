#include "sim/ylr/ylr_sim.h"

#include <algorithm>

namespace nclaser::sim {

namespace {

bool IsCommand(const TSimRequest& R, const std::string& Cmd) {
  return R.Bytes.size() == Cmd.size() + 1 && std::equal(Cmd.begin(), Cmd.end(), R.Bytes.begin());
}

} // namespace

std::vector<std::string> TYLRSim::Commands() const {
  std::vector<std::string> Out;
  for (const auto& R : Requests()) {
    Out.push_back(ToText(std::span(R.Bytes).first(R.Bytes.size() - 1)));
  }
  return Out;
}

int TYLRSim::CountCommand(const std::string& Cmd) const {
  const auto R = Requests();
  return static_cast<int>(
      std::count_if(R.begin(), R.end(), [&](const TSimRequest& Q) { return IsCommand(Q, Cmd); }));
}

bool TYLRSim::WaitForCommand(const std::string& Cmd, int TimeoutMs, int Count) const {
  return WaitRequests(
      [&](const std::vector<TSimRequest>& R) {
        return std::count_if(R.begin(), R.end(),
                             [&](const TSimRequest& Q) { return IsCommand(Q, Cmd); }) >= Count;
      },
      TimeoutMs);
}

} // namespace nclaser::sim
