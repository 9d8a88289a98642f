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
  static std::string Quote(const std::string& S) {
    std::string Q = "'";
    for (const char C : S) {
      Q += C == '\'' ? std::string("'\\''") : std::string(1, C);
    }
    return Q + "'";
  }
  TResult Tool(const std::vector<std::string>& Args) {
    std::string Cmd = Quote(NCLASER_TOOL);
    for (const auto& A : Args) {
      Cmd += " " + Quote(A);
    }
    Cmd += " </dev/null >" + Quote((Dir / "out").string()) + " 2>" + Quote((Dir / "err").string());
    const int Raw = std::system(Cmd.c_str());
    return {WIFEXITED(Raw) ? WEXITSTATUS(Raw) : -1, Read(Dir / "out"), Read(Dir / "err")};
  }

  fs::path Dir;
};

const char* const Co2 = "LaserType = \"eltCO2\"\n[DefParams]\nModel = \"CO2 test\"\n"
                        "CtrlPort = 3\n[DefParams.PWM]\nFrequency = 20000\n";

TEST_F(CliTool, RunPrintsGetterLinesAndExitsZero) {
  const auto Cfg = Write("co2.toml", Co2);
  const auto R = Tool({"run", Cfg, "-e",
                       "GetIsLaserOn; LaserOn; GetIsLaserOn; GetPwmFreq; SetPwmRatio 0.5;"
                       "GetPwmRatio; GetDeviceDesc; ExecuteCmd 2102 0; alarms"});
  EXPECT_EQ(R.Status, 0) << R.Err;
  EXPECT_EQ(R.Out, "GetIsLaserOn = false\nGetIsLaserOn = true\nGetPwmFreq = 20000\n"
                   "GetPwmRatio = 0.5\nGetDeviceDesc = CO2 test\nExecuteCmd = 100\n"
                   "alarms: none\n");
  EXPECT_EQ(R.Err, "");
}

TEST_F(CliTool, ScriptFileAndTraceReadBack) {
  const auto Cfg = Write("co2.toml", Co2);
  const auto Script = Write("s.txt", "# switch on, wait, switch off\nLaserOn\nwait 50\nLaserOff\n");
  const auto Vcd = (Dir / "t.vcd").string();
  const auto R = Tool({"run", Cfg, Script, "--trace", Vcd});
  ASSERT_EQ(R.Status, 0) << R.Err;
  const auto V = nclaser::testing::ReadVcd(Read(Vcd));
  ASSERT_EQ(V.Error, "");
  EXPECT_EQ(V.Timescale, "1us");
  const auto Out3 = V.Of("out3");
  ASSERT_GE(Out3.size(), 2u);
  EXPECT_EQ(Out3[0].Value, 1.0);
  EXPECT_EQ(Out3[1].Value, 0.0);
  // The wait lies between the edges (generous bounds: a busy machine).
  EXPECT_GE(Out3[1].Time - Out3[0].Time, 45000);
  EXPECT_LT(Out3[1].Time - Out3[0].Time, 5000000);
  ASSERT_FALSE(V.Of("pwm_on").empty());
  EXPECT_EQ(V.Of("pwm_on")[0].Value, 1.0);
  EXPECT_LE(V.Of("pwm_on")[0].Time, Out3[0].Time); // the constructor started the PWM
  ASSERT_FALSE(V.Of("pwm_freq").empty());
  EXPECT_EQ(V.Of("pwm_freq")[0].Value, 20000.0);
}

TEST_F(CliTool, ConfigurationErrorsExitTwoNamingTheKey) {
  const std::pair<std::string, std::string> Cases[] = {
      {"LaserType = \"eltCO2\"\n[DefParams]\nCtrlPrt = 3\n", "DefParams.CtrlPrt"},
      {"LaserType = \"eltCO2\"\n[DefParams.PWM]\nRatio = \"full\"\n", "DefParams.PWM.Ratio"},
      {"LaserType = \"eltGSI\"\n[CfgGSI]\nAddress = 300\n", "CfgGSI.Address"},
      {"LaserType = \"eltCO2\"\n[CfgIPG]\nIPGType = \"ltYLRNet\"\n", "CfgIPG"},
      {"Class = \"TCO2Laser\"\nLaserType = \"eltIPG\"\n", "LaserType"},
  };
  for (const auto& [Text, Key] : Cases) {
    SCOPED_TRACE(Text);
    const auto Cfg = Write("bad.toml", Text);
    const auto R = Tool({"run", Cfg, "-e", "LaserOn"});
    EXPECT_EQ(R.Status, 2);
    EXPECT_NE(R.Err.find(Cfg), std::string::npos) << R.Err;
    EXPECT_NE(R.Err.find(Key), std::string::npos) << R.Err;
    EXPECT_EQ(std::count(R.Err.begin(), R.Err.end(), '\n'), 1) << R.Err; // one message
    EXPECT_EQ(R.Out, "");
  }
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
  const auto V = nclaser::testing::ReadVcd(Read(Vcd));
  ASSERT_FALSE(V.Of("out3").empty());
  EXPECT_EQ(V.Of("out3").back().Value, 0.0);
}

