// nclaser run and nclaser console: a laser from its configuration, driven through the
// operation runner, torn down in order.
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
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <optional>
#include <readline/history.h>
#include <readline/readline.h>
#include <sstream>
#include <sys/select.h>
#include <unistd.h>

namespace nclaser::cli {

namespace {

const std::atomic<bool>& GStop = StopRequested();

bool ReadFile(const std::string& Path, std::string& Out) {
  std::ifstream In(Path, std::ios::binary);
  if (!In) {
    return false;
  }
  std::ostringstream S;
  S << In.rdbuf();
  Out = S.str();
  return true;
}

// The laser, its host and the trace, from configuration to teardown.
class TSession {
public:
  TSession(TPrinter& Out) : FOut(Out) {}
  ~TSession() { TearDown(); }

  // 0, or the exit status to leave with (the message is printed). With a plug-in path the
  // laser comes from that library instead of the linked one.
  int Open(const std::string& ConfigPath, std::string Locale, const std::string& Trace,
           const std::string& Plugin, std::function<void(const hostkit::TLogLine&)> Sink = {}) {
    TConfig C;
    try {
      C = LoadConfigFile(ConfigPath);
    } catch (const EConfigError& E) {
      Error(E.what());
      return 2;
    }
    FTrace = Trace;
    FHost = MakeHost(C.Host);
    for (const auto& [Port, Device] : MissingSerialDevices(C.Host)) {
      Error("warning: serial port " + std::to_string(Port) + " is " + Device +
            ", which does not exist; the laser keeps retrying until it appears");
    }
    if (Plugin.empty()) {
      FHost->Install();
    } else {
      try {
        FPlugin = std::make_unique<hostkit::TPluginLibrary>(Plugin, *FHost);
      } catch (const std::exception& E) {
        Error(E.what());
        return 2;
      }
    }
    if (Locale.empty()) {
      Locale = DefaultLocaleFile();
    }
    if (C.Host.RealTimeGiven && FHost->RealTime) {
      // Asked for in the file: say what it got (the message log keeps the line either way).
      Error(FHost->RealTime->Decide());
    }
    if (!Locale.empty()) {
      std::string Why;
      if (!FHost->App.LoadLocale(Locale, &Why)) {
        Error(Locale + ": " + (Why.empty() ? "cannot load the locale file" : Why));
        return 2;
      }
    }
    if (!Sink) {
      Sink = [this](const hostkit::TLogLine& L) {
        if (!L.Debug) {
          FOut.Log(L);
        }
      };
    }
    FHost->App.SetSink(std::move(Sink));
    FStartMs = NowMs();
    try {
      if (FPlugin) {
        FLaser = FPlugin->NewLaser(C.ClassName, C.Params);
        FLaser->RegisterAlarms();
      } else {
        FLaser = hostkit::TLaserHandle(BuildLaser(C).release(),
                                       {[](TNcLaser* L) { TNcLaserDeleter()(L); }});
      }
    } catch (const std::exception& E) {
      Error(E.what());
      return 1;
    }
    return 0;
  }

  // From here on the laser's operations run on the runner, and SIGINT or SIGTERM switch
  // emission and laser off at once, whatever operation is running.
  // AfterStop (may be empty) runs on the signal thread right after that stop.
  void StartRunner(std::function<void()> AfterStop = {}) {
    FRunner = std::make_unique<hostkit::TOpRunner>(*FLaser);
    FSeenStops = FRunner->Stops();
    FStopAction = std::make_unique<TStopAction>([this, AfterStop] {
      StopLaser();
      if (AfterStop) {
        AfterStop();
      }
    });
  }

  // Runs Op on the runner and waits for it; a switch-on operation is dropped (false) once a
  // stop has come.
  bool Call(const std::function<void()>& Op, bool SwitchesOn) {
    return FRunner->Call(Op,
                         SwitchesOn ? hostkit::TOpRunner::TOpKind::SwitchesOn
                                    : hostkit::TOpRunner::TOpKind::Plain,
                         FSeenStops);
  }

  // Emission off and laser off before the deleter's teardown, as on an interruption; once.
  void StopLaser() {
    if (FRunner && !FStopped.exchange(true)) {
      Error("interrupted: emission off, laser off, teardown");
      try {
        FRunner->Stop(true);
      } catch (const std::exception& E) {
        Error(E.what());
      }
    }
  }

