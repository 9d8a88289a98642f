// nclaser run against the YLR simulator over a pty and over TCP: what reaches the wire and
// what the getters print.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "sim/ylr_sim.h"

namespace {

namespace fs = std::filesystem;

// Over TCP: the serial side of the configuration is what the JK demo test goes through.
class CliYlr : public ::testing::Test {
protected:
  void SetUp() override {
    char Tmpl[] = "/tmp/nclaser-ylr-XXXXXX";
    ASSERT_NE(mkdtemp(Tmpl), nullptr);
    Dir = Tmpl;
  }
  void TearDown() override {
    Sim.Stop();
    fs::remove_all(Dir);
  }
  static std::string Read(const fs::path& P) {
    std::ifstream In(P);
    std::ostringstream S;
    S << In.rdbuf();
    return S.str();
  }
  // Starts the simulator and writes a configuration that reaches it.
  std::string Config() {
    std::string Err;
    std::string Text = "Class = \"TIPG500Laser\"\n[DefParams]\nModel = \"YLR-500\"\n"
                       "CtrlPort = 3\n[DefParams.PWM]\nDiodeCurrent = 50.0\n"
                       "[CfgIPG]\nMaxCurrent = 100.0\n";
    const int Pid = static_cast<int>(::getpid());
    const std::string Address =
        "127.47." + std::to_string(Pid / 250 % 250 + 1) + "." + std::to_string(Pid % 250 + 1);
    EXPECT_TRUE(Sim.StartTcp(Address, 10001, &Err)) << Err;
    Text += "IPGType = \"ltYLRNet\"\n[CfgIPG.YLR.Comm]\nIgnoreCommResult = false\n"
            "[CfgIPG.YLR.Net]\nTcpHost = \"" +
            Address + "\"\nTcpPort = 10001\n";
    const auto P = (Dir / "ylr.toml").string();
    std::ofstream(P) << Text;
    return P;
  }
  int Tool(const std::string& Cfg, const std::string& Script) {
    const std::string Cmd = std::string(NCLASER_TOOL) + " run " + Cfg + " -e '" + Script +
                            "' </dev/null >" + (Dir / "out").string() + " 2>" +
                            (Dir / "err").string();
    const int Raw = std::system(Cmd.c_str());
    return WIFEXITED(Raw) ? WEXITSTATUS(Raw) : -1;
  }

  nclaser::sim::TYLRSim Sim;
  fs::path Dir;
};

TEST_F(CliYlr, ScriptReachesTheLaserAndGettersAnswer) {
  const auto Cfg = Config();
  const int Rc = Tool(Cfg, "LaserOn; EmissionOn; wait 300; SetDiodeCurrent 75; wait 300;"
                           "GetIsLaserOn; GetIsEmissionOn; GetDeviceDesc; SetAimingOn true; "
                           "wait 200; ExecuteCmd 2102 0");
  EXPECT_EQ(Rc, 0) << Read(Dir / "err");
  const std::string Out = Read(Dir / "out");
  EXPECT_NE(Out.find("log: "), std::string::npos) << Out; // the connection is logged
  EXPECT_NE(Out.find("GetIsLaserOn = true\n"), std::string::npos) << Out;
  EXPECT_NE(Out.find("GetIsEmissionOn = true\n"), std::string::npos) << Out;
  EXPECT_NE(Out.find("ExecuteCmd = 100\n"), std::string::npos) << Out;
  const auto Cmds = Sim.Commands();
  auto At = [&](const std::string& C) { return std::find(Cmds.begin(), Cmds.end(), C); };
  ASSERT_NE(At("EMON"), Cmds.end());
  ASSERT_NE(At("SDC 75"), Cmds.end());
  EXPECT_LT(At("EMON"), At("SDC 75"));
  EXPECT_NE(At("ABN"), Cmds.end());
  // Teardown switched emission off after everything the script asked for.
  ASSERT_NE(At("EMOFF"), Cmds.end());
  EXPECT_GT(std::find(Cmds.rbegin(), Cmds.rend(), "EMOFF").base(), At("SDC 75"));
}

} // namespace