TEST_F(CliTool, InterruptTearsTheLaserDown) {
  const auto Cfg = Write("co2.toml", Co2);
  const auto Vcd = (Dir / "t.vcd").string();
  const pid_t Pid = fork();
  ASSERT_GE(Pid, 0);
  if (Pid == 0) {
    const int Null = open("/dev/null", O_WRONLY);
    dup2(Null, 1);
    dup2(Null, 2);
    execl(NCLASER_TOOL, "nclaser", "run", Cfg.c_str(), "-e", "LaserOn; wait 20000", "--trace",
          Vcd.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const auto T0 = std::chrono::steady_clock::now();
  kill(Pid, SIGINT);
  int Raw = 0;
  waitpid(Pid, &Raw, 0);
  EXPECT_LT(std::chrono::steady_clock::now() - T0, std::chrono::seconds(5));
  ASSERT_TRUE(WIFEXITED(Raw));
  EXPECT_EQ(WEXITSTATUS(Raw), 128 + SIGINT);
  const auto V = nclaser::testing::ReadVcd(Read(Vcd));
  ASSERT_EQ(V.Error, "");
  ASSERT_FALSE(V.Of("out3").empty());
  EXPECT_EQ(V.Of("out3").front().Value, 1.0);
  EXPECT_EQ(V.Of("out3").back().Value, 0.0);
}

TEST_F(CliTool, ConsoleRunsTypedOperationsAndSurvivesMistakes) {
  const auto Cfg = Write("co2.toml", Co2);
  const auto In = Write("in.txt", "LaserOn\nFire\nGetIsLaserOn\nSetPwmRatio much\nGetPwmRatio\n");
  const std::string Cmd = Quote(NCLASER_TOOL) + " console " + Quote(Cfg) + " <" + Quote(In) + " >" +
                          Quote((Dir / "out").string()) + " 2>" + Quote((Dir / "err").string());
  const int Raw = std::system(Cmd.c_str());
  ASSERT_TRUE(WIFEXITED(Raw));
  EXPECT_EQ(WEXITSTATUS(Raw), 0);
  const auto Out = Read(Dir / "out");
  const auto Err = Read(Dir / "err");
  EXPECT_NE(Out.find("GetIsLaserOn = true"), std::string::npos) << Out;
  EXPECT_NE(Out.find("GetPwmRatio = "), std::string::npos) << Out;
  EXPECT_NE(Err.find("unknown operation \"Fire\""), std::string::npos) << Err;
  EXPECT_NE(Err.find("bad argument \"much\""), std::string::npos) << Err;
}

TEST_F(CliTool, ClassesDemoListAndHelp) {
  auto R = Tool({"classes"});
  EXPECT_EQ(R.Status, 0);
  EXPECT_NE(R.Out.find("TIPG500Laser"), std::string::npos);
  EXPECT_NE(R.Out.find("CfgIPG"), std::string::npos);
  EXPECT_NE(R.Out.find("TYAGLaser"), std::string::npos);
  R = Tool({"demo", "--list"});
  EXPECT_EQ(R.Status, 0);
  EXPECT_NE(R.Out.find("rofin"), std::string::npos);
  EXPECT_NE(R.Out.find("(default)"), std::string::npos);
  for (const char* Cmd : {"run", "console", "demo", "sim", "ports", "classes"}) {
    R = Tool({Cmd, "--help"});
    EXPECT_EQ(R.Status, 0) << Cmd;
    EXPECT_NE(R.Out.find("Usage"), std::string::npos) << Cmd;
  }
  EXPECT_EQ(Tool({"demo", "nosuchfamily"}).Status, 2);
  EXPECT_EQ(Tool({"sim", "nosuchfamily"}).Status, 2);
}

TEST_F(CliTool, NotBuiltClassExitsOne) {
  // A class from the table that no family in this build registered.
  const auto Classes = Tool({"classes"}).Out;
  std::istringstream In(Classes);
  std::string Line;
  std::string Missing;
  while (std::getline(In, Line)) {
    std::istringstream W(Line);
    std::string Name, Reads, Built;
    W >> Name >> Reads >> Built;
    if (Built == "no") {
      Missing = Name;
      break;
    }
  }
  if (Missing.empty()) {
    GTEST_SKIP() << "every class is built";
  }
  const auto Cfg = Write("m.toml", "Class = \"" + Missing + "\"\n");
  const auto R = Tool({"run", Cfg});
  EXPECT_EQ(R.Status, 1);
  EXPECT_NE(R.Err.find("class " + Missing + " is not available in this build"), std::string::npos)
      << R.Err;
}

} // namespace

namespace {

TEST_F(CliTool, RofinDemoShowsTheFaultAsAnAlarmAndEndsWithinFifteenSeconds) {
  const auto T0 = std::chrono::steady_clock::now();
  const auto R = Tool({"demo", "rofin"});
  EXPECT_LT(std::chrono::steady_clock::now() - T0, std::chrono::seconds(15));
  EXPECT_EQ(R.Status, 0) << R.Err;
  const auto Fault = R.Out.find("inject fault");
  const auto Alarm = R.Out.find("] alarm ");
  const auto Cleared = R.Out.find(" cleared");
  ASSERT_NE(Fault, std::string::npos) << R.Out;
  ASSERT_NE(Alarm, std::string::npos) << R.Out;
  ASSERT_NE(Cleared, std::string::npos) << R.Out;
  EXPECT_LT(Fault, Alarm);
  EXPECT_LT(Alarm, Cleared);
  EXPECT_NE(R.Out.find("GetAlarmDesc = Rofin FL"), std::string::npos) << R.Out;
  EXPECT_NE(R.Out.find("GetIsEmissionOn = true"), std::string::npos) << R.Out;
  EXPECT_NE(R.Out.find("] done"), std::string::npos) << R.Out;
}

} // namespace

namespace {

TEST_F(CliTool, DefaultDemoConnectsAndShowsTheInjectedFaultsAlarm) {
  const auto T0 = std::chrono::steady_clock::now();
  const auto R = Tool({"demo"});
  EXPECT_LT(std::chrono::steady_clock::now() - T0, std::chrono::seconds(15));
  EXPECT_EQ(R.Status, 0) << R.Err;
  EXPECT_NE(R.Out.find("demo ylr:"), std::string::npos) << R.Out;
  EXPECT_NE(R.Out.find("log: Laser serial port/network connected."), std::string::npos) << R.Out;
  const auto Alarm = R.Out.find("] alarm ");
  ASSERT_NE(Alarm, std::string::npos) << R.Out;
  EXPECT_NE(R.Out.find("Overheat", Alarm), std::string::npos) << R.Out;
  EXPECT_NE(R.Out.find(" cleared", Alarm), std::string::npos) << R.Out;
}

TEST_F(CliTool, JkDemoConnectsAndShowsTheAlarmCode) {
  const auto R = Tool({"demo", "jk"});
  EXPECT_EQ(R.Status, 0) << R.Err;
  EXPECT_NE(R.Out.find("log: Laser serial port/network connected."), std::string::npos) << R.Out;
  const auto Alarm = R.Out.find("] alarm ");
  ASSERT_NE(Alarm, std::string::npos) << R.Out;
  EXPECT_NE(R.Out.find("Code: 258", Alarm), std::string::npos) << R.Out;
  EXPECT_NE(R.Out.find(" cleared", Alarm), std::string::npos) << R.Out;
  EXPECT_NE(R.Out.find("GetIsEmissionOn = true"), std::string::npos) << R.Out;
}

// The simulator prints a stable path to its pty, takes fault commands on standard input
// (answering a bad one on standard error and going on) and stops cleanly on SIGTERM.
TEST_F(CliTool, SimOnAPtyTakesFaultCommandsAndStopsOnTerm) {
  const auto Out = (Dir / "sim.out").string();
  const auto Err = (Dir / "sim.err").string();
  int In[2];
  ASSERT_EQ(pipe(In), 0);
  const pid_t Pid = fork();
  ASSERT_GE(Pid, 0);
  if (Pid == 0) {
    dup2(In[0], 0);
    close(In[1]);
    dup2(open(Out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
    dup2(open(Err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
    execl(NCLASER_TOOL, "nclaser", "sim", "jk", "--pty", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(In[0]);
  std::string Text;
  for (int I = 0; I < 100 && Text.find('\n') == std::string::npos; ++I) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    Text = Read(Out);
  }
  const std::string Path = Text.substr(0, Text.find('\n'));
  struct stat St {};
  EXPECT_EQ(stat(Path.c_str(), &St), 0) << Path;
  EXPECT_TRUE(S_ISCHR(St.st_mode)) << Path;
  const std::string Cmds = "bogus\nalarm 0102\nsilence on\nstate\n";
  ASSERT_EQ(write(In[1], Cmds.data(), Cmds.size()), static_cast<ssize_t>(Cmds.size()));
  for (int I = 0; I < 100 && Read(Out).find("requests") == std::string::npos; ++I) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  kill(Pid, SIGTERM);
  int Raw = 0;
  waitpid(Pid, &Raw, 0);
  close(In[1]);
  ASSERT_TRUE(WIFEXITED(Raw));
  EXPECT_EQ(WEXITSTATUS(Raw), 0);
  EXPECT_NE(Read(Err).find("unknown command \"bogus\""), std::string::npos) << Read(Err);
  EXPECT_NE(Read(Out).find("alarm code 258; link up"), std::string::npos) << Read(Out);
  EXPECT_FALSE(std::filesystem::exists(Path)) << Path;
}

} // namespace

// The environment's language picks the shipped locale file; restored afterwards.
class TEnv {
public:
  TEnv(const char* Name, const char* Value) : FName(Name) {
    const char* Old = std::getenv(Name);
    FHad = Old != nullptr;
    FOld = FHad ? Old : "";
    if (Value != nullptr) {
      setenv(Name, Value, 1);
    } else {
      unsetenv(Name);
    }
  }
  ~TEnv() {
    if (FHad) {
      setenv(FName.c_str(), FOld.c_str(), 1);
    } else {
      unsetenv(FName.c_str());
    }
  }

private:
  std::string FName;
  std::string FOld;
  bool FHad;
};

TEST_F(CliTool, WithoutLocaleTheEnvironmentsLanguageIsSpokenElseEnglish) {
  const auto Cfg = Write("co2.toml", Co2);
  const TEnv All("LC_ALL", nullptr);
  const TEnv Messages("LC_MESSAGES", nullptr);
  const std::pair<const char*, const char*> Cases[] = {
      {"C", "GetAlarmDesc = CO2 test laser alarm\n"},
      {"fr_FR.UTF-8", "GetAlarmDesc = CO2 test laser alarm\n"}, // no French file: English
      {"zh_CN.UTF-8", "GetAlarmDesc = CO2 test 激光器报警\n"},  // the built-in texts
  };
  for (const auto& [Lang, Out] : Cases) {
    const TEnv L("LANG", Lang);
    const auto R = Tool({"run", Cfg, "-e", "GetAlarmDesc"});
    EXPECT_EQ(R.Status, 0) << R.Err;
    EXPECT_EQ(R.Out, Out) << Lang;
  }
  // --locale still decides.
  const auto Zh = Write("zh.ini", "[Device_Strs]\nSLaserAlarm=\" 告警\"\n");
  const TEnv L("LANG", "C");
  EXPECT_EQ(Tool({"run", Cfg, "--locale", Zh, "-e", "GetAlarmDesc"}).Out,
            "GetAlarmDesc = CO2 test 告警\n");
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
  const std::vector<std::string> Script = {"-e", "LaserOn; GetIsLaserOn; GetPwmFreq; LaserOff"};
  auto Args = std::vector<std::string>{"run", Cfg};
  Args.insert(Args.end(), Script.begin(), Script.end());
  const auto Linked = Tool(Args);
  Args.insert(Args.end(), {"--plugin", NCLASER_PLUGIN_FILE});
  const auto Loaded = Tool(Args);
  EXPECT_EQ(Loaded.Status, 0) << Loaded.Err;
  EXPECT_EQ(Loaded.Out, Linked.Out);
  EXPECT_EQ(Loaded.Out, "GetIsLaserOn = true\nGetPwmFreq = 20000\n");

  auto R = Tool({"classes", "--plugin", NCLASER_PLUGIN_FILE});
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
