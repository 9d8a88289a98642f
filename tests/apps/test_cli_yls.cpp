// nclaser against the YLS simulator: the demo, and the example configuration run on a
// simulator of its own.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "sim/endpoint.h"
#include "sim/yls/yls_model.h"

namespace {

namespace fs = std::filesystem;

class CliYls : public ::testing::Test {
protected:
  void SetUp() override {
    char Tmpl[] = "/tmp/nclaser-yls-XXXXXX";
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
  int Tool(const std::string& Args) {
    const std::string Cmd = std::string(NCLASER_TOOL) + " " + Args + " </dev/null >" +
                            (Dir / "out").string() + " 2>" + (Dir / "err").string();
    const int Raw = std::system(Cmd.c_str());
    return WIFEXITED(Raw) ? WEXITSTATUS(Raw) : -1;
  }

  nclaser::sim::TSim<nclaser::sim::TYLSModel> Sim;
  fs::path Dir;
};

TEST_F(CliYls, DemoShowsTheOverheatAlarmAndItsRecovery) {
  EXPECT_EQ(Tool("demo yls"), 0) << Read(Dir / "err");
  const std::string Out = Read(Dir / "out");
  EXPECT_NE(Out.find("GetIsEmissionOn = true"), std::string::npos) << Out;
  const auto Alarm = Out.find("] alarm ");
  ASSERT_NE(Alarm, std::string::npos) << Out;
  EXPECT_NE(Out.find("YLS-2000Laser: Overheating of the laser(2_1)", Alarm), std::string::npos);
  EXPECT_NE(Out.find(" cleared", Alarm), std::string::npos) << Out;
  EXPECT_NE(Out.find("] done"), std::string::npos) << Out;
}

TEST_F(CliYls, ExampleConfigurationRunsAgainstTheSimulator) {
  // The example's own address, moved to one of this process's.
  const int Pid = static_cast<int>(::getpid());
  const std::string Address =
      "127.48." + std::to_string(Pid / 250 % 250 + 1) + "." + std::to_string(Pid % 250 + 1);
  std::string Err;
  ASSERT_TRUE(Sim.StartTcp(Address, 5100, &Err)) << Err;
  std::string Text = Read(fs::path(NCLASER_SOURCE_DIR) / "examples" / "ipg-yls-net.toml");
  const auto At = Text.find("\"127.0.0.1\"");
  ASSERT_NE(At, std::string::npos);
  Text.replace(At, 11, "\"" + Address + "\"");
  std::ofstream(Dir / "yls.toml") << Text;
  EXPECT_EQ(Tool("run " + (Dir / "yls.toml").string() +
                 " -e 'EmissionOn; wait 300; GetIsEmissionOn; GetDiodeCurrent; GetDeviceDesc'"),
            0)
      << Read(Dir / "err");
  const std::string Out = Read(Dir / "out");
  EXPECT_NE(Out.find("GetIsEmissionOn = true"), std::string::npos) << Out;
  EXPECT_NE(Out.find("GetDiodeCurrent = 40"), std::string::npos) << Out;
  EXPECT_NE(Out.find("GetDeviceDesc = IPG-YLS  SN: YLS-SIM-0042"), std::string::npos) << Out;
}

} // namespace
