// Script operations: parsing the text and running each operation on a laser and its host.
#pragma once

#include <atomic>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace nclaser {
class TNcLaser;
namespace hostkit {
class THost;
}
} // namespace nclaser

namespace nclaser::cli {

// One operation as written: its words and the line it stands on.
struct TOpText {
  std::vector<std::string> Words;
  int Line;
};

// Splits a script into operations: one per line or per ';'; '#' starts a comment.
std::vector<TOpText> SplitScript(std::string_view Text);

// Whether the operation may switch emission, the laser or a power-on step on (a stop
// drops it): LaserOn, LaserOnPrepare, EmissionOn, PowerOn, ExecCmd (a make's own command)
// and ExecuteCmd other than the switch-offs 0, 2, 3 and 4.
bool SwitchesOn(const TOpText& Op);

// An unknown operation or a bad argument.
class EScriptError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Numbers in the shortest form that reads back to the same double, with a point
// ("100.0", "0.25", "1e+300").
std::string FormatNumber(double Value);

// Runs operations on one laser. Output lines go to Print; Stop (when given) cuts `wait`
// short.
class TScriptRunner {
public:
  TScriptRunner(TNcLaser& Laser, hostkit::THost& Host,
                std::function<void(const std::string&)> Print,
                const std::atomic<bool>* Stop = nullptr);
  // Checks the operation and its arguments, then runs it; throws EScriptError before
  // touching the laser when either is wrong.
  void Run(const TOpText& Op);

  // The names of every operation, for completion and help.
  static const std::vector<std::string>& OperationNames();

private:
  TNcLaser& FLaser;
  hostkit::THost& FHost;
  std::function<void(const std::string&)> FPrint;
  const std::atomic<bool>* FStop;
};

} // namespace nclaser::cli
