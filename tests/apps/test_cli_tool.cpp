// The built nclaser program run as a subprocess: exit statuses, messages, output, trace.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/apps/vcd_reader.h"

namespace {

namespace fs = std::filesystem;
using nclaser::testing::VcdChanges;

struct TResult {
  int Status;
  std::string Out;
  std::string Err;
};

class CliTool : public ::testing::Test {
protected:
  void SetUp() override {
    char Tmpl[] = "/tmp/nclaser-tool-XXXXXX";
    ASSERT_NE(mkdtemp(Tmpl), nullptr);
    Dir = Tmpl;
  }
  void TearDown() override { fs::remove_all(Dir); }

  std::string Write(const std::string& Name, const std::string& Text) {
    const auto P = (Dir / Name).string();
    std::ofstream(P) << Text;
    return P;
  }
  static std::string Read(const fs::path& P) {
    std::ifstream In(P);
    std::ostringstream S;
    S << In.rdbuf();
    return S.str();
  }
  // Starts the tool with standard input from In (-1: none), the environment changed by Env
  // (a null value unsets) and the output into Dir/out and Dir/err.
  using TEnv = std::vector<std::pair<const char*, const char*>>;
  pid_t Spawn(const std::vector<std::string>& Args, int In, const TEnv& Env = {}) {
    const pid_t Pid = fork();
    if (Pid == 0) {
      for (const auto& [Name, Value] : Env) {
        Value != nullptr ? setenv(Name, Value, 1) : unsetenv(Name);
      }
      dup2(In >= 0 ? In : open("/dev/null", O_RDONLY), 0);
      dup2(open((Dir / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
      dup2(open((Dir / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
      std::vector<char*> Argv{const_cast<char*>("nclaser")};
      for (const auto& A : Args) {
        Argv.push_back(const_cast<char*>(A.c_str()));
      }
      Argv.push_back(nullptr);
      execv(NCLASER_TOOL, Argv.data());
      _exit(127);
    }
    return Pid;
  }
  // Runs the tool to its end; -1 as the status when it did not exit.
  TResult Tool(const std::vector<std::string>& Args, const std::string& Stdin = "/dev/null",
               const TEnv& Env = {}) {
    const int In = open(Stdin.c_str(), O_RDONLY);
    int Raw = 0;
    waitpid(Spawn(Args, In, Env), &Raw, 0);
    close(In);
    return {WIFEXITED(Raw) ? WEXITSTATUS(Raw) : -1, Read(Dir / "out"), Read(Dir / "err")};
  }

  fs::path Dir;
};

const char* const Co2 = "LaserType = \"eltCO2\"\n[DefParams]\nModel = \"CO2 test\"\n"
                        "CtrlPort = 3\n[DefParams.PWM]\nFrequency = 20000\n";

TEST_F(CliTool, RunPrintsGetterLinesAndTracesTheOutputs) {
  const auto Cfg = Write("co2.toml", Co2);
  const auto Script =
      Write("s.txt", "# switch on, wait, switch off\nGetIsLaserOn; LaserOn\n"
                     "GetIsLaserOn; GetPwmFreq; SetPwmRatio 0.5; GetPwmRatio\n"
                     "GetDeviceDesc; ExecuteCmd 2102 0; alarms\nwait 50\nLaserOff\n");
  const auto Vcd = (Dir / "t.vcd").string();
  const auto R = Tool({"run", Cfg, Script, "--trace", Vcd});
  ASSERT_EQ(R.Status, 0) << R.Err;
  EXPECT_EQ(R.Out, "GetIsLaserOn = false\nGetIsLaserOn = true\nGetPwmFreq = 20000\n"
                   "GetPwmRatio = 0.5\nGetDeviceDesc = CO2 test\nExecuteCmd = 100\n"
                   "alarms: none\n");
  EXPECT_EQ(R.Err, "");
  const std::string V = Read(Vcd);
  EXPECT_NE(V.find("$timescale 1us $end"), std::string::npos) << V;
  const auto Out3 = VcdChanges(V, "out3");
  ASSERT_EQ(Out3.size(), 2u) << V;
  EXPECT_EQ(Out3[0].second, 1.0);
  EXPECT_EQ(Out3[1].second, 0.0);
  // The wait lies between the edges (generous bounds: a busy machine).
  EXPECT_GE(Out3[1].first - Out3[0].first, 45000);
  EXPECT_LT(Out3[1].first - Out3[0].first, 5000000);
  const auto PwmOn = VcdChanges(V, "pwm_on");
  ASSERT_FALSE(PwmOn.empty()) << V;
  EXPECT_EQ(PwmOn[0].second, 1.0);
  EXPECT_LE(PwmOn[0].first, Out3[0].first); // the constructor started the PWM
  ASSERT_FALSE(VcdChanges(V, "pwm_freq").empty()) << V;
  EXPECT_EQ(VcdChanges(V, "pwm_freq")[0].second, 20000.0);
}

// The tool's side of a refusal (status 2, one line naming file and key); which refusals
// there are is the configuration loader's business.
TEST_F(CliTool, ConfigurationErrorsExitTwoNamingTheKey) {
  const auto Cfg = Write("bad.toml", "LaserType = \"eltCO2\"\n[DefParams]\nCtrlPrt = 3\n");
  const auto R = Tool({"run", Cfg, "-e", "LaserOn"});
  EXPECT_EQ(R.Status, 2);
  EXPECT_NE(R.Err.find(Cfg), std::string::npos) << R.Err;
  EXPECT_NE(R.Err.find("DefParams.CtrlPrt"), std::string::npos) << R.Err;
  EXPECT_EQ(std::count(R.Err.begin(), R.Err.end(), '\n'), 1) << R.Err; // one message
  EXPECT_EQ(R.Out, "");
  EXPECT_EQ(Tool({"run", (Dir / "missing.toml").string()}).Status, 2);
  EXPECT_EQ(Tool({"run"}).Status, 2); // usage error
}

TEST_F(CliTool, ConstructorRefusalExitsOneWithItsText) {
  const auto Cfg = Write("nopwm.toml", std::string(Co2) + "[Host]\nPwmPort = false\n");
  const auto R = Tool({"run", Cfg, "-e", "LaserOn"});
  EXPECT_EQ(R.Status, 1);
  EXPECT_NE(R.Err.find("LaserPwmPort Error Message"), std::string::npos) << R.Err;
}

TEST_F(CliTool, UnknownOperationStopsTheScriptAfterTearDown) {
  const auto Cfg = Write("co2.toml", Co2);
  const auto Vcd = (Dir / "t.vcd").string();
  const auto R =
      Tool({"run", Cfg, "-e", "LaserOn; GetIsLaserOn; Fire; GetIsLaserOn", "--trace", Vcd});
  EXPECT_EQ(R.Status, 2);
  EXPECT_EQ(R.Out, "GetIsLaserOn = true\n"); // nothing after the bad operation ran
  EXPECT_NE(R.Err.find("unknown operation \"Fire\""), std::string::npos) << R.Err;
  // Torn down in order: the laser's output went off again before the trace was closed.
  const auto Out3 = VcdChanges(Read(Vcd), "out3");
  ASSERT_FALSE(Out3.empty());
  EXPECT_EQ(Out3.back().second, 0.0);
}

TEST_F(CliTool, InterruptTearsTheLaserDown) {
  const auto Cfg = Write("co2.toml", Co2);
  const auto Vcd = (Dir / "t.vcd").string();
  const pid_t Pid = Spawn({"run", Cfg, "-e", "LaserOn; wait 20000", "--trace", Vcd}, -1);
  ASSERT_GE(Pid, 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const auto T0 = std::chrono::steady_clock::now();
  kill(Pid, SIGINT);
  int Raw = 0;
  waitpid(Pid, &Raw, 0);
  EXPECT_LT(std::chrono::steady_clock::now() - T0, std::chrono::seconds(5));
  ASSERT_TRUE(WIFEXITED(Raw));
  EXPECT_EQ(WEXITSTATUS(Raw), 128 + SIGINT);
  const auto Out3 = VcdChanges(Read(Vcd), "out3");
  ASSERT_FALSE(Out3.empty());
  EXPECT_EQ(Out3.front().second, 1.0);
  EXPECT_EQ(Out3.back().second, 0.0);
}

// A signal does not wait for the operation in progress (the NLight's EmissionOn waits 3.5 s
// for its power supply, here on a port that never opens): the tool stops the laser, tears
// it down and leaves at once; a second signal during the tear-down is answered, not obeyed.
TEST_F(CliTool, SignalStopsTheLaserWhileAnOperationBlocks) {
  const auto Cfg = Write("nl.toml", "LaserType = \"CfgNLight\"\n[CfgNLight.Comm]\nCommPort = 1\n"
                                    "[Host.SerialPorts]\n1 = \"" +
                                        (Dir / "none").string() + "\"\n");
  for (const int Sig : {SIGINT, SIGTERM}) {
    const pid_t Pid = Spawn({"run", Cfg, "-e", "EmissionOn; EmissionOn; wait 20000"}, -1);
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    const auto T0 = std::chrono::steady_clock::now();
    kill(Pid, Sig);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    kill(Pid, Sig);
    int Raw = 0;
    waitpid(Pid, &Raw, 0);
    EXPECT_LT(std::chrono::steady_clock::now() - T0, std::chrono::milliseconds(2000));
    ASSERT_TRUE(WIFEXITED(Raw));
    EXPECT_EQ(WEXITSTATUS(Raw), 128 + Sig);
    const std::string Err = Read(Dir / "err");
    EXPECT_NE(Err.find("interrupted: emission off, laser off, teardown"), std::string::npos) << Err;
    EXPECT_NE(Err.find("tear-down in progress"), std::string::npos) << Err;
  }
}

TEST_F(CliTool, ConsoleRunsTypedOperationsAndSurvivesMistakes) {
  const auto Cfg = Write("co2.toml", Co2);
  const auto In = Write("in.txt", "LaserOn\nFire\nGetIsLaserOn\nSetPwmRatio much\nGetPwmRatio\n");
  const auto R = Tool({"console", Cfg}, In);
  EXPECT_EQ(R.Status, 0);
  EXPECT_NE(R.Out.find("GetIsLaserOn = true"), std::string::npos) << R.Out;
  EXPECT_NE(R.Out.find("GetPwmRatio = "), std::string::npos) << R.Out;
  EXPECT_NE(R.Err.find("unknown operation \"Fire\""), std::string::npos) << R.Err;
  EXPECT_NE(R.Err.find("bad argument \"much\""), std::string::npos) << R.Err;
}

TEST_F(CliTool, ClassesDemoListAndHelp) {
  auto R = Tool({"classes"});
  EXPECT_EQ(R.Status, 0);
  EXPECT_NE(R.Out.find("TIPG500Laser"), std::string::npos);
  EXPECT_NE(R.Out.find("CfgIPG"), std::string::npos);
  EXPECT_NE(R.Out.find("TYAGLaser"), std::string::npos);
  R = Tool({"demo", "--list"});
  EXPECT_EQ(R.Status, 0);
  EXPECT_NE(R.Out.find("rofin "), std::string::npos);
  EXPECT_NE(R.Out.find("raycus-qcw  Raycus"), std::string::npos) << R.Out; // the longest name
  EXPECT_NE(R.Out.find("(default)"), std::string::npos);
  for (const char* Cmd : {"run", "console", "demo", "sim", "ports", "classes"}) {
    R = Tool({Cmd, "--help"});
    EXPECT_EQ(R.Status, 0) << Cmd;
    EXPECT_NE(R.Out.find("Usage"), std::string::npos) << Cmd;
  }
  EXPECT_EQ(Tool({"demo", "nosuchfamily"}).Status, 2);
  EXPECT_EQ(Tool({"sim", "nosuchfamily"}).Status, 2);
}

// Each demo connects, injects its fault, shows the alarm and its clearing in that order,
// and ends in time.
TEST_F(CliTool, DemosShowTheInjectedFaultsAlarmAndEndWithinFifteenSeconds) {
  struct TCase {
    std::vector<std::string> Args;
    std::vector<std::string> InOrder;
    std::vector<std::string> Anywhere;
  };
  const std::string Connected = "log: Laser serial port/network connected.";
  const TCase Cases[] = {
      {{"demo"}, {"] alarm ", "Overheat", " cleared"}, {"demo ylr:", Connected}},
      {{"demo", "jk"},
       {"] alarm ", "Code: 258", " cleared"},
       {Connected, "GetIsEmissionOn = true"}},
      {{"demo", "rofin"},
       {"inject fault", "] alarm ", " cleared"},
       {"GetAlarmDesc = Rofin FL", "GetIsEmissionOn = true", "] done"}},
      {{"demo", "spi"}, {"] alarm ", " cleared"}, {Connected}},
      {{"demo", "spi1000"}, {"] alarm ", " cleared"}, {Connected}},
      {{"demo", "yls"},
       {"] alarm ", "YLS-2000Laser: Overheating of the laser(2_1)", " cleared"},
       {"GetIsEmissionOn = true"}},
      {{"demo", "raycus-qcw"}, {"] alarm ", "Interlock state fault", " cleared"}, {}},
      {{"demo", "mars"}, {"] alarm ", "RerId laser alarm Des: Fault", " cleared"}, {Connected}},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Args.back());
    const auto T0 = std::chrono::steady_clock::now();
    const auto R = Tool(C.Args);
    EXPECT_LT(std::chrono::steady_clock::now() - T0, std::chrono::seconds(15));
    EXPECT_EQ(R.Status, 0) << R.Err;
    size_t At = 0;
    for (const auto& S : C.InOrder) {
      At = R.Out.find(S, At);
      ASSERT_NE(At, std::string::npos) << S << " in order in\n" << R.Out;
    }
    for (const auto& S : C.Anywhere) {
      EXPECT_NE(R.Out.find(S), std::string::npos) << S << " in\n" << R.Out;
    }
  }
}

// The simulator prints a stable path to its pty, takes fault commands on standard input
// (answering a bad one on standard error and going on) and stops cleanly on SIGTERM.
TEST_F(CliTool, SimOnAPtyTakesFaultCommandsAndStopsOnTerm) {
  int In[2];
  ASSERT_EQ(pipe(In), 0);
  const pid_t Pid = Spawn({"sim", "jk", "--pty"}, In[0]);
  ASSERT_GE(Pid, 0);
  close(In[0]);
  std::string Text;
  for (int I = 0; I < 100 && Text.find('\n') == std::string::npos; ++I) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    Text = Read(Dir / "out");
  }
  const std::string Path = Text.substr(0, Text.find('\n'));
  struct stat St {};
  EXPECT_EQ(stat(Path.c_str(), &St), 0) << Path;
  EXPECT_TRUE(S_ISCHR(St.st_mode)) << Path;
  const std::string Cmds = "bogus\nalarm 0102\nsilence on\nstate\n";
  ASSERT_EQ(write(In[1], Cmds.data(), Cmds.size()), static_cast<ssize_t>(Cmds.size()));
  for (int I = 0; I < 100 && Read(Dir / "out").find("requests") == std::string::npos; ++I) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  kill(Pid, SIGTERM);
  int Raw = 0;
  waitpid(Pid, &Raw, 0);
  close(In[1]);
  ASSERT_TRUE(WIFEXITED(Raw));
  EXPECT_EQ(WEXITSTATUS(Raw), 0);
  EXPECT_NE(Read(Dir / "err").find("unknown command \"bogus\""), std::string::npos);
  EXPECT_NE(Read(Dir / "out").find("alarm code 258; link up"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(Path)) << Path;
}

} // namespace

TEST_F(CliTool, WithoutLocaleTheEnvironmentsLanguageIsSpokenElseEnglish) {
  const auto Cfg = Write("co2.toml", Co2);
  const auto Zh = Write("zh.ini", "[Device_Strs]\nSLaserAlarm=\" 告警\"\n");
  const std::vector<std::string> Run = {"run", Cfg, "-e", "GetAlarmDesc"};
  auto WithLocale = Run;
  WithLocale.insert(WithLocale.end(), {"--locale", Zh}); // --locale still decides
  const struct {
    const char* Lang;
    std::vector<std::string> Args;
    const char* Out;
  } Cases[] = {
      {"fr_FR.UTF-8", Run, "GetAlarmDesc = CO2 test laser alarm\n"}, // no French file: English
      {"zh_CN.UTF-8", Run, "GetAlarmDesc = CO2 test 激光器报警\n"},  // the built-in texts
      {"C", WithLocale, "GetAlarmDesc = CO2 test 告警\n"},
  };
  for (const auto& C : Cases) {
    const auto R = Tool(C.Args, "/dev/null",
                        {{"LC_ALL", nullptr}, {"LC_MESSAGES", nullptr}, {"LANG", C.Lang}});
    EXPECT_EQ(R.Status, 0) << R.Err;
    EXPECT_EQ(R.Out, C.Out) << C.Lang;
  }
}

TEST_F(CliTool, AMissingSerialDeviceIsNamedOnceAtStartAndTheLaserStillRuns) {
  const auto Cfg = Write("ylr.toml", "LaserType = \"eltIPG\"\n[CfgIPG]\nIPGType = \"ltYLRComm\"\n"
                                     "[CfgIPG.YLR.Comm]\nCommPort = 1\n"
                                     "[Host.SerialPorts]\n1 = \"/dev/does-not-exist\"\n");
  const auto R = Tool({"run", Cfg, "-e", "wait 300; GetIsEmissionOn"});
  EXPECT_EQ(R.Status, 0) << R.Err;
  EXPECT_NE(R.Out.find("GetIsEmissionOn = false\n"), std::string::npos) << R.Out;
  EXPECT_EQ(R.Err, "nclaser: warning: serial port 1 is /dev/does-not-exist, which does not "
                   "exist; the laser keeps retrying until it appears\n");
}

TEST_F(CliTool, PluginOptionTakesTheLasersFromTheLoadedLibrary) {
  const auto Cfg = Write("co2.toml", Co2);
  auto R = Tool({"run", Cfg, "-e", "LaserOn; GetIsLaserOn; GetPwmFreq; LaserOff", "--plugin",
                 NCLASER_PLUGIN_FILE});
  EXPECT_EQ(R.Status, 0) << R.Err;
  EXPECT_EQ(R.Out, "GetIsLaserOn = true\nGetPwmFreq = 20000\n");

  R = Tool({"classes", "--plugin", NCLASER_PLUGIN_FILE});
  EXPECT_EQ(R.Status, 0) << R.Err;
  EXPECT_EQ(R.Out.rfind(std::string("plug-in ") + NCLASER_PLUGIN_FILE + ": version 1.0.0, ", 0), 0U)
      << R.Out;
  EXPECT_EQ(R.Out.substr(R.Out.find('\n') + 1), Tool({"classes"}).Out);

  R = Tool({"run", Cfg, "-e", "LaserOn", "--plugin", (Dir / "co2.toml").string()});
  EXPECT_EQ(R.Status, 2);
  EXPECT_EQ(std::count(R.Err.begin(), R.Err.end(), '\n'), 1) << R.Err;
  EXPECT_EQ(R.Out, "");

  R = Tool({"--version"});
  EXPECT_EQ(R.Status, 0);
  EXPECT_EQ(R.Out, "nclaser 1.0.0\n");
}
