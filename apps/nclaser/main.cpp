// nclaser: builds one laser from a configuration file on the stand-in host, runs
// operations on it, shows what it did, and tears it down in order. This file wires the
// command line to the commands (commands.h).
#include <CLI/CLI.hpp>
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "apps/nclaser/commands.h"
#include "apps/nclaser/stop.h"
#include "hostkit/config.h"

using namespace nclaser;
using namespace nclaser::cli;

int main(int argc, char** argv) {
  CLI::App App{"nclaser: build a laser from a configuration file, run it, watch it"};
  App.require_subcommand(1);
  App.set_version_flag("--version", "nclaser " NCLASER_VERSION, "print the version and leave");
  App.fallthrough(false);

  std::string Config, Script, Exec, Trace, Locale, Family, Tcp, Plugin;
  bool List = false;
  bool Pty = false;

  auto* Run = App.add_subcommand("run", "build the laser from CONFIG, run SCRIPT, tear down");
  Run->add_option("CONFIG", Config, "configuration file (TOML)")->required();
  Run->add_option("SCRIPT", Script, "script file: one operation per line or per ';'");
  Run->add_option("-e,--exec", Exec, "the script inline (';' or newlines separate operations)");
  Run->add_option("--trace", Trace, "record the machine I/O and PWM timeline as VCD");
  Run->add_option("--locale", Locale,
                  "load message texts from an INI file (default: the shipped file of the "
                  "environment's language, else English)");
  Run->add_option("--plugin", Plugin, "take the laser classes from this plug-in (PATH.so)");

  auto* Console = App.add_subcommand("console", "the same operations typed at a prompt");
  Console->add_option("CONFIG", Config, "configuration file (TOML)")->required();
  Console->add_option("--trace", Trace, "record the machine I/O and PWM timeline as VCD");
  Console->add_option("--locale", Locale, "load message texts from an INI file");
  Console->add_option("--plugin", Plugin, "take the laser classes from this plug-in (PATH.so)");

  auto* Demo = App.add_subcommand("demo", "run a laser against its built-in simulator");
  Demo->add_option("FAMILY", Family, "the laser family (default: IPG YLR over TCP)");
  Demo->add_flag("--list", List, "name the families");
  Demo->add_option("--locale", Locale,
                   "load message texts from an INI file (default: locale/en.ini)");

  auto* Sim = App.add_subcommand("sim", "run one laser simulator until interrupted");
  Sim->add_option("FAMILY", Family, "the simulator")->required();
  auto* PtyOpt = Sim->add_flag("--pty", Pty, "listen on a pseudo-terminal (prints its path)");
  Sim->add_option("--tcp", Tcp, "listen on ADDRESS or ADDRESS:PORT (loopback)")->excludes(PtyOpt);
  std::vector<std::string> SimOptions;
  std::string SimModel;
  Sim->add_option("--model", SimModel, "the laser model the simulator plays (e.g. 1000)");
  Sim->add_option("--option", SimOptions, "a simulator option NAME=VALUE (repeatable)");

  auto* Ports = App.add_subcommand("ports", "list the serial ports of this machine");
  auto* Classes = App.add_subcommand("classes", "list the laser classes and what each reads");
  Classes->add_option("--plugin", Plugin, "list what this plug-in (PATH.so) holds");
  bool Reference = false;
  Classes->add_flag("--reference", Reference,
                    "print every configuration key with its type and default (Markdown)");

  try {
    App.parse(argc, argv);
  } catch (const CLI::ParseError& E) {
    const int Rc = App.exit(E);
    return Rc == 0 ? 0 : 2;
  }

  InstallStopSignals();
  struct TSignalsGuard {
    ~TSignalsGuard() { RemoveStopSignals(); }
  } SignalsGuard;
  TPrinter Out(std::cout, isatty(STDOUT_FILENO) == 1);
  if (Run->parsed()) {
    return CmdRun(Out, Config, Script, Exec, Trace, Locale, Plugin);
  }
  if (Console->parsed()) {
    return CmdConsole(Out, Config, Trace, Locale, Plugin);
  }
  if (Demo->parsed()) {
    return CmdDemo(Out, Family, List, Locale);
  }
  if (Sim->parsed()) {
    if (!SimModel.empty()) {
      SimOptions.push_back("model=" + SimModel);
    }
    return CmdSim(Out, Family, Pty, Tcp, SimOptions);
  }
  if (Ports->parsed()) {
    return CmdPorts(Out);
  }
  if (Classes->parsed()) {
    if (Reference) {
      std::cout << hostkit::ConfigReference();
      return 0;
    }
    return CmdClasses(Out, Plugin);
  }
  return 2;
}