  // Returns false when the trace could not be written.
  bool TearDown() {
    FStopAction.reset(); // waits for a stop in progress
    FRunner.reset();     // the running operation ends first
    FLaser.reset();      // Destroy chain: the laser's threads are joined here
    bool Ok = true;
    if (FHost) {
      FHost->App.SetSink({});
      if (!FTrace.empty()) {
        std::ofstream F(FTrace, std::ios::binary | std::ios::trunc);
        if (F) {
          WriteVcd(F, FHost->IO.Timeline(), FHost->IO.InputsRead(), FStartMs, NowMs());
        }
        if (!F) {
          Error(FTrace + ": cannot write the trace");
          Ok = false;
        }
        FTrace.clear();
      }
      FPlugin.reset();
      FHost->Uninstall();
      FHost.reset();
    }
    return Ok;
  }

  TNcLaser& Laser() { return *FLaser; }
  hostkit::THost& Host() { return *FHost; }

private:
  TPrinter& FOut;
  std::unique_ptr<hostkit::THost> FHost;
  std::unique_ptr<hostkit::TPluginLibrary> FPlugin;
  hostkit::TLaserHandle FLaser;
  std::unique_ptr<hostkit::TOpRunner> FRunner;
  std::uint32_t FSeenStops = 0;
  std::atomic<bool> FStopped{false};
  std::unique_ptr<TStopAction> FStopAction;
  std::string FTrace;
  double FStartMs = 0;
};

} // namespace

void Error(const std::string& Text) {
  std::cerr << "nclaser: " << Text << std::endl;
}

int Interrupted() {
  return InterruptedStatus();
}

int CmdRun(TPrinter& Out, const std::string& Config, const std::string& ScriptPath,
           const std::string& Exec, const std::string& Trace, const std::string& Locale,
           const std::string& Plugin) {
  std::string Text;
  std::string Name = "-e";
  if (!ScriptPath.empty() && !Exec.empty()) {
    Error("give either SCRIPT or --exec, not both");
    return 2;
  }
  if (!ScriptPath.empty()) {
    Name = ScriptPath;
    if (!ReadFile(ScriptPath, Text)) {
      Error(ScriptPath + ": cannot read the script");
      return 2;
    }
  } else {
    Text = Exec;
  }
  const auto Ops = SplitScript(Text);
  TSession S(Out);
  if (const int Rc = S.Open(Config, Locale, Trace, Plugin)) {
    S.TearDown();
    return Rc;
  }
  TScriptRunner Runner(
      S.Laser(), S.Host(), [&](const std::string& L) { Out.Line(L); }, &GStop);
  S.StartRunner();
  int Rc = 0;
  for (const auto& Op : Ops) {
    if (GStop.load()) {
      break;
    }
    try {
      S.Call([&] { Runner.Run(Op); }, SwitchesOn(Op));
    } catch (const EScriptError& E) {
      Error(Name + ": " + E.what());
      Rc = 2;
      break;
    } catch (const std::exception& E) {
      Error(Name + ": line " + std::to_string(Op.Line) + ": " + E.what());
      Rc = 1;
      break;
    }
  }
  if (GStop.load()) {
    S.StopLaser();
    Rc = Interrupted();
  }
  if (!S.TearDown() && Rc == 0) {
    Rc = 1;
  }
  return Rc;
}

namespace {

// --- console: readline in callback mode, so alarms are polled while the user types. ---

struct TConsoleState {
  TScriptRunner* Runner = nullptr;
  TSession* Session = nullptr;
  TPrinter* Out = nullptr;
  bool Quit = false;
  std::mutex Lock;
  std::deque<std::string> Pending; // log lines from the laser's threads
  int Wake[2] = {-1, -1};
};
TConsoleState* GConsole = nullptr;

void OnConsoleLine(char* Line) {
  if (Line == nullptr) { // end of input
    rl_crlf();
    GConsole->Quit = true;
    return;
  }
  std::string Text(Line);
  std::free(Line);
  if (Text.find_first_not_of(" \t") == std::string::npos) {
    return;
  }
  add_history(Text.c_str());
  if (Text == "quit" || Text == "exit") {
    GConsole->Quit = true;
    return;
  }
  if (Text == "help") {
    std::string All;
    for (const auto& N : TScriptRunner::OperationNames()) {
      All += N + ' ';
    }
    GConsole->Out->Line("operations: " + All + "(quit to leave)");
    return;
  }
  for (auto& Op : SplitScript(Text)) {
    try {
      GConsole->Session->Call([&] { GConsole->Runner->Run(Op); }, SwitchesOn(Op));
    } catch (const std::exception& E) {
      std::string M = E.what();
      if (M.rfind("line 1: ", 0) == 0) {
        M = M.substr(8);
      }
      Error(M);
      break;
    }
  }
}

char* CompleteOp(const char* Text, int State) {
  static std::size_t I = 0;
  if (State == 0) {
    I = 0;
  }
  const auto& N = TScriptRunner::OperationNames();
  while (I < N.size()) {
    const auto& S = N[I++];
    if (S.rfind(Text, 0) == 0) {
      return strdup(S.c_str());
    }
  }
  return nullptr;
}

// Prints above the prompt without losing what the user is typing.
void PrintAbovePrompt(TPrinter& Out, const std::vector<std::string>& Lines) {
  if (Lines.empty()) {
    return;
  }
  char* Saved = rl_copy_text(0, rl_end);
  const int Point = rl_point;
  rl_save_prompt();
  rl_replace_line("", 0);
  rl_redisplay();
  for (const auto& L : Lines) {
    Out.Line(L);
  }
  rl_restore_prompt();
  rl_replace_line(Saved, 0);
  rl_point = Point;
  rl_forced_update_display();
  std::free(Saved);
}

} // namespace

int CmdConsole(TPrinter& Out, const std::string& Config, const std::string& Trace,
               const std::string& Locale, const std::string& Plugin) {
  TConsoleState St;
  St.Out = &Out;
  if (pipe(St.Wake) != 0) {
    Error("cannot create a pipe");
    return 1;
  }
  TSession S(Out);
  const int Rc0 = S.Open(Config, Locale, Trace, Plugin, [&St](const hostkit::TLogLine& L) {
    if (L.Debug) {
      return;
    }
    std::lock_guard<std::mutex> G(St.Lock);
    St.Pending.push_back(FormatLogLine(L, St.Out->Terminal()));
    const char C = 1;
    [[maybe_unused]] auto N = write(St.Wake[1], &C, 1);
  });
  auto ClosePipe = [&] {
    close(St.Wake[0]);
    close(St.Wake[1]);
  };
  if (Rc0 != 0) {
    S.TearDown();
    ClosePipe();
    return Rc0;
  }
  TScriptRunner Runner(
      S.Laser(), S.Host(), [&](const std::string& L) { Out.Line(L); }, &GStop);
  St.Runner = &Runner;
  St.Session = &S;
  // A signal also wakes the prompt's wait at once.
  S.StartRunner([&St] {
    const char C = 0;
    [[maybe_unused]] auto N = write(St.Wake[1], &C, 1);
  });
  GConsole = &St;
  TAlarmWatch Watch;
  rl_catch_signals = 0;
  rl_completion_entry_function = &CompleteOp;
  using_history();
  std::string Desc;
  S.Call([&] { Desc = S.Laser().GetDeviceDesc(); }, false);
  Out.Line("nclaser console: " + Desc + " -- operations as in a script, one per line; help, quit");
  rl_callback_handler_install("nclaser> ", &OnConsoleLine);
  double NextPoll = NowMs();
  auto DrainLog = [&] {
    std::vector<std::string> Lines;
    {
      std::lock_guard<std::mutex> G(St.Lock);
      Lines.assign(St.Pending.begin(), St.Pending.end());
      St.Pending.clear();
    }
    PrintAbovePrompt(Out, Lines);
  };
  while (!St.Quit && !GStop.load()) {
    fd_set Fds;
    FD_ZERO(&Fds);
    FD_SET(STDIN_FILENO, &Fds);
    FD_SET(St.Wake[0], &Fds);
    const double Left = std::max(0.0, NextPoll - NowMs());
    timeval Tv{};
    Tv.tv_sec = static_cast<long>(Left / 1000);
    Tv.tv_usec = static_cast<long>(std::fmod(Left, 1000.0) * 1000);
    const int N = select(std::max(STDIN_FILENO, St.Wake[0]) + 1, &Fds, nullptr, nullptr, &Tv);
    if (N > 0 && FD_ISSET(St.Wake[0], &Fds)) {
      char Buf[64];
      [[maybe_unused]] auto R = read(St.Wake[0], Buf, sizeof(Buf));
      DrainLog();
    }
    if (N > 0 && FD_ISSET(STDIN_FILENO, &Fds)) {
      rl_callback_read_char();
    }
    if (NowMs() >= NextPoll) {
      NextPoll = NowMs() + 250;
      S.Call([&] { S.Laser().UpdateAlarms(); }, false);
      PrintAbovePrompt(Out, Watch.Poll(S.Host().Alarms));
    }
  }
  rl_callback_handler_remove();
  GConsole = nullptr;
  int Rc = 0;
  if (GStop.load()) {
    rl_crlf();
    S.StopLaser();
    Rc = Interrupted();
  }
  if (!S.TearDown() && Rc == 0) {
    Rc = 1;
  }
  DrainLog();
  ClosePipe();
  return Rc;
}

} // namespace nclaser::cli
