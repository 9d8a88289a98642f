// nclaser demo, sim, ports and classes: what the tool offers without a configuration file.
#include "apps/nclaser/classes.h"
#include "apps/nclaser/commands.h"
#include "apps/nclaser/config.h"
#include "apps/nclaser/demo.h"
#include "apps/nclaser/locale.h"
#include "apps/nclaser/script.h"
#include "apps/nclaser/session.h"
#include "apps/nclaser/stop.h"
#include "apps/nclaser/vcd.h"
#include "host/clock.h"
#include "hostkit/host.h"
#include "hostkit/oprunner.h"
#include "hostkit/plugin_library.h"
#include "sim/table.h"
#include <algorithm>
#include <atomic>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <libserialport.h>
#include <optional>
#include <sstream>
#include <sys/select.h>
#include <unistd.h>

namespace nclaser::cli {

namespace {

const std::atomic<bool>& GStop = StopRequested();

} // namespace

int CmdDemo(TPrinter& Out, std::string Family, bool List, std::string Locale) {
  if (List) {
    const std::string Def = DefaultDemo();
    std::size_t Width = 0;
    for (const auto& F : DemoFamilies()) {
      Width = std::max(Width, F.Name.size() + 2);
    }
    for (const auto& F : DemoFamilies()) {
      std::ostringstream L;
      L << std::left << std::setw(static_cast<int>(Width)) << F.Name << F.Summary
        << (F.Name == Def ? " (default)" : "");
      Out.Line(L.str());
    }
    return 0;
  }
  if (Family.empty()) {
    Family = DefaultDemo();
  }
  const TDemoFamily* F = FindDemo(Family);
  if (F == nullptr) {
    Error("no demo \"" + Family + "\" (nclaser demo --list names them)");
    return 2;
  }
  if (Locale.empty()) {
    Locale = DefaultLocaleFile();
  }
  TDemoContext Ctx{Out, GStop, Locale};
  const int Rc = RunDemo(*F, Ctx);
  return GStop.load() ? Interrupted() : Rc;
}

// Reads one line from standard input, waiting at most TimeoutMs; nullopt when none came,
// Eof set once the input is closed.
std::optional<std::string> ReadStdinLine(std::string& Buffer, bool& Eof, int TimeoutMs) {
  for (;;) {
    if (const auto Nl = Buffer.find('\n'); Nl != std::string::npos) {
      std::string Line = Buffer.substr(0, Nl);
      Buffer.erase(0, Nl + 1);
      return Line;
    }
    if (Eof) {
      return std::nullopt;
    }
    fd_set Set;
    FD_ZERO(&Set);
    FD_SET(STDIN_FILENO, &Set);
    timeval Tv{0, TimeoutMs * 1000};
    if (select(STDIN_FILENO + 1, &Set, nullptr, nullptr, &Tv) <= 0) {
      return std::nullopt;
    }
    char Buf[512];
    const ssize_t N = read(STDIN_FILENO, Buf, sizeof Buf);
    if (N <= 0) {
      Eof = true;
      if (!Buffer.empty()) {
        std::string Line;
        Line.swap(Buffer);
        return Line;
      }
      return std::nullopt;
    }
    Buffer.append(Buf, static_cast<std::size_t>(N));
  }
}

int CmdSim(TPrinter& Out, const std::string& Family, bool Pty, const std::string& Tcp,
           const std::vector<std::string>& Options) {
  const sim::TSimFamily* F = sim::FindSimFamily(Family);
  if (F == nullptr) {
    std::string All;
    for (const auto& S : sim::SimFamilies()) {
      All += (All.empty() ? "" : ", ") + S.Name;
    }
    Error("no simulator \"" + Family +
          "\" in this build (simulators: " + (All.empty() ? "none" : All) + ")");
    return 2;
  }
  const bool UseTcp = !Tcp.empty() || (!Pty && !F->Pty);
  if (UseTcp && F->TcpAddress.empty()) {
    Error("the " + Family + " simulator has no TCP side; use --pty");
    return 2;
  }
  if (!UseTcp && !F->Pty) {
    Error("the " + Family + " simulator has no pty side; use --tcp ADDRESS");
    return 2;
  }
  sim::TSimOptions SimOptions;
  for (const auto& O : Options) {
    const auto Eq = O.find('=');
    SimOptions[O.substr(0, Eq)] = Eq == std::string::npos ? std::string() : O.substr(Eq + 1);
  }
  std::unique_ptr<sim::TSimEndpoint> Sim;
  try {
    std::string Host = Tcp;
    int Port = F->TcpPort;
    if (const auto Colon = Host.rfind(':'); Colon != std::string::npos) {
      int P = 0;
      const char* End = Host.data() + Host.size();
      if (auto [Ptr, Ec] = std::from_chars(Host.data() + Colon + 1, End, P);
          Ec != std::errc() || Ptr != End || P <= 0 || P > 65535) {
        Error("--tcp: \"" + Tcp + "\" is not ADDRESS or ADDRESS:PORT");
        return 2;
      }
      Port = P;
      Host.resize(Colon);
    }
    sim::TSimFamily Row = *F;
    Row.TcpPort = Port;
    Sim = sim::StartSim(Row, UseTcp, Host, SimOptions);
  } catch (const std::exception& E) {
    Error(E.what());
    return 1;
  }
  Out.Line(Sim->Where());
  if (isatty(STDIN_FILENO) == 1) {
    Out.Line("type help for the faults it can show; Ctrl-C stops it");
  }
  // Fault commands come on standard input; once it is closed the simulator just runs.
  std::string Buffer;
  bool Eof = false;
  while (!GStop.load()) {
    const auto Line = ReadStdinLine(Buffer, Eof, 100);
    if (!Line) {
      if (Eof) {
        usleep(100000); // the signals come to the signal thread; look again shortly
      }
      continue;
    }
    if (*Line == "quit" || *Line == "exit") {
      break;
    }
    try {
      const std::string Reply = Sim->Command(*Line);
      std::istringstream R(Reply);
      for (std::string L; std::getline(R, L);) {
        Out.Line(L);
      }
    } catch (const std::invalid_argument& E) {
      Error(E.what());
    }
  }
  Sim.reset();
  return 0;
}

int CmdPorts(TPrinter& Out) {
  sp_port** Ports = nullptr;
  if (sp_list_ports(&Ports) != SP_OK) {
    Error("cannot list the serial ports");
    return 1;
  }
  int Count = 0;
  for (sp_port** P = Ports; *P != nullptr; ++P, ++Count) {
    const char* Desc = sp_get_port_description(*P);
    std::ostringstream L;
    L << std::left << std::setw(20) << sp_get_port_name(*P) << (Desc != nullptr ? Desc : "");
    Out.Line(L.str());
  }
  sp_free_port_list(Ports);
  if (Count == 0) {
    Out.Line("no serial ports found");
  }
  return 0;
}

int CmdClasses(TPrinter& Out, const std::string& Plugin) {
  // With a plug-in, BUILT says what that library holds.
  std::unique_ptr<hostkit::THost> Host;
  std::unique_ptr<hostkit::TPluginLibrary> Lib;
  if (!Plugin.empty()) {
    try {
      Host = std::make_unique<hostkit::THost>();
      Lib = std::make_unique<hostkit::TPluginLibrary>(Plugin, *Host);
    } catch (const std::exception& E) {
      Error(E.what());
      return 2;
    }
    Out.Line("plug-in " + Plugin + ": version " + Lib->Table().PluginVersion + ", " +
             std::to_string(Lib->Table().ClassCount) + " classes");
  }
  const auto Built = [&](const std::string& Name) {
    return Lib ? Lib->Find(Name) != nullptr : FindLaserClass(Name) != nullptr;
  };
  for (const auto& L : ClassListing(Built)) {
    Out.Line(L);
  }
  return 0;
}

} // namespace nclaser::cli
