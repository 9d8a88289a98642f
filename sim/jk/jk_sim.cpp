#include "sim/jk/jk_sim.h"

#include <algorithm>
#include <stdexcept>

#include "protocols/jk.h"

namespace nclaser::sim {

namespace {

std::vector<TJKSimFrame> ToFrames(const std::vector<TSimRequest>& R) {
  std::vector<TJKSimFrame> Out;
  Out.reserve(R.size());
  for (const auto& Q : R) {
    Out.push_back({Q.TimeMs, Q.Bytes, TJKModel::CrcOk(Q.Bytes)});
  }
  return Out;
}

} // namespace

void TJKSim::Start() {
  if (Running()) {
    return;
  }
  std::string Error;
  if (!StartPty(&Error)) {
    throw std::runtime_error("JK/GSI simulator: " + Error);
  }
}

std::vector<TJKSimFrame> TJKSim::Frames() const {
  return ToFrames(Requests());
}

std::vector<TJKSimFrame> TJKSim::Commands() const {
  auto F = Frames();
  std::erase_if(F, [](const TJKSimFrame& X) { return X.FunctionCode() == jk::fcStatus; });
  return F;
}

int TJKSim::CountFunction(std::uint8_t FunctionCode) const {
  const auto F = Frames();
  return static_cast<int>(std::count_if(
      F.begin(), F.end(), [&](const TJKSimFrame& X) { return X.FunctionCode() == FunctionCode; }));
}

bool TJKSim::WaitFrames(const std::function<bool(const std::vector<TJKSimFrame>&)>& Pred,
                        int TimeoutMs) const {
  return WaitRequests([&](const std::vector<TSimRequest>& R) { return Pred(ToFrames(R)); },
                      TimeoutMs);
}

void TJKSim::SetFault(TJKFault Fault) {
  FFault = Fault;
  SetSilent(Fault == TJKFault::Silence);
  SetTruncate(Fault == TJKFault::ShortAnswers ? 3 : 0);
  SetGarbage(Fault == TJKFault::Garbage);
}

} // namespace nclaser::sim
