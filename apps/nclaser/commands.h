// The tool's commands, one function each; main.cpp wires them to the command line.
#pragma once

#include <string>
#include <vector>

#include "apps/nclaser/session.h"

namespace nclaser::cli {

// "nclaser: TEXT" on standard error.
void Error(const std::string& Text);
// The exit status of a command cut short by SIGINT or SIGTERM: 128 + the signal.
int Interrupted();

// Builds the laser from Config, runs the script (a file, or Exec), tears down.
int CmdRun(TPrinter& Out, const std::string& Config, const std::string& ScriptPath,
           const std::string& Exec, const std::string& Trace, const std::string& Locale,
           const std::string& Plugin);
// The same operations at a prompt, with the alarms shown as they come and go.
int CmdConsole(TPrinter& Out, const std::string& Config, const std::string& Trace,
               const std::string& Locale, const std::string& Plugin);
int CmdDemo(TPrinter& Out, std::string Family, bool List, std::string Locale);
int CmdSim(TPrinter& Out, const std::string& Family, bool Pty, const std::string& Tcp,
           const std::vector<std::string>& Options);
int CmdPorts(TPrinter& Out);
int CmdClasses(TPrinter& Out, const std::string& Plugin);

} // namespace nclaser::cli
