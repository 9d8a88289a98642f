#include "apps/nclaser/session.h"

#include <cstdio>

#include "host/types.h"

namespace nclaser::cli {

std::string FormatLogLine(const hostkit::TLogLine& Line, bool Terminal) {
  const bool Prominent = Line.MessageType == mtProminent;
  if (!Terminal) {
    return "log: " + Line.Text + (Prominent ? " [prominent]" : "");
  }
  std::string S = "log: ";
  if (Prominent) {
    S += "\x1b[1;7m";
  }
  if (Line.Color != clBlack) {
    char Buf[32];
    std::snprintf(Buf, sizeof(Buf), "\x1b[38;2;%u;%u;%um", Line.Color & 0xFFu,
                  (Line.Color >> 8) & 0xFFu, (Line.Color >> 16) & 0xFFu);
    S += Buf;
  }
  S += Line.Text;
  if (Prominent || Line.Color != clBlack) {
    S += "\x1b[0m";
  }
  return S;
}

void TPrinter::Line(const std::string& Text) {
  std::lock_guard<std::mutex> L(FLock);
  FOut << Text << '\n';
  FOut.flush();
}

TNcLaserPtr BuildLaser(const TConfig& Config) {
  const TLaserClassInfo* Info = FindLaserClass(Config.ClassName);
  if (Info == nullptr) {
    throw EBuildError("unknown laser class " + Config.ClassName + " (nclaser classes lists them)");
  }
  TNcLaserPtr Laser;
  try {
    Laser = Info->Factory(nullptr, Config.Params);
  } catch (const std::exception& E) {
    throw EBuildError(E.what());
  }
  Laser->RegisterAlarms();
  return Laser;
}

std::vector<std::string> TAlarmWatch::Poll(hostkit::TAlarmList& Alarms) {
  std::vector<std::string> Out;
  std::map<int, std::string> Now;
  for (const auto& V : Alarms.Active()) {
    Now[V.ID] = V.Desc;
    const auto It = FShown.find(V.ID);
    if (It == FShown.end() || It->second != V.Desc) {
      Out.push_back("alarm " + std::to_string(V.ID) + ": " + V.Desc);
    }
  }
  for (const auto& [Id, Desc] : FShown) {
    if (Now.count(Id) == 0) {
      Out.push_back("alarm " + std::to_string(Id) + " cleared");
    }
  }
  FShown = std::move(Now);
  return Out;
}

} // namespace nclaser::cli
