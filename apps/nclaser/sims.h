// `nclaser sim`: the laser simulators the tool can run on their own.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace nclaser::cli {

// A running simulator; destroying it stops it.
class TRunningSim {
public:
  virtual ~TRunningSim() = default;
  // The pty path or the listening address, as printed for the user.
  virtual std::string Where() const = 0;
};

struct TSimFamily {
  std::string Name;
  std::string Summary;
  bool Pty = false;       // offers a pty
  std::string TcpDefault; // the default listening address; empty when there is no TCP side
  // Tcp: false for a pty; Address: empty for the default. Throws std::runtime_error.
  std::function<std::unique_ptr<TRunningSim>(bool Tcp, const std::string& Address)> Start;
};

void RegisterSim(TSimFamily Family);
const std::vector<TSimFamily>& SimFamilies();
const TSimFamily* FindSim(const std::string& Name);

} // namespace nclaser::cli
