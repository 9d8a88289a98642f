// What every command shares: printing (log lines in colour on a terminal), building the
// laser from a configuration, watching the host's alarm list.
#pragma once

#include <map>
#include <mutex>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "apps/nclaser/config.h"
#include "hostkit/alarm_list.h"
#include "hostkit/app_system.h"
#include "lasers/factory.h"

namespace nclaser::cli {

// "log: TEXT"; on a terminal coloured by the line's 0x00BBGGRR colour (black stays the
// terminal's own colour) and prominent lines in bold reverse video. Off a terminal a
// prominent line ends in " [prominent]".
std::string FormatLogLine(const hostkit::TLogLine& Line, bool Terminal);

// Serialises lines from the host's thread and the lasers' threads.
class TPrinter {
public:
  TPrinter(std::ostream& Out, bool Terminal) : FOut(Out), FTerminal(Terminal) {}
  void Line(const std::string& Text);
  void Log(const hostkit::TLogLine& L) { Line(FormatLogLine(L, FTerminal)); }
  bool Terminal() const { return FTerminal; }

private:
  std::mutex FLock;
  std::ostream& FOut;
  bool FTerminal;
};

// The laser cannot be built: its class is not in this build or its constructor refused the
// configuration (what() is the exception text).
class EBuildError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Builds Config's class on the installed host, then registers its alarms as a host does.
TNcLaserPtr BuildLaser(const TConfig& Config);

// Reports alarms as they appear ("alarm ID: TEXT") and clear ("alarm ID cleared").
class TAlarmWatch {
public:
  std::vector<std::string> Poll(hostkit::TAlarmList& Alarms);

private:
  std::map<int, std::string> FShown;
};

} // namespace nclaser::cli
