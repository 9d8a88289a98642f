#include "sim/ylr_sim.h"

#include <algorithm>

#include "params/textbuf.h"
#include "sim/table.h"

namespace nclaser::sim {

namespace {

bool IsCommand(const TSimRequest& R, const std::string& Cmd) {
  return R.Bytes.size() == Cmd.size() + 1 && std::equal(Cmd.begin(), Cmd.end(), R.Bytes.begin());
}

const bool GRegistered =
    RegisterSimFamily({"ylr",
                       "IPG YLR ASCII protocol",
                       true,
                       "127.0.0.1",
                       TYLRSim::Port,
                       [](const TSimOptions& Options) -> std::unique_ptr<TSimModel> {
                         if (!Options.empty()) {
                           throw std::invalid_argument("the ylr simulator takes no options");
                         }
                         return std::make_unique<TYLRModel>();
                       },
                       "",
                       {{"ylr", "TIPG500Laser", eltIPG, {}, [](TLaserParams& P, const TRigLink& L) {
                           auto& Y = P.CfgIPG.YLR;
                           P.CfgIPG.IPGType = L.Tcp ? ltYLRNet : ltYLRComm;
                           if (L.Tcp) {
                             (void)Utf8ToTextBuf(L.TcpHost, Y.Net.TcpHost);
                             Y.Net.TcpPort = L.TcpPort;
                           } else {
                             Y.Comm.CommPort = L.CommPort;
                           }
                         }}}});

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
